// Writes the program's images, decoded, as a C++ header: the window then makes
// them from its own read-only data, and Qt never lists the image format
// plugins installed to find a reader for them.
// Usage: qt_image_header OUT.h NAME=IMAGE...
#include <QImage>

#include <cstdio>
#include <string>

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUT.h NAME=IMAGE...\n", argv[0]);
        return 2;
    }
    std::string text =
        "// Generated from the program's images when it is built.\n#pragma once\n\n"
        "#include <cstdint>\n\n"
        "struct OwnImage {\n    int width;\n    int height;\n"
        "    // width * height pixels, row by row, as QImage::Format_ARGB32 holds them.\n"
        "    const std::uint32_t* pixels;\n};\n";
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const size_t equals = arg.find('=');
        if (equals == std::string::npos || equals == 0) {
            std::fprintf(stderr, "%s: not NAME=IMAGE: %s\n", argv[0], arg.c_str());
            return 2;
        }
        const std::string name = arg.substr(0, equals);
        const QImage image =
            QImage(QString::fromStdString(arg.substr(equals + 1))).convertToFormat(QImage::Format_ARGB32);
        if (image.isNull()) {
            std::fprintf(stderr, "%s: cannot read %s\n", argv[0], arg.c_str() + equals + 1);
            return 1;
        }
        text += "\ninline constexpr std::uint32_t " + name + "Pixels[] = {";
        for (int y = 0; y < image.height(); ++y) {
            const auto* row = reinterpret_cast<const quint32*>(image.constScanLine(y));
            text += "\n   ";
            for (int x = 0; x < image.width(); ++x) {
                char pixel[16];
                std::snprintf(pixel, sizeof pixel, " 0x%08x,", static_cast<unsigned>(row[x]));
                text += pixel;
            }
        }
        text += "\n};\ninline constexpr OwnImage " + name + "{" + std::to_string(image.width()) +
                ", " + std::to_string(image.height()) + ", " + name + "Pixels};\n";
    }
    std::FILE* out = std::fopen(argv[1], "w");
    bool written = out != nullptr && std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (out != nullptr && std::fclose(out) != 0) written = false;
    if (!written) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
