#include "xdg_paths.h"

#include <cerrno>
#include <cstdlib>

#include <cstring>

#include <fcntl.h>
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

// Writes all of data to fd, riding over short writes and interruptions.
bool WriteAll(int fd, const std::string& data)
{
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

// Creates path and its missing parents, private to the user.
bool MakeDirs(const std::string& path)
{
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/') continue;
        const std::string prefix = path.substr(0, pos);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { Close(); }
    int get() const { return fd_; }
    bool Close()
    {
        if (fd_ < 0) return true;
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0;
    }

private:
    int fd_;
};

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

bool ReplaceFile(const std::string& dir, const std::string& name, const std::string& content,
                 std::string* error, FileMode mode)
{
    const auto fail = [error](const std::string& what) {
        if (error != nullptr) *error = what;
        return false;
    };
    if (dir.empty() || dir[0] != '/') return fail("no home folder for " + name);
    if (!MakeDirs(dir)) return fail(dir + ": " + std::strerror(errno));
    const std::string target = dir + "/" + name;
    // The permissions and owner of the regular file there now, where they are kept.
    struct stat before {};
    const bool keep = mode == FileMode::KeepExisting && ::lstat(target.c_str(), &before) == 0 &&
                      S_ISREG(before.st_mode);
    std::string temp = dir + "/." + name + ".XXXXXX";
    Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0) return fail(dir + ": " + std::strerror(errno));
    const bool owned = !keep || (before.st_uid == ::geteuid() && before.st_gid == ::getegid()) ||
                       ::fchown(fd.get(), before.st_uid, before.st_gid) == 0;
    // The file is replaced by rename only: a symlink at target is replaced,
    // never written through, and the earlier file survives any failure here.
    const bool ok = owned && ::fchmod(fd.get(), keep ? before.st_mode & 07777 : 0644) == 0 &&
                    WriteAll(fd.get(), content) && ::fsync(fd.get()) == 0 && fd.Close() &&
                    ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        const int saved = errno;
        ::unlink(temp.c_str());
        return fail(target + ": " + std::strerror(saved));
    }
    if (Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dirFd.get() >= 0)
        ::fsync(dirFd.get());
    return true;
}
