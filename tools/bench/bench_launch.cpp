// Times programs on the X server of $DISPLAY.
//   bench_launch startup CMD...    exec to first top-level window mapped; prints "MS RSS_KIB"
//   bench_launch apply OUTPUT FROM TO LINE RUNS CMD...
//       starts CMD (the program), selects line LINE with the arrow keys, then RUNS times,
//       alternately: Alt+O in the program, and `xrandr --output OUTPUT --mode TO` started
//       as a process, each timed from the key event or the process start to the screen
//       reporting the size of mode TO; the output is put back in mode FROM between runs.
//       Prints "tavrimo MS" and "xrandr MS" lines.
//   bench_launch apply-mutter CONNECTOR FROM TO LINE RUNS CMD...
//       the same on a one-monitor Mutter session (Mutter's mode ids FROM and TO), timed to
//       Mutter's MonitorsChanged signal, against a `gdbus call ... ApplyMonitorsConfig`
//       process. Prints "tavrimo MS" and "gdbus MS" lines.
//   bench_launch paint
//       prints "ready" once it watches the X server, then, when a top-level window of the
//       first client to create one after that has been drawn into all over, the
//       CLOCK_REALTIME microseconds at which it learnt so and the window's width and height,
//       and exits.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/uio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>
#include <xcb/xtest.h>

#include <gio/gio.h>

namespace {

using Clock = std::chrono::steady_clock;

pid_t g_child = -1;  // ended with the launcher, whatever way it ends

double Ms(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

pid_t Spawn(const std::vector<std::string>& argv, bool quiet = false)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (quiet) freopen("/dev/null", "w", stdout);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

struct X {
    xcb_connection_t* c = nullptr;
    xcb_window_t root = 0;
    uint8_t randrBase = 0;

    X()
    {
        c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c)) {
            std::fprintf(stderr, "bench_launch: no X display\n");
            std::exit(2);
        }
        root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
        randrBase = xcb_get_extension_data(c, &xcb_randr_id)->first_event;
        free(xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 3), nullptr));
        xcb_randr_select_input(c, root, XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE);
        xcb_flush(c);
    }
    ~X() { xcb_disconnect(c); }

    // Waits for a top-level window to be mapped; returns it.
    xcb_window_t WaitMap()
    {
        while (xcb_generic_event_t* e = Next()) {
            const uint8_t type = e->response_type & 0x7f;
            if (type == XCB_MAP_NOTIFY) {
                auto* m = reinterpret_cast<xcb_map_notify_event_t*>(e);
                const xcb_window_t w = m->window;
                const bool top = m->event == root && !m->override_redirect;
                free(e);
                if (top) return w;
                continue;
            }
            free(e);
        }
        return 0;
    }

    // Next event, or exit after ten seconds without one: a run that hangs is a failed run.
    xcb_generic_event_t* Next()
    {
        for (;;) {
            if (xcb_generic_event_t* e = xcb_poll_for_event(c)) return e;
            if (xcb_connection_has_error(c)) return nullptr;
            pollfd p{xcb_get_file_descriptor(c), POLLIN, 0};
            if (poll(&p, 1, 10000) == 0) {
                std::fprintf(stderr, "bench_launch: nothing happened for 10 s\n");
                if (g_child > 0) kill(g_child, SIGKILL);
                std::exit(3);
            }
        }
    }

    // Waits for the screen to report the given size.
    void WaitScreen(uint16_t width, uint16_t height)
    {
        while (xcb_generic_event_t* e = Next()) {
            const uint8_t type = e->response_type & 0x7f;
            if (type == randrBase + XCB_RANDR_SCREEN_CHANGE_NOTIFY) {
                auto* s = reinterpret_cast<xcb_randr_screen_change_notify_event_t*>(e);
                const bool done = s->width == width && s->height == height;
                free(e);
                if (done) return;
                continue;
            }
            free(e);
        }
    }

    xcb_keycode_t Keycode(xcb_keysym_t sym)
    {
        const xcb_setup_t* setup = xcb_get_setup(c);
        const uint8_t count = setup->max_keycode - setup->min_keycode + 1;
        auto* r = xcb_get_keyboard_mapping_reply(
            c, xcb_get_keyboard_mapping(c, setup->min_keycode, count), nullptr);
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(r);
        xcb_keycode_t code = 0;
        for (int i = 0; i < count * r->keysyms_per_keycode && code == 0; ++i)
            if (syms[i] == sym) code = static_cast<xcb_keycode_t>(setup->min_keycode + i / r->keysyms_per_keycode);
        free(r);
        return code;
    }

    void Key(xcb_keycode_t code, bool press)
    {
        xcb_test_fake_input(c, press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, code, XCB_CURRENT_TIME,
                            root, 0, 0, 0);
    }
    void AltO()
    {
        const xcb_keycode_t alt = Keycode(0xffe9), o = Keycode('o');
        Key(alt, true);
        Key(o, true);
        Key(o, false);
        Key(alt, false);
        xcb_flush(c);
    }
};

