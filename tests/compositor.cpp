#include "compositor.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <thread>

#include <gio/gio.h>
#include <sys/stat.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Unref {
    void operator()(void* p) const { g_object_unref(p); }
};
struct VariantUnref {
    void operator()(GVariant* v) const { g_variant_unref(v); }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;

std::unique_ptr<GDBusConnection, Unref> Connect(const std::string& address)
{
    return std::unique_ptr<GDBusConnection, Unref>(g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr));
}

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

SessionBus::SessionBus()
{
    pid_ = SpawnReadingLine({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                             "--print-address={fd}"},
                            {}, &address_);
}

SessionBus::~SessionBus() { StopProcess(pid_); }

bool SessionBus::WaitForName(const std::string& name, int timeoutMs) const
{
    const auto c = Connect(address_);
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

MutterSession::MutterSession(const XServer& x, Kind kind, const std::string& modeSpecs)
    : x_(x), kind_(kind)
{
    runtime_ = MakePrivateDir(dir_.Path() + "/run");
    config_ = MakePrivateDir(dir_.Path() + "/config");
    if (x_.Running() && bus_.Running()) Start(modeSpecs);
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
                                    x_.DisplayEnv(), "GSETTINGS_BACKEND=memory"};
    std::vector<std::string> argv = {"mutter"};
    if (kind_ == Kind::Nested) {
        env.push_back("MUTTER_DEBUG_NUM_DUMMY_MONITORS=2");
        env.push_back("MUTTER_DEBUG_DUMMY_MODE_SPECS=" + modeSpecs);
        argv.insert(argv.end(), {"--nested", "--wayland", "--wayland-display=tavrimo-wayland"});
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
