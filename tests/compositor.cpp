#include "compositor.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <thread>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gio/gio.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "gio_bus.h"

namespace {

using Clock = std::chrono::steady_clock;

using gio_bus::Connect;
using gio_bus::Variant;

Variant CallSync(GDBusConnection* c, const char* dest, const char* path, const char* iface,
                 const char* method, GVariant* params)
{
    GError* error = nullptr;
    Variant reply(g_dbus_connection_call_sync(c, dest, path, iface, method, params, nullptr,
                                              G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error));
    if (error != nullptr) g_error_free(error);
    return reply;
}

// Polls until ready() holds; false after timeoutMs.
template <class F>
bool WaitFor(F ready, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!ready()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::string MakePrivateDir(const std::string& path)
{
    std::filesystem::create_directories(path);
    chmod(path.c_str(), 0700);
    return path;
}

}  // namespace

void UseEnv(const std::vector<std::string>& env)
{
    for (const std::string& e : env) {
        const size_t eq = e.find('=');
        if (eq != std::string::npos) setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
    }
}

SessionBus::SessionBus(const std::vector<std::string>& asUser)
{
    std::vector<std::string> argv = asUser;
    argv.insert(argv.end(), {"dbus-daemon", "--session", "--nofork", "--nopidfile",
                             "--print-address={fd}"});
    pid_ = SpawnReadingLine(argv, {}, &address_);
}

SessionBus::~SessionBus() { StopProcess(pid_); }

MuteBus::MuteBus(bool authenticates) : authenticates_(authenticates), path_(dir_.Path() + "/bus")
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path_.size() >= sizeof addr.sun_path || pipe(stop_) != 0) return;
    std::memcpy(addr.sun_path, path_.c_str(), path_.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 16) != 0) {
        close(fd);
        return;
    }
    listener_ = fd;
    thread_ = std::thread(&MuteBus::Serve, this);
}

MuteBus::~MuteBus()
{
    if (thread_.joinable()) {
        const char byte = 0;
        if (write(stop_[1], &byte, 1) == 1) thread_.join();
        else thread_.detach();
    }
    for (int fd : {listener_, stop_[0], stop_[1]})
        if (fd >= 0) close(fd);
}

