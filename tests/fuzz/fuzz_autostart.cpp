// Arbitrary output and mode names, rates and folders into the login-entry
// writer: whatever it accepts must read back, by the Desktop Entry rules, as
// exactly the intended command; whatever it refuses must leave nothing behind.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "../desktop_exec.h"
#include "x11_autostart.h"

namespace fs = std::filesystem;

namespace {

void Check(bool ok)
{
    if (!ok) std::abort();
}

const fs::path& Root()
{
    static const fs::path root = [] {
        const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        const fs::path r = base / ("tavrimo-fuzz-" + std::to_string(getpid()));
        fs::create_directories(r);
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(Root(), ec);
        });
        return r;
    }();
    return root;
}

// Splits the input at NUL bytes into at most n fields.
std::vector<std::string> Fields(const uint8_t* data, size_t size, size_t n)
{
    std::vector<std::string> out(n);
    size_t k = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && k + 1 < n) {
            ++k;
            continue;
        }
        out[k] += static_cast<char>(data[i]);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto f = Fields(data, size, 4);
    const double rate = std::strtod(f[2].c_str(), nullptr);
    const std::vector<std::string> argv = XrandrArgs(f[0], f[1], rate);

    const auto value = DesktopExecValue(argv);
    if (value) {
        Check(value->find_first_of("\n\r") == std::string::npos);
        Check(ParseDesktopExec(*value) == argv);
    }

    // A folder below the scratch root, named by the input but never outside it.
    std::string name;
    for (const char c : f[3].substr(0, 40))
        name += (c == '/' || c == '\0' || c == '.') ? '_' : c;
    const fs::path dir = Root() / ("d" + name) / "autostart";
    std::string error;
    const bool written = WriteAutostartEntry(dir.string(), argv, &error);
    Check(written == value.has_value() || !error.empty());
    if (written) {
        std::ifstream in(dir / kAutostartFileName, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        const auto exec = DesktopEntryValue(text.str(), "Exec");
        Check(exec.has_value() && ParseDesktopExec(*exec) == argv);
    }
    std::error_code ec;
    if (fs::exists(dir, ec))
        for (const auto& e : fs::directory_iterator(dir, ec))
            Check(e.path().filename() == kAutostartFileName);
    fs::remove_all(Root() / ("d" + name), ec);
    return 0;
}
