// Private desktop sessions for one test: a session bus, Mutter on it (nested
// in an Xvnc, as the window manager of one, or headless with virtual
// monitors), and weston with an Xwayland.
// Each has its own runtime and config folders and is stopped with the object.
#pragma once

#include <atomic>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "xvnc.h"

// Sets each NAME=value of env in this process, as a client of a session has it.
void UseEnv(const std::vector<std::string>& env);

// A dbus-daemon of its own, as a login session would have; asUser prefixes
// its command line (to run it as another user).
class SessionBus {
public:
    explicit SessionBus(const std::vector<std::string>& asUser = {});
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;
    bool Running() const { return !address_.empty(); }
    const std::string& Address() const { return address_; }
    // Waits until name has an owner on the bus; false after timeoutMs.
    bool WaitForName(const std::string& name, int timeoutMs) const;

private:
    pid_t pid_ = -1;
    std::string address_;
};

// A bus that never answers a message, on a socket of its own: with
// authenticates, it lets clients authenticate first (so that they hang in
// the bus's Hello); without, it says nothing at all.
class MuteBus {
public:
    explicit MuteBus(bool authenticates);
    ~MuteBus();
    MuteBus(const MuteBus&) = delete;
    MuteBus& operator=(const MuteBus&) = delete;
    bool Running() const { return listener_ >= 0; }
    std::string Address() const { return "unix:path=" + path_; }
    // How many clients have connected so far.
    int Connections() const { return connections_; }

private:
    void Serve();

    bool authenticates_;
    TempDir dir_;
    std::string path_;
    int listener_ = -1;
    int stop_[2] = {-1, -1};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

// Waits until name has an owner on the bus at address; false after timeoutMs.
bool WaitForNameOn(const std::string& address, const std::string& name, int timeoutMs);

// Whether XTEST input (xdotool) reaches the windows of a compositor's
// Xwayland. An Xwayland built with libei sends it through the compositor's
// EI portal, which headless Mutter and sway do not offer: it is dropped.
bool XtestReachesXwayland();

// AT-SPI on a session bus: a program started with Env() added to its
// environment can be driven through its accessible actions. asUser prefixes
// the commands it runs, as for SessionBus.
class AccessibilityBus {
public:
    explicit AccessibilityBus(const std::string& busAddress,
                              const std::vector<std::string>& asUser = {});
    ~AccessibilityBus();
    AccessibilityBus(const AccessibilityBus&) = delete;
    AccessibilityBus& operator=(const AccessibilityBus&) = delete;
    std::vector<std::string> Env() const;
    // Selects line `line` of the program's list, checks that it alone is
    // selected, and presses OK; status 0 when both happened.
    CommandResult ChooseLine(int line) const;

private:
    std::string bus_;
    std::vector<std::string> asUser_;
    TempDir script_;  // the chooser, where the user it runs as can read it
    pid_t pid_ = -1;
};

// GetCurrentState of org.gnome.Mutter.DisplayConfig, as the test reads it.
struct MutterMode {
    std::string id;
    int width = 0;
    int height = 0;
    double refresh = 0;
    bool current = false;
};
struct MutterMonitor {
    std::string connector;
    std::vector<MutterMode> modes;
    const MutterMode* Current() const;
};
struct MutterLogicalMonitor {
    int x = 0;
    int y = 0;
    double scale = 1;
    bool primary = false;
    std::vector<std::string> connectors;
};
struct MutterState {
    bool read = false;
    std::vector<MutterMonitor> monitors;
    std::vector<MutterLogicalMonitor> logical;
    const MutterMonitor* Monitor(const std::string& connector) const;
    const MutterLogicalMonitor* LogicalOf(const std::string& connector) const;
};

inline constexpr const char* kDummyModes = "1280x720@60:1280x720@30:1024x768@60:800x600@60";
// Headless sessions: a virtual monitor for each WxH@R, Meta-0 first, each with that one mode.
inline constexpr const char* kVirtualMonitors = "1280x720@60:1024x768@60";

// The sessions the installed Mutter can run, from its --help: Mutter 50 has
// no X11 backend, so neither a nested nor an X11 session.
struct MutterOffers {
    bool nested = false;
    bool x11 = false;
    bool headless = false;
};
const MutterOffers& InstalledMutter();

class MutterSession {
public:
    enum class Kind {
        Nested,    // a Wayland compositor in a window of x, with its own Xwayland
        X11,       // the window manager and display server of x itself
        Headless,  // a Wayland compositor with virtual monitors and its own Xwayland; x unused
    };
    // Nested sessions show dummy monitors LVDS1, LVDS2, ... (two unless told),
    // each with modeSpecs; headless ones a virtual monitor for each of its WxH@R.
    MutterSession(const XServer& x, Kind kind, const std::string& modeSpecs = kDummyModes,
                  int monitors = 2);
    ~MutterSession();
    MutterSession(const MutterSession&) = delete;
    MutterSession& operator=(const MutterSession&) = delete;

    bool Running() const { return pid_ > 0 && bus_.Running() && !display_.empty(); }
    Kind SessionKind() const { return kind_; }
    // Stops Mutter and starts it again on the same bus and folders.
    bool Restart(const std::string& modeSpecs);
    void Stop();

    const std::string& BusAddress() const { return bus_.Address(); }
    const std::string& ConfigHome() const { return config_; }
    // The X display an X client of this session uses (Xwayland's when nested).
    const std::string& XDisplay() const { return display_; }
    // The environment of a client of this session.
    std::vector<std::string> ClientEnv() const;
    MutterState State() const;
    // What Mutter wrote on stderr, for a failure's message.
    std::string Log() const;

private:
    bool Start(const std::string& modeSpecs);

