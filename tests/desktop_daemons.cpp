#include "desktop_daemons.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

template <class F>
bool WaitUntil(F ready, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!ready()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::string PrivateDir(const std::string& path)
{
    fs::create_directories(path);
    chmod(path.c_str(), 0700);
    return path;
}

// Ends the process group of pid with sig, then SIGKILL if it lingers.
void StopWith(pid_t pid, int sig)
{
    if (pid <= 0) return;
    if (kill(-pid, sig) != 0) kill(pid, sig);
    if (!WaitUntil([&] { return waitpid(pid, nullptr, WNOHANG) == pid; }, 5000)) {
        kill(-pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    kill(-pid, SIGKILL);  // what it started in its group goes with it
}

constexpr const char* kXfconfd = "/usr/lib/x86_64-linux-gnu/xfce4/xfconf/xfconfd";

}  // namespace

DesktopDaemon::DesktopDaemon(const XServer& x, std::string busName, int stopSignal)
    : x_(x), busName_(std::move(busName)), stopSignal_(stopSignal)
{
    runtime_ = PrivateDir(dir_.Path() + "/run");
    config_ = PrivateDir(dir_.Path() + "/config");
}

DesktopDaemon::~DesktopDaemon() { Stop(); }

std::vector<std::string> DesktopDaemon::ClientEnv() const
{
    return {x_.DisplayEnv(), "DBUS_SESSION_BUS_ADDRESS=" + bus_.Address(),
            "XDG_RUNTIME_DIR=" + runtime_, "XDG_CONFIG_HOME=" + config_};
}

void DesktopDaemon::Use() const { UseEnv(ClientEnv()); }

std::string DesktopDaemon::Log() const { return ReadFile(dir_.Path() + "/daemon.log"); }

bool DesktopDaemon::Start()
{
    if (!x_.Running() || !bus_.Running()) return false;
    std::vector<std::string> env = ClientEnv();
    // Nothing of the desktop but the daemon itself: no file-system or
    // accessibility services started on the bus for it.
    env.insert(env.end(), {"GIO_USE_VFS=local", "NO_AT_BRIDGE=1", "HOME=" + dir_.Path()});
    for (const std::string& e : ExtraEnv()) env.push_back(e);
    std::ofstream(dir_.Path() + "/daemon.log", std::ios::app) << "--- start\n";
    pid_ = SpawnCommand(Command(), env, dir_.Path() + "/daemon.log");
    ready_ = pid_ > 0 && bus_.WaitForName(busName_, 20000);
    return ready_;
}

void DesktopDaemon::Stop()
{
    StopWith(pid_, stopSignal_);
    pid_ = -1;
    ready_ = false;
    WaitUntil([&] { return !bus_.WaitForName(busName_, 0); }, 5000);
}

bool DesktopDaemon::Restart()
{
    Stop();
    return Start();
}

// muffin ignores SIGINT and crashes on SIGTERM; SIGHUP ends it.
MuffinSession::MuffinSession(const XServer& x)
    : DesktopDaemon(x, "org.cinnamon.Muffin.DisplayConfig", SIGHUP)
{
    Start();
}

std::vector<std::string> MuffinSession::Command() const { return {"muffin", "--x11", "--replace"}; }

std::vector<std::string> MuffinSession::ExtraEnv() const { return {"GSETTINGS_BACKEND=memory"}; }

bool MuffinSession::AnswerConfirmation(bool keep) const
{
    const std::vector<std::string> env = ClientEnv();
    // Cinnamon asks with zenity, in a window of class mutter-dialog; zenity 4
    // no longer takes a class, and its window is zenity's own.
    // zenity 4 also maps a 1x1 leader window of that class: the dialog is the larger.
    const auto dialog = [&] {
        for (const char* cls : {"mutter-dialog", "zenity"}) {
            const CommandResult r =
                RunCommand({"xdotool", "search", "--onlyvisible", "--class", cls}, env);
            std::istringstream ids(r.out);
            for (std::string id; std::getline(ids, id);) {
                const std::string geometry =
                    RunCommand({"xdotool", "getwindowgeometry", id}, env).out;
                if (!id.empty() && geometry.find("Geometry: 1x1") == std::string::npos)
                    return id;
            }
        }
        return std::string();
    };
    std::string window;
    const bool shown = WaitUntil([&] { return !(window = dialog()).empty(); }, 10000);
    if (!shown) return false;
    // Its buttons' mnemonics: _Keep This Configuration, _Restore Previous Configuration.
    if (RunCommand({"xdotool", "windowactivate", "--sync", window}, env).status != 0) return false;
    if (RunCommand({"xdotool", "key", keep ? "alt+k" : "alt+r"}, env).status != 0) return false;
    return WaitUntil([&] { return dialog().empty(); }, 5000);
}

XfceSession::XfceSession(const XServer& x) : DesktopDaemon(x, "org.xfce.SettingsDaemon", SIGTERM)
{
    if (!bus_.Running()) return;
    std::vector<std::string> env = ClientEnv();
    env.push_back("HOME=" + dir_.Path());
    xfconfd_ = SpawnCommand({kXfconfd}, env, dir_.Path() + "/xfconfd.log");
    if (bus_.WaitForName("org.xfce.Xfconf", 10000)) Start();
}

XfceSession::~XfceSession()
{
    Stop();
    StopWith(xfconfd_, SIGTERM);
}

std::vector<std::string> XfceSession::Command() const { return {"xfsettingsd", "-D"}; }

std::string XfceSession::Property(const std::string& property) const
{
    std::string out = RunCommand({"xfconf-query", "-c", "displays", "-p", property}, ClientEnv()).out;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

bool XfceSession::SetProperty(const std::string& property, const std::string& type,
                              const std::string& value) const
{
    return RunCommand({"xfconf-query", "-c", "displays", "-p", property, "-n", "-t", type, "-s",
                       value},
                      ClientEnv())
               .status == 0;
}

MateSession::MateSession(const XServer& x) : DesktopDaemon(x, "org.mate.SettingsDaemon", SIGTERM)
{
    // Every plugin but xrandr inactive, in the keyfile GSettings reads.
    std::ofstream keyfile(PrivateDir(config_ + "/glib-2.0/settings") + "/keyfile");
    for (const char* plugin :
         {"a11y-keyboard", "a11y-settings", "background", "clipboard", "datetime", "housekeeping",
          "keybindings", "keyboard", "media-keys", "mouse", "mpris", "rfkill", "smartcard",
          "sound", "typing-break", "xrdb", "xsettings"})
        keyfile << "[org/mate/settings-daemon/plugins/" << plugin << "]\nactive=false\n\n";
    keyfile << "[org/mate/settings-daemon/plugins/xrandr]\nactive=true\n";
    keyfile.close();
    Start();
}

std::vector<std::string> MateSession::Command() const
{
    // Debian 13 moved the daemon out of PATH.
    const char* libexec = "/usr/libexec/mate-settings-daemon";
    return {access(libexec, X_OK) == 0 ? libexec : "mate-settings-daemon"};
}

std::vector<std::string> MateSession::ExtraEnv() const { return {"GSETTINGS_BACKEND=keyfile"}; }