// Accepts every client; with authenticates_, answers the authentication
// lines as a bus does (EXTERNAL, file descriptors agreed), then reads on.
void MuteBus::Serve()
{
    struct Client {
        int fd;
        std::string lines;
        bool begun = false;
    };
    std::vector<Client> clients;
    for (;;) {
        std::vector<pollfd> fds = {{stop_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
        for (const Client& c : clients) fds.push_back({c.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
        if (fds[0].revents != 0) break;
        if (fds[1].revents & POLLIN) {
            const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                clients.push_back({fd, "", false});
                ++connections_;
            }
        }
        for (size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            Client& c = clients[i - 2];
            char buf[4096];
            const ssize_t n = read(c.fd, buf, sizeof buf);
            if (n <= 0) {
                close(c.fd);
                c.fd = -1;
                continue;
            }
            if (!authenticates_ || c.begun) continue;
            c.lines.append(buf, static_cast<size_t>(n));
            for (size_t end; !c.begun && (end = c.lines.find("\r\n")) != std::string::npos;) {
                std::string line = c.lines.substr(0, end);
                c.lines.erase(0, end + 2);
                if (!line.empty() && line[0] == '\0') line.erase(0, 1);
                std::string answer;
                if (line.starts_with("AUTH EXTERNAL"))
                    answer = "OK 0123456789abcdef0123456789abcdef";
                else if (line.starts_with("AUTH")) answer = "REJECTED EXTERNAL";
                else if (line == "NEGOTIATE_UNIX_FD") answer = "AGREE_UNIX_FD";
                else if (line == "BEGIN") c.begun = true;
                else answer = "ERROR";
                answer += answer.empty() ? "" : "\r\n";
                if (!answer.empty() && write(c.fd, answer.data(), answer.size()) < 0) break;
            }
        }
        std::erase_if(clients, [](const Client& c) { return c.fd < 0; });
    }
    for (const Client& c : clients) close(c.fd);
}

bool SessionBus::WaitForName(const std::string& name, int timeoutMs) const
{
    return WaitForNameOn(address_, name, timeoutMs);
}

bool WaitForNameOn(const std::string& address, const std::string& name, int timeoutMs)
{
    const auto c = Connect(address);
    if (!c) return false;
    return WaitFor(
        [&] {
            const Variant r = CallSync(c.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus", "NameHasOwner",
                                       g_variant_new("(s)", name.c_str()));
            gboolean owned = FALSE;
            if (r) g_variant_get(r.get(), "(b)", &owned);
            return owned != FALSE;
        },
        timeoutMs);
}

bool XtestReachesXwayland()
{
    static const bool reaches =
        RunCommand({"sh", "-c", "ldd \"$(command -v Xwayland)\" | grep -q 'libei\\.so'"}).status != 0;
    return reaches;
}

AccessibilityBus::AccessibilityBus(const std::string& busAddress,
                                   const std::vector<std::string>& asUser)
    : bus_(busAddress), asUser_(asUser)
{
    std::vector<std::string> argv = asUser_;
    argv.insert(argv.end(), {"/usr/libexec/at-spi-bus-launcher", "--launch-immediately"});
    pid_ = SpawnCommand(argv, {"DBUS_SESSION_BUS_ADDRESS=" + bus_}, "/dev/null");
    // Qt asks for the accessibility bus at start and waits up to 25 s for an
    // answer: a launcher still starting on a loaded machine would hold the window.
    WaitForNameOn(bus_, "org.a11y.Bus", 10000);
}

AccessibilityBus::~AccessibilityBus() { StopProcess(pid_); }

std::vector<std::string> AccessibilityBus::Env() const
{
    // Qt 6.11 warns of a call newer AT-SPI makes that it does not serve; the
    // tests read the program's stderr for what it says itself.
    return {"DBUS_SESSION_BUS_ADDRESS=" + bus_, "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1",
            "QT_LOGGING_RULES=qt.accessibility.atspi.warning=false"};
}

CommandResult AccessibilityBus::ChooseLine(int line) const
{
    // The checkout may lie where that user cannot go (under /root, say).
    const std::string script = script_.Path() + "/atspi_choose.py";
    std::error_code ec;
    std::filesystem::copy_file(TAVRIMO_ATSPI_CHOOSE, script,
                               std::filesystem::copy_options::overwrite_existing, ec);
    chmod(script_.Path().c_str(), 0755);
    chmod(script.c_str(), 0644);
    std::vector<std::string> argv = asUser_;
    argv.insert(argv.end(), {"timeout", "30", "/usr/bin/python3", script, std::to_string(line)});
    return RunCommand(argv, {"DBUS_SESSION_BUS_ADDRESS=" + bus_});
}

const MutterMode* MutterMonitor::Current() const
{
    for (const MutterMode& m : modes)
        if (m.current) return &m;
    return nullptr;
}

const MutterMonitor* MutterState::Monitor(const std::string& connector) const
{
    for (const MutterMonitor& m : monitors)
        if (m.connector == connector) return &m;
    return nullptr;
}

const MutterLogicalMonitor* MutterState::LogicalOf(const std::string& connector) const
{
    for (const MutterLogicalMonitor& lm : logical)
        for (const std::string& c : lm.connectors)
            if (c == connector) return &lm;
    return nullptr;
}

const MutterOffers& InstalledMutter()
{
    static const MutterOffers offers = [] {
        const std::string help = RunCommand({"mutter", "--help"}).out;
        const auto has = [&](const char* option) {
            return help.find(std::string("  ") + option + " ") != std::string::npos;
        };
        return MutterOffers{has("--nested"), has("--x11"),
                            has("--headless") && has("--virtual-monitor")};
    }();
    return offers;
}

MutterSession::MutterSession(const XServer& x, Kind kind, const std::string& modeSpecs,
                             int monitors)
    : x_(x), kind_(kind), monitors_(monitors)
{
    runtime_ = MakePrivateDir(dir_.Path() + "/run");
    config_ = MakePrivateDir(dir_.Path() + "/config");
    if ((kind_ == Kind::Headless || x_.Running()) && bus_.Running()) Start(modeSpecs);
}

MutterSession::~MutterSession() { Stop(); }

void MutterSession::Stop()
{
    StopProcess(pid_);
    pid_ = -1;
    display_.clear();
}

bool MutterSession::Restart(const std::string& modeSpecs)
{
    Stop();
    // Mutter gives up its bus name as it goes; wait for that, so that the
    // new one is not mistaken for the old.
    WaitFor([&] { return !bus_.WaitForName("org.gnome.Mutter.DisplayConfig", 0); }, 5000);
    return Start(modeSpecs);
}

bool MutterSession::Start(const std::string& modeSpecs)
{
    std::vector<std::string> env = {"DBUS_SESSION_BUS_ADDRESS=" + bus_.Address(),
                                    "XDG_RUNTIME_DIR=" + runtime_, "XDG_CONFIG_HOME=" + config_,
                                    kind_ == Kind::Headless ? "DISPLAY" : x_.DisplayEnv(),
                                    "WAYLAND_DISPLAY", "GSETTINGS_BACKEND=memory"};
    std::vector<std::string> argv = {"mutter"};
    if (kind_ == Kind::Nested) {
        env.push_back("MUTTER_DEBUG_NUM_DUMMY_MONITORS=" + std::to_string(monitors_));
        env.push_back("MUTTER_DEBUG_DUMMY_MODE_SPECS=" + modeSpecs);
        argv.insert(argv.end(), {"--nested", "--wayland", "--wayland-display=tavrimo-wayland"});
    } else if (kind_ == Kind::Headless) {
        argv.insert(argv.end(), {"--headless", "--wayland", "--wayland-display=tavrimo-wayland"});
        std::istringstream specs(modeSpecs);
        for (std::string spec; std::getline(specs, spec, ':');)
            argv.insert(argv.end(), {"--virtual-monitor", spec});
    } else {
        argv.insert(argv.end(), {"--x11", "--replace"});
    }
    // A Mutter that was killed leaves its Xwayland cookie behind.
    for (const auto& e : std::filesystem::directory_iterator(runtime_))
        if (e.path().filename().string().starts_with(".mutter-Xwaylandauth"))
            std::filesystem::remove(e.path());
    xauthority_.clear();
    const std::string log = dir_.Path() + "/mutter.log";
    pid_ = SpawnCommand(argv, env, log);
    if (!bus_.WaitForName("org.gnome.Mutter.DisplayConfig", 20000)) return false;
    if (kind_ == Kind::X11) {
        display_ = x_.Display();
        return true;
    }
    // Mutter names the display of its Xwayland in its log and keeps the
    // cookie that opens it in the runtime folder.
    const std::regex said(R"(Using public X11 display (:\d+))");
    std::smatch m;
    std::string text;
    if (!WaitFor([&] { return std::regex_search(text = ReadFile(log), m, said); }, 10000))
        return false;
    const std::string display = m[1];
    for (const auto& e : std::filesystem::directory_iterator(runtime_))
        if (e.path().filename().string().starts_with(".mutter-Xwaylandauth"))
            xauthority_ = e.path().string();
    const bool answers = WaitFor(
        [&] {
            return RunCommand({"xdpyinfo"}, {"DISPLAY=" + display, "XAUTHORITY=" + xauthority_})
                       .status == 0;
        },
        10000);
    if (answers) display_ = display;
    return answers;
}

std::vector<std::string> MutterSession::ClientEnv() const
{
    std::vector<std::string> env = {"DBUS_SESSION_BUS_ADDRESS=" + bus_.Address(),
                                    "XDG_RUNTIME_DIR=" + runtime_, "XDG_CONFIG_HOME=" + config_,
                                    "DISPLAY=" + display_};
    if (!xauthority_.empty()) env.push_back("XAUTHORITY=" + xauthority_);
    return env;
}

std::string MutterSession::Log() const { return ReadFile(dir_.Path() + "/mutter.log"); }

MutterState MutterSession::State() const
{
    MutterState st;
    const auto c = Connect(bus_.Address());
    if (!c) return st;
    const Variant reply = CallSync(c.get(), "org.gnome.Mutter.DisplayConfig",
                                   "/org/gnome/Mutter/DisplayConfig",
                                   "org.gnome.Mutter.DisplayConfig", "GetCurrentState", nullptr);
    if (!reply) return st;
    guint32 serial = 0;
    GVariantIter* monitors = nullptr;
    GVariantIter* logical = nullptr;
    g_variant_get(reply.get(), "(ua((ssss)a(siiddada{sv})a{sv})a(iiduba(ssss)a{sv})@a{sv})",
                  &serial, &monitors, &logical, nullptr);
    const gchar* connector = nullptr;
    GVariantIter* modes = nullptr;
    while (g_variant_iter_next(monitors, "((&s&s&s&s)a(siiddada{sv})@a{sv})", &connector, nullptr,
                               nullptr, nullptr, &modes, nullptr)) {
        MutterMonitor monitor{connector, {}};
        const gchar* id = nullptr;
        MutterMode mode;
        GVariant* props = nullptr;
        while (g_variant_iter_next(modes, "(&siidd@ad@a{sv})", &id, &mode.width, &mode.height,
                                   &mode.refresh, nullptr, nullptr, &props)) {
            mode.id = id;
            gboolean current = FALSE;
            g_variant_lookup(props, "is-current", "b", &current);
            mode.current = current;
            g_variant_unref(props);
            monitor.modes.push_back(mode);
        }
        g_variant_iter_free(modes);
        st.monitors.push_back(std::move(monitor));
    }
    g_variant_iter_free(monitors);
    MutterLogicalMonitor lm;
    gboolean primary = FALSE;
    GVariantIter* specs = nullptr;
    while (g_variant_iter_next(logical, "(iiduba(ssss)@a{sv})", &lm.x, &lm.y, &lm.scale, nullptr,
                               &primary, &specs, nullptr)) {
        lm.primary = primary;
        lm.connectors.clear();
        while (g_variant_iter_next(specs, "(&s&s&s&s)", &connector, nullptr, nullptr, nullptr))
            lm.connectors.emplace_back(connector);
        g_variant_iter_free(specs);
        st.logical.push_back(lm);
    }
    g_variant_iter_free(logical);
    st.read = true;
    return st;
}

WestonXwayland::WestonXwayland()
{
    runtime_ = MakePrivateDir(dir_.Path() + "/run");
    const std::string socket = "tavrimo-weston";
    const std::string env[] = {"XDG_RUNTIME_DIR=" + runtime_, "WAYLAND_DISPLAY=" + socket};
    weston_ = SpawnCommand({"weston", "--backend=headless-backend.so", "--socket=" + socket,
                            "--idle-time=0"},
                           {env[0]}, dir_.Path() + "/weston.log");
    if (!WaitFor([&] { return std::filesystem::exists(runtime_ + "/" + socket); }, 10000)) return;
    std::string number;
    // An X server resets when its last client goes; this one must outlive each of the test's.
    xwayland_ = SpawnReadingLine({"Xwayland", "-displayfd", "{fd}", "-nolisten", "tcp", "-noreset"},
                                 {env[0], env[1]}, &number);
    if (!number.empty()) display_ = ":" + number;
}

WestonXwayland::~WestonXwayland()
{
    StopProcess(xwayland_);
    StopProcess(weston_);
}

namespace {

// The first entry of dir whose name starts with prefix and does not end with
// suffixNot; empty when there is none.
std::string Entry(const std::string& dir, const std::string& prefix, const std::string& suffixNot)
{
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
        const std::string name = e.path().filename().string();
        if (name.starts_with(prefix) && !name.ends_with(suffixNot)) return name;
    }
    return {};
}

// Waits for the X display a session wrote into file to answer probe.
std::string AnsweringDisplay(const std::string& file, const std::vector<std::string>& env,
                             const std::vector<std::string>& probe = {"xdpyinfo"})
{
    std::string display;
    const bool answers = WaitFor(
        [&] {
            display = ReadFile(file);
            if (display.empty()) return false;
            std::vector<std::string> e = env;
            e.push_back("DISPLAY=" + display);
            return RunCommand(probe, e).status == 0;
        },
        15000);
    return answers ? display : std::string();
}

constexpr const char* kKWinSocket = "tavrimo-kwin";
namespace fs = std::filesystem;

}  // namespace

KWinSession::KWinSession(int outputs)
{
    runtime_ = MakePrivateDir(dir_.Path() + "/run");
    config_ = MakePrivateDir(dir_.Path() + "/config");
    if (!bus_.Running()) return;
    // The installed binary carries a file capability that a sandbox may
    // refuse to execute; a copy carries none.
    const std::string kwin = dir_.Path() + "/kwin_wayland";
    std::error_code ec;
    std::filesystem::copy_file("/usr/bin/kwin_wayland", kwin, ec);
    if (ec) return;
    const std::string displayFile = dir_.Path() + "/display";
    const std::string report = dir_.Path() + "/report-display";
    std::ofstream(report) << "#!/bin/sh\nprintf %s \"$DISPLAY\" > " << displayFile << "\n";
    fs::permissions(report, fs::perms::owner_all);
    // KWin starts the program named after its options once its Xwayland is
    // up, with DISPLAY set to it.
    pid_ = SpawnCommand({kwin, "--virtual", "--width", "1280", "--height", "720", "--output-count",
                         std::to_string(outputs), "--xwayland", "--socket", kKWinSocket, report},
                        {"XDG_RUNTIME_DIR=" + runtime_, "XDG_CONFIG_HOME=" + config_,
                         "DBUS_SESSION_BUS_ADDRESS=" + bus_.Address(), "HOME=" + dir_.Path(),
                         "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"},
                        dir_.Path() + "/kwin.log");
    display_ = AnsweringDisplay(displayFile, {"XDG_RUNTIME_DIR=" + runtime_});
}

KWinSession::~KWinSession() { StopProcess(pid_); }

std::vector<std::string> KWinSession::ClientEnv() const
{
    return {"XDG_RUNTIME_DIR=" + runtime_, std::string("WAYLAND_DISPLAY=") + kKWinSocket,
            "DISPLAY=" + display_, "DBUS_SESSION_BUS_ADDRESS=" + bus_.Address(),
            "XDG_CONFIG_HOME=" + config_};
}

std::string KWinSession::Log() const { return ReadFile(dir_.Path() + "/kwin.log"); }

SwaySession::SwaySession(bool includeModeFile)
{
    const auto own = [](const std::string& path) {
        std::filesystem::create_directories(path);
        return chown(path.c_str(), kUser, kUser) == 0 ? path : std::string();
    };
    chmod(dir_.Path().c_str(), 0755);
    runtime_ = own(dir_.Path() + "/run");
    chmod(runtime_.c_str(), 0700);
    home_ = own(dir_.Path() + "/home");
    config_ = own(home_ + "/.config");
    if (runtime_.empty() || config_.empty()) return;
    const std::string displayFile = dir_.Path() + "/display";
    std::ofstream(displayFile).close();
    if (chown(displayFile.c_str(), kUser, kUser) != 0) return;
    const std::string conf = dir_.Path() + "/sway.conf";
    {
        std::ofstream out(conf);
        out << "xwayland force\n";
        // As a user's configuration would say it.
        if (includeModeFile) out << "include ~/.config/sway/config.d/*\n";
        out << "exec printf %s \"$DISPLAY\" > " << displayFile << "\n";
    }
    pid_ = SpawnCommand(AsUser({"sway", "-c", conf}),
                        {"XDG_RUNTIME_DIR=" + runtime_, "XDG_CONFIG_HOME=" + config_,
                         "HOME=" + home_, "WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1",
                         "WLR_RENDERER=pixman", "WLR_HEADLESS_OUTPUTS=2", "DISPLAY",
                         "WAYLAND_DISPLAY", "SWAYSOCK"},
                        dir_.Path() + "/sway.log");
    if (!WaitFor([&] { return !Entry(runtime_, "sway-ipc.", ".lock").empty(); }, 10000)) return;
    swaysock_ = runtime_ + "/" + Entry(runtime_, "sway-ipc.", ".lock");
    // sway's Xwayland lets in its own user only; the test's tools run as root.
    const std::string display = AnsweringDisplay(displayFile, {}, AsUser({"xdpyinfo"}));
    if (!display.empty() &&
        RunCommand(AsUser({"xhost", "+si:localuser:root"}), {"DISPLAY=" + display}).status == 0)
        display_ = display;
}

SwaySession::~SwaySession() { StopProcess(pid_); }

std::vector<std::string> SwaySession::AsUser(std::vector<std::string> argv)
{
    const std::string id = std::to_string(kUser);
    argv.insert(argv.begin(),
                {"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups", "--"});
    return argv;
}

std::vector<std::string> SwaySession::ClientEnv() const
{
    return {"XDG_RUNTIME_DIR=" + runtime_, "WAYLAND_DISPLAY=" + Entry(runtime_, "wayland-", ".lock"),
            "SWAYSOCK=" + swaysock_, "DISPLAY=" + display_, "HOME=" + home_,
            "XDG_CONFIG_HOME=" + config_};
}

void SwaySession::GiveConfigToUser() const
{
    RunCommand({"chown", "-R", std::to_string(kUser) + ":" + std::to_string(kUser), config_});
}

CommandResult SwaySession::Msg(const std::vector<std::string>& args) const
{
    std::vector<std::string> argv = {"swaymsg", "-s", swaysock_};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv);
}

std::vector<SwaySession::Output> SwaySession::Outputs() const
{
    std::vector<Output> outputs;
    std::istringstream text(Msg({"-p", "-t", "get_outputs"}).out);
    const std::regex head(R"(^Output (\S+) )"), mode(R"(Current mode: (\d+)x(\d+) @ ([\d.]+) Hz)"),
        position(R"(Position: (-?\d+),(-?\d+))"), scale(R"(Scale factor: ([\d.]+))");
    std::smatch m;
    for (std::string line; std::getline(text, line);) {
        if (std::regex_search(line, m, head)) outputs.push_back({m[1], 0, 0, "", 0, 0, ""});
        if (outputs.empty()) continue;
        if (std::regex_search(line, m, mode)) {
            outputs.back().width = std::stoi(m[1]);
            outputs.back().height = std::stoi(m[2]);
            outputs.back().refresh = m[3];
        }
        if (std::regex_search(line, m, scale)) outputs.back().scale = m[1];
        if (std::regex_search(line, m, position)) {
            outputs.back().x = std::stoi(m[1]);
            outputs.back().y = std::stoi(m[2]);
        }
    }
    return outputs;
}

std::string SwaySession::Log() const { return ReadFile(dir_.Path() + "/sway.log"); }

LabwcSession::LabwcSession()
{
    runtime_ = MakePrivateDir(dir_.Path() + "/run");
    home_ = dir_.Path() + "/home";
    config_ = home_ + "/.config";
    std::filesystem::create_directories(config_);
    pid_ = SpawnCommand({"labwc"},
                        {"XDG_RUNTIME_DIR=" + runtime_, "XDG_CONFIG_HOME=" + config_,
                         "HOME=" + home_, "WLR_BACKENDS=headless", "WLR_RENDERER=pixman",
                         "WLR_LIBINPUT_NO_DEVICES=1", "WLR_HEADLESS_OUTPUTS=2", "DISPLAY",
                         "WAYLAND_DISPLAY"},
                        dir_.Path() + "/labwc.log");
    if (WaitFor([&] { return !Entry(runtime_, "wayland-", ".lock").empty(); }, 10000))
        socket_ = Entry(runtime_, "wayland-", ".lock");
}

LabwcSession::~LabwcSession() { StopProcess(pid_); }

std::vector<std::string> LabwcSession::ClientEnv() const
{
    return {"XDG_RUNTIME_DIR=" + runtime_, "WAYLAND_DISPLAY=" + socket_, "HOME=" + home_,
            "XDG_CONFIG_HOME=" + config_};
}

std::string LabwcSession::Log() const { return ReadFile(dir_.Path() + "/labwc.log"); }

ScriptedCompositor::ScriptedCompositor(const std::vector<std::string>& args)
{
    runtime_ = MakePrivateDir(dir_.Path() + "/run");
    std::vector<std::string> argv = {TAVRIMO_TEST_COMPOSITOR, "--socket", "tavrimo-scripted",
                                     "--log", dir_.Path() + "/log"};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = SpawnCommand(argv, {"XDG_RUNTIME_DIR=" + runtime_}, dir_.Path() + "/stderr");
    if (!WaitFor([&] { return !Log().empty(); }, 5000)) Kill();
}

ScriptedCompositor::~ScriptedCompositor() { Kill(); }

void ScriptedCompositor::Kill()
{
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    StopProcess(pid_);
    pid_ = -1;
}

void ScriptedCompositor::Use() const
{
    setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    setenv("WAYLAND_DISPLAY", "tavrimo-scripted", 1);
}

bool ScriptedCompositor::Vanish() const
{
    if (pid_ <= 0 || kill(pid_, SIGUSR1) != 0) return false;
    return Logs("vanished", 5000);
}

bool ScriptedCompositor::Logs(const std::string& line, int timeoutMs) const
{
    return WaitFor(
        [&] {
            const auto lines = Log();
            return std::find(lines.begin(), lines.end(), line) != lines.end();
        },
        timeoutMs);
}

std::vector<std::string> ScriptedCompositor::Log() const
{
    std::vector<std::string> lines;
    std::istringstream text(ReadFile(dir_.Path() + "/log"));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
}