    const XServer& x_;
    Kind kind_;
    int monitors_;
    TempDir dir_;
    SessionBus bus_;
    std::string runtime_;
    std::string config_;
    std::string display_;
    std::string xauthority_;
    pid_t pid_ = -1;
};

// weston on its headless backend with an Xwayland of the test's own: a
// Wayland desktop for which no display backend exists.
class WestonXwayland {
public:
    WestonXwayland();
    ~WestonXwayland();
    WestonXwayland(const WestonXwayland&) = delete;
    WestonXwayland& operator=(const WestonXwayland&) = delete;
    bool Running() const { return xwayland_ > 0 && !display_.empty(); }
    const std::string& XDisplay() const { return display_; }
    const std::string& RuntimeDir() const { return runtime_; }

private:
    TempDir dir_;
    std::string runtime_;
    std::string display_;
    pid_t weston_ = -1;
    pid_t xwayland_ = -1;
};

// KWin on its virtual backend with outputs Virtual-0, Virtual-1, ... of
// 1280x720 each, its own Xwayland, and a session bus.
class KWinSession {
public:
    explicit KWinSession(int outputs = 2);
    ~KWinSession();
    KWinSession(const KWinSession&) = delete;
    KWinSession& operator=(const KWinSession&) = delete;
    bool Running() const { return pid_ > 0 && !display_.empty(); }
    const std::string& ConfigHome() const { return config_; }
    const std::string& XDisplay() const { return display_; }
    const std::string& BusAddress() const { return bus_.Address(); }
    // XDG_RUNTIME_DIR, WAYLAND_DISPLAY, DISPLAY, the bus and XDG_CONFIG_HOME.
    std::vector<std::string> ClientEnv() const;
    std::string Log() const;

private:
    TempDir dir_;
    SessionBus bus_;
    std::string runtime_;
    std::string config_;
    std::string display_;
    pid_t pid_ = -1;
};

// A headless sway as an unprivileged user (sway refuses root), with two
// outputs, HEADLESS-1 and HEADLESS-2, and its own Xwayland. includeModeFile:
// its configuration includes $XDG_CONFIG_HOME/sway/config.d/*.
class SwaySession {
public:
    static constexpr uid_t kUser = 65534;  // nobody

    explicit SwaySession(bool includeModeFile);
    ~SwaySession();
    SwaySession(const SwaySession&) = delete;
    SwaySession& operator=(const SwaySession&) = delete;
    bool Running() const { return pid_ > 0 && !swaysock_.empty() && !display_.empty(); }
    const std::string& ConfigHome() const { return config_; }
    const std::string& XDisplay() const { return display_; }
    const std::string& SwaySock() const { return swaysock_; }
    // XDG_RUNTIME_DIR, WAYLAND_DISPLAY, SWAYSOCK, DISPLAY, HOME and XDG_CONFIG_HOME.
    std::vector<std::string> ClientEnv() const;
    // argv run as the session's user.
    static std::vector<std::string> AsUser(std::vector<std::string> argv);
    // Hands what a test process wrote under ConfigHome() to the session's user.
    void GiveConfigToUser() const;
    // Runs swaymsg with args against this sway.
    CommandResult Msg(const std::vector<std::string>& args) const;

    struct Output {
        std::string name;
        int width = 0;
        int height = 0;
        std::string refresh;  // as sway prints it: "60.000"
        int x = 0;
        int y = 0;
        std::string scale;  // as sway prints it: "1.100000"
    };
    // The active outputs, as `swaymsg -t get_outputs` shows them.
    std::vector<Output> Outputs() const;
    std::string Log() const;

private:
    TempDir dir_;
    std::string runtime_;
    std::string config_;
    std::string home_;
    std::string swaysock_;
    std::string display_;
    pid_t pid_ = -1;
};

// labwc on wlroots' headless backend (pixman) with outputs HEADLESS-1 and
// HEADLESS-2 and its own runtime, home and config folders; no Xwayland.
class LabwcSession {
public:
    LabwcSession();
    ~LabwcSession();
    LabwcSession(const LabwcSession&) = delete;
    LabwcSession& operator=(const LabwcSession&) = delete;
    bool Running() const { return pid_ > 0 && !socket_.empty(); }
    const std::string& ConfigHome() const { return config_; }
    // XDG_RUNTIME_DIR, WAYLAND_DISPLAY, HOME and XDG_CONFIG_HOME.
    std::vector<std::string> ClientEnv() const;
    std::string Log() const;

private:
    TempDir dir_;
    std::string runtime_;
    std::string config_;
    std::string home_;
    std::string socket_;
    pid_t pid_ = -1;
};

// The scripted compositor of tests/test_compositor.cpp on a socket of its own.
class ScriptedCompositor {
public:
    explicit ScriptedCompositor(const std::vector<std::string>& args);
    ~ScriptedCompositor();
    ScriptedCompositor(const ScriptedCompositor&) = delete;
    ScriptedCompositor& operator=(const ScriptedCompositor&) = delete;
    bool Running() const { return pid_ > 0; }
    // Sets XDG_RUNTIME_DIR and WAYLAND_DISPLAY of this process to reach it.
    void Use() const;
    // Has it drop its vanishing mode, and waits until it has.
    bool Vanish() const;
    // Waits until it has logged line; false after timeoutMs.
    bool Logs(const std::string& line, int timeoutMs) const;
    void Kill();
    // The lines it logged since it started, "ready" first.
    std::vector<std::string> Log() const;

private:
    TempDir dir_;
    std::string runtime_;
    pid_t pid_ = -1;
};
