#include "gnome_shell.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

template <class F>
bool WaitFor(F ready, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

std::string PrivateDir(const std::string& path)
{
    fs::create_directories(path);
    chmod(path.c_str(), 0700);
    return path;
}

// The processes whose environment holds entry: what the session's bus
// started on the shell's behalf (calendar, keyring, portals, ...).
std::vector<pid_t> ProcessesWith(const std::string& entry)
{
    std::vector<pid_t> found;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc", ec)) {
        const std::string name = e.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream environ(e.path() / "environ", std::ios::binary);
        for (std::string var; std::getline(environ, var, '\0');)
            if (var == entry) {
                found.push_back(static_cast<pid_t>(std::stol(name)));
                break;
            }
    }
    return found;
}

// Waits for the shell's modal dialog and prints each of its texts on a line.
constexpr const char* kDialogReader = R"(
import sys, time, pyatspi
def texts(node, out):
    try:
        if node.getRoleName() in ('label', 'push button', 'button') and node.name:
            out.append(node.name)
        for child in node:
            if child is not None:
                texts(child, out)
    except Exception:
        pass
    return out
def dialog(node):
    try:
        if node.getRoleName() == 'dialog' and node.getState().contains(pyatspi.STATE_SHOWING):
            return node
        for child in node:
            found = dialog(child) if child is not None else None
            if found is not None:
                return found
    except Exception:
        pass
    return None
deadline = time.time() + float(sys.argv[1])
while True:
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == 'gnome-shell':
            found = dialog(app)
            if found is not None:
                print('\n'.join(texts(found, [])))
                sys.exit(0)
    if time.time() >= deadline:
        break
    time.sleep(0.2)
)";

}  // namespace

GnomeShellSession::GnomeShellSession(const XServer& x) : x_(x)
{
    runtime_ = PrivateDir(dir_.Path() + "/run");
    config_ = PrivateDir(dir_.Path() + "/config");
    const std::string home = PrivateDir(dir_.Path() + "/home");
    if (!x_.Running() || !bus_.Running() || !systemBus_.Running()) return;
    // The keyfile settings backend reads this; the shell then offers itself to AT-SPI.
    fs::create_directories(config_ + "/glib-2.0/settings");
    std::ofstream(config_ + "/glib-2.0/settings/keyfile")
        << "[org/gnome/desktop/interface]\ntoolkit-accessibility=true\n";
    const std::vector<std::string> env = {
        "DBUS_SESSION_BUS_ADDRESS=" + bus_.Address(),
        "DBUS_SYSTEM_BUS_ADDRESS=" + systemBus_.Address(),
        "XDG_RUNTIME_DIR=" + runtime_,
        "XDG_CONFIG_HOME=" + config_,
        "XDG_DATA_HOME=" + home + "/share",
        "XDG_CACHE_HOME=" + home + "/cache",
        "HOME=" + home,
        x_.DisplayEnv(),
        "GSETTINGS_BACKEND=keyfile",
        "GIO_USE_VFS=local",
        "MUTTER_DEBUG_NUM_DUMMY_MONITORS=2",
        std::string("MUTTER_DEBUG_DUMMY_MODE_SPECS=") + kDummyModes,
        "WAYLAND_DISPLAY",
        "XDG_SESSION_TYPE",
    };
    launcher_ = SpawnCommand({"/usr/libexec/at-spi-bus-launcher", "--launch-immediately"}, env,
                             dir_.Path() + "/at-spi.log");
    const std::string log = dir_.Path() + "/gnome-shell.log";
    pid_ = SpawnCommand({"gnome-shell", "--nested", "--wayland", "--wayland-display=tavrimo-shell"},
                        env, log);
    // The shell says so once its panel, dialogs and window manager are up.
    started_ = bus_.WaitForName("org.gnome.Mutter.DisplayConfig", 30000) &&
               WaitFor(
                   [&] { return ReadFile(log).find("GNOME Shell started") != std::string::npos; },
                   30000);
}

GnomeShellSession::~GnomeShellSession()
{
    StopProcess(pid_);
    StopProcess(launcher_);
    for (pid_t p : ProcessesWith("XDG_RUNTIME_DIR=" + runtime_)) kill(p, SIGTERM);
    // What the bus activated lives in the bus's process group; the bus goes with its members.
}

std::string GnomeShellSession::Log() const { return ReadFile(dir_.Path() + "/gnome-shell.log"); }

std::vector<std::string> GnomeShellSession::DialogTexts(int timeoutMs) const
{
    const CommandResult r =
        RunCommand({"/usr/bin/python3", "-c", kDialogReader, std::to_string(timeoutMs / 1000.0)},
                   {"DBUS_SESSION_BUS_ADDRESS=" + bus_.Address(), x_.DisplayEnv()});
    std::vector<std::string> texts;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) texts.push_back(line);
    return texts;
}

bool GnomeShellSession::Key(const std::string& key) const
{
    // The nested shell draws into one window of the X server, named after it.
    const std::string tree = RunCommand({"xwininfo", "-root", "-children"}, {x_.DisplayEnv()}).out;
    std::smatch m;
    if (!std::regex_search(tree, m, std::regex(R"((0x[0-9a-f]+) "gnome-shell")"))) return false;
    return RunCommand({"xdotool", "windowfocus", m[1], "key", key}, {x_.DisplayEnv()}).status == 0;
}