std::pair<uint16_t, uint16_t> SizeOf(const std::string& mode)
{
    unsigned w = 0, h = 0;
    std::sscanf(mode.c_str(), "%ux%u", &w, &h);
    return {static_cast<uint16_t>(w), static_cast<uint16_t>(h)};
}

// The DAMAGE extension by hand: the roots bench_launch runs in have no libxcb-damage.
xcb_extension_t g_damage = {"DAMAGE", 0};

void DamageRequest(xcb_connection_t* c, uint8_t minor, bool isvoid,
                   const std::vector<uint32_t>& body)
{
    // The first word holds the opcodes and the length, which xcb fills in.
    std::vector<uint32_t> words = {0};
    words.insert(words.end(), body.begin(), body.end());
    iovec vec[4] = {};
    vec[2].iov_base = words.data();
    vec[2].iov_len = words.size() * 4;
    const xcb_protocol_request_t request = {2, &g_damage, minor, isvoid};
    xcb_send_request(c, 0, vec + 2, &request);
}

int Paint()
{
    X x;
    const xcb_query_extension_reply_t* damage = xcb_get_extension_data(x.c, &g_damage);
    if (damage == nullptr || !damage->present) {
        std::fprintf(stderr, "bench_launch: the X server has no DAMAGE\n");
        return 2;
    }
    DamageRequest(x.c, 0, false, {1, 1});  // QueryVersion 1.1, before any other request of it
    xcb_flush(x.c);
    std::printf("ready\n");
    std::fflush(stdout);
    // The program creates its windows before it maps one, and so before a window manager
    // makes a frame for it: the first window's client owns the windows that count.
    const uint32_t mask = xcb_get_setup(x.c)->resource_id_mask;
    std::optional<uint32_t> client;
    while (xcb_generic_event_t* e = x.Next()) {
        const uint8_t type = e->response_type & 0x7f;
        if (type == XCB_CREATE_NOTIFY) {
            auto* n = reinterpret_cast<xcb_create_notify_event_t*>(e);
            if (!client) client = n->window & ~mask;
            if (n->parent == x.root && (n->window & ~mask) == *client) {
                // BoundingBox: an event each time the drawn area grows.
                DamageRequest(x.c, 1, true, {xcb_generate_id(x.c), n->window, 2});
                xcb_flush(x.c);
            }
        } else if (type == damage->first_event) {
            // Its area and the window's geometry, each x, y, width, height, from byte 16.
            uint16_t area[8];
            std::memcpy(area, reinterpret_cast<const uint8_t*>(e) + 16, sizeof area);
            // A first drawing may be one pixel; the window is drawn once all of it is.
            if (area[2] < area[6] || area[3] < area[7]) {
                free(e);
                continue;
            }
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            std::printf("%lld %u %u\n", now.tv_sec * 1000000LL + now.tv_nsec / 1000, area[6],
                        area[7]);
            free(e);
            return 0;
        }
        free(e);
    }
    return 3;
}

int Startup(const std::vector<std::string>& cmd)
{
    X x;
    const auto t0 = Clock::now();
    const pid_t pid = g_child = Spawn(cmd);
    x.WaitMap();
    const auto t1 = Clock::now();
    kill(pid, SIGTERM);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    std::printf("%.3f %ld\n", Ms(t0, t1), usage.ru_maxrss);
    return 0;
}

