#include "x11_autostart.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "tavrimo_version.h"
#include "x11_mode_store.h"

namespace {

// True when s is well-formed UTF-8 (no overlongs, no surrogates).
bool IsUtf8(const std::string& s)
{
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        const unsigned c = *p;
        int extra = 0;
        unsigned min = 0;
        unsigned cp = 0;
        if (c < 0x80) { ++p; continue; }
        if ((c & 0xE0) == 0xC0) { extra = 1; min = 0x80; cp = c & 0x1F; }
        else if ((c & 0xF0) == 0xE0) { extra = 2; min = 0x800; cp = c & 0x0F; }
        else if ((c & 0xF8) == 0xF0) { extra = 3; min = 0x10000; cp = c & 0x07; }
        else return false;
        if (end - p <= extra) return false;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        p += extra + 1;
    }
    return true;
}

bool NeedsQuoting(const std::string& arg)
{
    return arg.empty() || arg.find_first_of(" \t\n\r\"'\\><~|&;$*?#()`") != std::string::npos;
}

}  // namespace

std::optional<std::string> DesktopExecValue(const std::vector<std::string>& argv)
{
    // First the Exec rules: quote what holds a reserved character, escaping
    // the four characters that stay special inside quotes, and double '%'.
    std::string line;
    for (const std::string& arg : argv) {
        if (!IsUtf8(arg)) return std::nullopt;
        if (!line.empty()) line += ' ';
        const bool quote = NeedsQuoting(arg);
        if (quote) line += '"';
        for (const char c : arg) {
            const auto u = static_cast<unsigned char>(c);
            if ((u < 0x20 && c != '\t' && c != '\n' && c != '\r') || u == 0x7F)
                return std::nullopt;
            if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) line += '\\';
            if (c == '%') line += '%';
            line += c;
        }
        if (quote) line += '"';
    }
    // Then the string escapes, which a reader undoes before the Exec rules.
    std::string value;
    for (const char c : line) {
        switch (c) {
        case '\\': value += "\\\\"; break;
        case '\n': value += "\\n"; break;
        case '\t': value += "\\t"; break;
        case '\r': value += "\\r"; break;
        default: value += c;
        }
    }
    return value;
}

std::string FormatRate(double hz, const std::vector<double>& others)
{
    if (!std::isfinite(hz) || hz < 0) hz = 0;
    char buf[400];  // the largest double, in full, with nine decimals
    std::string text = "0.00";
    for (int decimals = 2; decimals <= 9; ++decimals) {
        const auto result =
            std::to_chars(buf, buf + sizeof buf, hz, std::chars_format::fixed, decimals);
        if (result.ec != std::errc()) return text;
        text.assign(buf, result.ptr);
        double named = 0;
        std::from_chars(buf, result.ptr, named);
        const double own = std::fabs(named - hz);
        if (std::all_of(others.begin(), others.end(),
                        [&](double other) { return own < std::fabs(named - other); }))
            break;
    }
    return text;
}

std::vector<std::string> XrandrArgs(const std::string& output, const std::string& modeName,
                                    double hz, const std::vector<double>& others)
{
    return {"xrandr", "--output", output, "--mode", modeName, "--rate", FormatRate(hz, others)};
}

bool WriteAutostartEntry(const std::string& dir, const std::vector<std::string>& argv,
                         std::string* error)
{
    const auto fail = [error](const std::string& what) {
        if (error != nullptr) *error = what;
        return false;
    };
    const std::optional<std::string> exec = DesktopExecValue(argv);
    if (!exec) return fail("the command cannot be written as a desktop entry");
    if (dir.empty() || dir[0] != '/') return fail("no home folder for the autostart entry");

    const std::string content =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Version=1.4\n"
        "Name=Tavrimo display mode\n"
        "Name[zh_TW]=Tavrimo 顯示模式\n"
        "Comment=Restores the display mode chosen in Tavrimo\n"
        "Comment[zh_TW]=恢復在 Tavrimo 中選定的顯示模式\n"
        "Exec=" + *exec + "\n"
        "TryExec=xrandr\n"
        "NoDisplay=true\n"
        "X-Tavrimo-Version=" TAVRIMO_VERSION "\n";

    return ReplaceFile(dir, kAutostartFileName, content, error);
}

namespace {

class LoginEntry final : public X11ModeStore {
public:
    bool Save(const X11Layout& layout, std::string* error) override
    {
        return WriteAutostartEntry(AutostartDir(), layout.loginCommand, error);
    }
};

}  // namespace

std::unique_ptr<X11ModeStore> LoginEntryStore() { return std::make_unique<LoginEntry>(); }
