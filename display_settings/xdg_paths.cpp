#include "xdg_paths.h"

#include <cerrno>
#include <cstdlib>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool IsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

std::string HomeDir()
{
    if (const char* home = std::getenv("HOME"); IsAbsolute(home))
        return home;
    struct passwd pw {};
    struct passwd* found = nullptr;
    char buf[4096];
    if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found != nullptr &&
        IsAbsolute(found->pw_dir))
        return found->pw_dir;
    return {};
}

}  // namespace

std::string ConfigHome()
{
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); IsAbsolute(xdg)) {
        base = xdg;
    } else {
        const std::string home = HomeDir();
        if (home.empty()) return {};
        base = home + "/.config";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base;
}

std::string AutostartDir()
{
    const std::string base = ConfigHome();
    return base.empty() ? base : base + "/autostart";
}

bool RemoveLoginEntry()
{
    const std::string dir = AutostartDir();
    if (dir.empty()) return true;
    const std::string path = dir + "/" + kAutostartFileName;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISREG(st.st_mode)) return false;
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}