// Starts the program, waits for its window and selects line LINE with the arrow keys.
// Without a window manager the launcher gives the window the focus; a window
// manager gives it to the new window itself (and maps a frame, not the window).
pid_t StartOnLine(X& x, int line, const std::vector<std::string>& cmd, bool focus)
{
    const pid_t app = g_child = Spawn(cmd);
    const xcb_window_t window = x.WaitMap();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    if (focus) xcb_set_input_focus(x.c, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    xcb_flush(x.c);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const xcb_keycode_t down = x.Keycode(0xff54);
    for (int i = 0; i <= line; ++i) {
        x.Key(down, true);
        x.Key(down, false);
    }
    xcb_flush(x.c);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return app;
}

// Mutter on the session bus, with the time of its latest MonitorsChanged.
struct Mutter {
    GDBusConnection* c = nullptr;
    bool changed = false;
    Clock::time_point at;

    Mutter()
    {
        c = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        if (c == nullptr) {
            std::fprintf(stderr, "bench_launch: no session bus\n");
            std::exit(2);
        }
        g_dbus_connection_signal_subscribe(
            c, nullptr, "org.gnome.Mutter.DisplayConfig", "MonitorsChanged",
            "/org/gnome/Mutter/DisplayConfig", nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
               gpointer self) {
                static_cast<Mutter*>(self)->at = Clock::now();
                static_cast<Mutter*>(self)->changed = true;
            },
            this, nullptr);
    }
    ~Mutter() { g_object_unref(c); }

    // Waits for the next MonitorsChanged; returns when it came.
    Clock::time_point Wait()
    {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!changed) {
            if (Clock::now() > deadline) {
                std::fprintf(stderr, "bench_launch: no MonitorsChanged for 10 s\n");
                if (g_child > 0) kill(g_child, SIGKILL);
                std::exit(3);
            }
            g_main_context_iteration(nullptr, FALSE);
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        changed = false;
        return at;
    }

    uint32_t Serial()
    {
        GVariant* r = g_dbus_connection_call_sync(
            c, "org.gnome.Mutter.DisplayConfig", "/org/gnome/Mutter/DisplayConfig",
            "org.gnome.Mutter.DisplayConfig", "GetCurrentState", nullptr, nullptr,
            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        uint32_t serial = 0;
        if (r != nullptr) {
            g_variant_get_child(r, 0, "u", &serial);
            g_variant_unref(r);
        }
        return serial;
    }

    // ApplyMonitorsConfig's arguments for one monitor alone, as gdbus takes them.
    static std::vector<std::string> Args(uint32_t serial, const std::string& connector,
                                         const std::string& mode)
    {
        return {std::to_string(serial), "2",
                "[(0, 0, 1.0, 0, true, [('" + connector + "', '" + mode + "', @a{sv} {})])]",
                "{}"};
    }
};

int ApplyMutter(const std::string& connector, const std::string& from, const std::string& to,
                int line, int runs, const std::vector<std::string>& cmd)
{
    X x;
    Mutter mutter;
    const pid_t app = StartOnLine(x, line, cmd, false);
    const auto gdbus = [&](const std::string& mode) {
        std::vector<std::string> argv = {
            "gdbus", "call", "--session", "--dest", "org.gnome.Mutter.DisplayConfig",
            "--object-path", "/org/gnome/Mutter/DisplayConfig", "--method",
            "org.gnome.Mutter.DisplayConfig.ApplyMonitorsConfig"};
        for (const auto& a : Mutter::Args(mutter.Serial(), connector, mode)) argv.push_back(a);
        const auto t0 = Clock::now();
        const pid_t p = Spawn(argv, true);  // its reply, "()", is not ours to print
        const auto t1 = mutter.Wait();
        waitpid(p, nullptr, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return Ms(t0, t1);
    };
    for (int run = 0; run < runs; ++run) {
        if (run > 0) gdbus(from);
        const auto t0 = Clock::now();
        x.AltO();
        std::printf("tavrimo %.3f\n", Ms(t0, mutter.Wait()));
        gdbus(from);
        std::printf("gdbus %.3f\n", gdbus(to));
        std::fflush(stdout);
    }
    kill(app, SIGTERM);
    waitpid(app, nullptr, 0);
    return 0;
}

int Apply(const std::string& output, const std::string& from, const std::string& to, int line,
          int runs, const std::vector<std::string>& cmd)
{
    X x;
    const pid_t app = StartOnLine(x, line, cmd, true);
    const auto [fw, fh] = SizeOf(from);
    const auto [tw, th] = SizeOf(to);
    const auto restore = [&] {
        const pid_t p = Spawn({"xrandr", "--output", output, "--mode", from});
        x.WaitScreen(fw, fh);
        waitpid(p, nullptr, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    };
    for (int run = 0; run < runs; ++run) {
        if (run > 0) restore();
        auto t0 = Clock::now();
        x.AltO();
        x.WaitScreen(tw, th);
        std::printf("tavrimo %.3f\n", Ms(t0, Clock::now()));

        restore();
        t0 = Clock::now();
        const pid_t p = Spawn({"xrandr", "--output", output, "--mode", to});
        x.WaitScreen(tw, th);
        std::printf("xrandr %.3f\n", Ms(t0, Clock::now()));
        waitpid(p, nullptr, 0);
        std::fflush(stdout);
    }
    kill(app, SIGTERM);
    waitpid(app, nullptr, 0);
    return 0;
}

}  // namespace

int main(int argc, char* argv[])
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "startup")
        return Startup({args.begin() + 1, args.end()});
    if (args.size() >= 7 && args[0] == "apply")
        return Apply(args[1], args[2], args[3], std::atoi(args[4].c_str()),
                     std::atoi(args[5].c_str()), {args.begin() + 6, args.end()});
    if (args.size() == 1 && args[0] == "paint")
        return Paint();
    if (args.size() >= 7 && args[0] == "apply-mutter")
        return ApplyMutter(args[1], args[2], args[3], std::atoi(args[4].c_str()),
                           std::atoi(args[5].c_str()), {args.begin() + 6, args.end()});
    std::fprintf(stderr, "usage: bench_launch startup CMD... | apply[-mutter] OUTPUT FROM TO "
                         "LINE RUNS CMD... | paint\n");
    return 2;
}
