// The real program on a private Xvnc, driven by real key presses.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <sys/wait.h>

#include "compositor.h"
#include "xvnc.h"

namespace {

using namespace std::chrono_literals;

class EndToEnd : public testing::Test {
protected:
    // Runs before the program starts, so that the list holds what it adds.
    virtual void Prepare() {}

    void SetUp() override
    {
        ASSERT_TRUE(server.Running()) << "Xvnc did not start";
        Prepare();
        const std::string env[] = {server.DisplayEnv(), "XDG_CONFIG_HOME=" + config.Path(),
                                   "QT_QPA_PLATFORM=xcb"};
        app = SpawnCommand({TAVRIMO_BINARY}, {env[0], env[1], env[2]}, config.Path() + "/stderr");
        const CommandResult found = server.Run(
            {"timeout", "20", "xdotool", "search", "--sync", "--onlyvisible", "--name", "^Tavrimo$"});
        ASSERT_EQ(found.status, 0) << "the window did not appear";
        window = found.out.substr(0, found.out.find('\n'));
        ASSERT_EQ(server.Run({"xdotool", "windowfocus", "--sync", window}).status, 0);
    }

    void TearDown() override { StopProcess(app); }

    // Presses keys in the window, one after another.
    void Keys(const std::vector<std::string>& keys)
    {
        std::vector<std::string> argv = {"xdotool", "key", "--delay", "40"};
        argv.insert(argv.end(), keys.begin(), keys.end());
        ASSERT_EQ(server.Run(argv).status, 0);
    }

    static std::vector<std::string> Downs(size_t n) { return std::vector<std::string>(n, "Down"); }

    // Waits for the output's current mode to be the k-th; false after a while.
    bool SwitchedTo(size_t k, std::chrono::milliseconds wait = 5s)
    {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        do {
            const XrandrOutput out = QueryXrandr(server);
            if (k < out.modes.size() && out.modes[k].current && out.connected &&
                out.screenWidth == out.modes[k].width)
                return true;
            std::this_thread::sleep_for(100ms);
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }

    XvncServer server;
    TempDir config;
    pid_t app = -1;
    std::string window;
};

TEST_F(EndToEnd, ArrowsToALineThenAltOSwitchesToItsMode)
{
    const size_t k = 2;
    const XrandrOutput before = QueryXrandr(server);
    ASSERT_GT(before.modes.size(), k);
    auto keys = Downs(k + 1);
    keys.push_back("alt+o");
    Keys(keys);
    EXPECT_TRUE(SwitchedTo(k));
    // The program goes on after the switch, and a second line switches again.
    Keys({"Down", "alt+o"});
    EXPECT_TRUE(SwitchedTo(k + 1));
}

TEST_F(EndToEnd, TabToTheButtonThenEnterSwitches)
{
    const size_t k = 12;
    auto keys = Downs(k + 1);
    keys.insert(keys.end(), {"Tab", "Return"});
    Keys(keys);
    EXPECT_TRUE(SwitchedTo(k));
}

TEST_F(EndToEnd, EnterInTheListSwitchesNothing)
{
    auto keys = Downs(4);
    keys.push_back("Return");
    Keys(keys);
    EXPECT_FALSE(SwitchedTo(3, 1500ms));
    EXPECT_TRUE(SwitchedTo(0, 0ms)) << "still in the first mode";
    Keys({"alt+o"});
    EXPECT_TRUE(SwitchedTo(3)) << "the keys had selected line 3, which OK applies";
}

class EndToEndWithDoomedMode : public EndToEnd {
protected:
    void Prepare() override
    {
        ASSERT_EQ(server.Run({"xrandr", "--newmode", "doomed", "84.00", "1000", "1010", "1020",
                              "1100", "700", "701", "702", "800"}).status, 0);
        ASSERT_EQ(server.Run({"xrandr", "--addmode", "VNC-0", "doomed"}).status, 0);
    }
};

TEST_F(EndToEndWithDoomedMode, ModeDeletedBeforeOkAppliesNothingAndTheWindowStays)
{
    const XrandrOutput before = QueryXrandr(server);
    ASSERT_EQ(before.modes.back().name, "doomed");
    ASSERT_EQ(server.Run({"xrandr", "--delmode", "VNC-0", "doomed"}).status, 0);
    auto keys = Downs(before.modes.size());
    keys.push_back("alt+o");
    Keys(keys);
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(SwitchedTo(0, 0ms)) << "still in the first mode";
    EXPECT_EQ(waitpid(app, nullptr, WNOHANG), 0) << "the program is still running";
    // And it still answers: another line switches.
    Keys({"Up", "alt+o"});
    EXPECT_TRUE(SwitchedTo(before.modes.size() - 2));
}

// One key or click of the platform list box's behaviour, from a fresh window or
// with line 3 selected, and the line OK then applies.
struct ListAction {
    const char* name;
    bool fromLine3;
    std::vector<std::vector<std::string>> xdotool;  // commands, each after "xdotool"
    int expected;  // the line applied; -1 the last line, -2 the last of the first page
};

// A line of the list, in pixels: Unifont at 12 points.
constexpr int kRowHeight = 16;

// Moves the pointer to the centre of line k: the list's place, its frame, whole lines.
std::vector<std::string> At(int k)
{
    return {"mousemove", "--window", "%1", "200", std::to_string(6 + kRowHeight * k + 8)};
}

void PrintTo(const ListAction& a, std::ostream* os) { *os << a.name; }

class ListActions : public EndToEnd, public testing::WithParamInterface<ListAction> {
protected:
    // More lines than the list shows, so that End and PageDown part ways.
    void Prepare() override { ASSERT_TRUE(AddModes(server, "VNC-0", "page", 8, 640, 400)); }
};

TEST_P(ListActions, SelectTheLineThePlatformWouldAndOkAppliesIt)
{
    const ListAction& a = GetParam();
    const size_t count = QueryXrandr(server).modes.size();
    ASSERT_GT(count, 14u) << "more lines than a page";
    if (a.fromLine3) Keys(Downs(4));
    for (std::vector<std::string> argv : a.xdotool) {
        for (std::string& arg : argv)
            if (arg == "%1") arg = window;
        argv.insert(argv.begin(), "xdotool");
        ASSERT_EQ(server.Run(argv).status, 0);
    }
    Keys({"alt+o"});
    const int rows = (196 - 4) / kRowHeight;
    const size_t k = a.expected == -1   ? count - 1
                     : a.expected == -2 ? static_cast<size_t>(std::min<int>(rows, count) - 1)
                                        : static_cast<size_t>(a.expected);
    const bool switched = SwitchedTo(k);
    const XrandrOutput out = QueryXrandr(server);
    size_t now = 0;
    while (now < out.modes.size() && !out.modes[now].current) ++now;
    EXPECT_TRUE(switched) << a.name << ": line " << k << " expected, the display is in line " << now;
}

const std::vector<std::string> kRight = {"click", "3"}, kMiddle = {"click", "2"};
INSTANTIATE_TEST_SUITE_P(
    Table, ListActions,
    testing::Values(
        ListAction{"Home", false, {{"key", "Home"}}, 0},
        ListAction{"CtrlHome", false, {{"key", "ctrl+Home"}}, 0},
        ListAction{"PageUp", false, {{"key", "Prior"}}, 0},
        ListAction{"Up", false, {{"key", "Up"}}, 0},
        ListAction{"ShiftDown", false, {{"key", "shift+Down"}}, 0},
        ListAction{"CtrlDown", false, {{"key", "ctrl+Down"}}, 0},
        ListAction{"End", false, {{"key", "End"}}, -1},
        ListAction{"PageDown", false, {{"key", "Next"}}, -2},
        ListAction{"CtrlClickOnTheSelected", true,
                   {At(3), {"keydown", "ctrl"}, {"click", "1"}, {"keyup", "ctrl"}}, 3},
        ListAction{"CtrlSpace", true, {{"key", "ctrl+space"}}, 3},
        ListAction{"RightClickElsewhere", true, {At(5), kRight}, 3},
        ListAction{"MiddleClickElsewhere", true, {At(5), kMiddle}, 3},
        ListAction{"LeftClickElsewhere", true, {At(5), {"click", "1"}}, 5},
        ListAction{"CtrlDownFromALine", true, {{"key", "ctrl+Down"}}, 4},
        ListAction{"ShiftUpFromALine", true, {{"key", "shift+Up"}}, 2}),
    [](const testing::TestParamInfo<ListAction>& p) { return std::string(p.param.name); });

TEST(NoDisplay, EndsWithOneClearLineAndStatusOne)
{
    TempDir dir;
    const struct {
        const char* display;
        const char* platform;  // QT_QPA_PLATFORM, empty for unset
    } cases[] = {{"DISPLAY=:32767", ""}, {"DISPLAY=:32767", "xcb"}, {"DISPLAY=", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.display) + " " + c.platform);
        const std::string err = dir.Path() + "/stderr";
        const std::string platform = std::string("QT_QPA_PLATFORM=") + c.platform;
        // An empty value reads as unset: the variables come from the test's environment.
        const pid_t app = SpawnCommand({TAVRIMO_BINARY},
                                       {c.display, platform, "WAYLAND_DISPLAY="}, err);
        int status = 0;
        ASSERT_EQ(waitpid(app, &status, 0), app);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
        const std::string text = ReadFile(err);
        EXPECT_EQ(text.rfind("tavrimo: cannot open display", 0), 0u) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    }
}

// A session bus that takes the connection and never answers the bus's Hello
// holds the window back by one bounded wait, not GLib's 25 s per look-up.
TEST(MuteSessionBus, TheWindowShowsWithinTwoSecondsOfTheTimeWithAWorkingBus)
{
    XvncServer server;
    SessionBus working;
    MuteBus mute(true);
    ASSERT_TRUE(server.Running() && working.Running() && mute.Running());
    TempDir config;
    const auto timeToWindow = [&](const std::string& bus) {
        const auto start = std::chrono::steady_clock::now();
        const pid_t app = SpawnCommand({TAVRIMO_BINARY},
                                       {server.DisplayEnv(), "XDG_CONFIG_HOME=" + config.Path(),
                                        "QT_QPA_PLATFORM=xcb", "WAYLAND_DISPLAY=",
                                        "DBUS_SESSION_BUS_ADDRESS=" + bus},
                                       config.Path() + "/stderr");
        const CommandResult found = server.Run({"timeout", "60", "xdotool", "search", "--sync",
                                                "--onlyvisible", "--name", "^Tavrimo$"});
        const auto took = std::chrono::steady_clock::now() - start;
        StopProcess(app);
        EXPECT_EQ(found.status, 0) << "no window with the bus at " << bus;
        return std::chrono::duration_cast<std::chrono::milliseconds>(took);
    };
    const auto normal = timeToWindow(working.Address());
    const auto muted = timeToWindow(mute.Address());
    EXPECT_LT(muted - normal, 2s) << "with a working bus " << normal.count() << " ms, with one "
                                  << "that never answers Hello " << muted.count() << " ms";
    EXPECT_EQ(mute.Connections(), 1);
}

// What the program does on its way to the window. Without a session bus it
// starts none: Qt's accessibility bridge would run dbus-launch, and the bus it
// starts outlives the program. Qt looks through no folder of style or image
// format plugins: the window names its style and carries its images decoded,
// and a desktop may have dozens of such plugins, each a file read cold.
TEST(StartUp, NoBusIsStartedAndNoStyleOrImageFormatPluginIsListed)
{
    XvncServer server;
    ASSERT_TRUE(server.Running());
    TempDir dir;
    const std::string marker = PlantCommand(dir.Path(), "dbus-launch");
    const pid_t app = SpawnCommand(
        {TAVRIMO_BINARY},
        {server.DisplayEnv(), "XDG_CONFIG_HOME=" + dir.Path(), "XDG_RUNTIME_DIR=" + dir.Path(),
         "QT_QPA_PLATFORM=xcb", "WAYLAND_DISPLAY=", "DBUS_SESSION_BUS_ADDRESS" /* unset */,
         "PATH=" + dir.Path() + ":" + std::getenv("PATH"), "QT_DEBUG_PLUGINS=1"},
        dir.Path() + "/stderr");
    const CommandResult found = server.Run({"timeout", "60", "xdotool", "search", "--sync",
                                            "--onlyvisible", "--name", "^Tavrimo$"});
    std::this_thread::sleep_for(500ms);  // the accessibility bridge may come after the window
    StopProcess(app);
    EXPECT_EQ(found.status, 0) << "no window";
    EXPECT_FALSE(std::filesystem::exists(marker)) << "dbus-launch ran";
    const std::string log = ReadFile(dir.Path() + "/stderr");
    EXPECT_NE(log.find("/platforms"), std::string::npos) << "Qt told nothing of its plugins";
    for (const char* folder : {"/styles", "/imageformats"})
        EXPECT_EQ(log.find(folder), std::string::npos) << "Qt looked through " << folder;
}

// What a screen reader reads of the window: each control of the window, then
// each line of the list, one a line as "role: name".
constexpr char kReadWindow[] = R"(
import sys, time, pyatspi
for _ in range(100):
    apps = [a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == "Tavrimo"]
    if apps and apps[0].childCount and apps[0][0].childCount and apps[0][0][0].childCount:
        break
    time.sleep(0.1)
else:
    sys.exit("no Tavrimo window with a list on the accessibility bus")
frame = apps[0][0]
for c in frame:
    print(c.getRoleName() + ": " + c.name)
for line in frame[0]:
    print(line.getRoleName() + ": " + line.name)
)";

// A desktop session as the program finds it: what the session sets, and the
// files its Qt integration reads from XDG_CONFIG_HOME.
struct DesktopSession {
    const char* name;
    std::vector<std::string> env;
    std::vector<std::pair<const char*, const char*>> files;  // path under the config folder, text
    const char* xResources = nullptr;  // merged into the server's for this session
};

// Plasma's settings as a Plasma 6 session has them: fonts the window does not
// use, a style and a colour scheme of its own.
constexpr char kKdeGlobals[] = R"([General]
ColorScheme=BreezeDark
font=Noto Sans,10,-1,5,400,0,0,0,0,0,0,0,0,0,0,1,Regular
fixed=Hack,10,-1,5,400,0,0,0,0,0,0,0,0,0,0,1,Regular
[KDE]
widgetStyle=Breeze
)";

// qt6ct with its dark palette and 14-point fonts.
constexpr char kQt6ct[] = R"([Appearance]
color_scheme_path=/usr/share/qt6ct/colors/darker.conf
custom_palette=true
style=Fusion
[Fonts]
fixed="Hack,14,-1,5,400,0,0,0,0,0,0,0,0,0,0,1,Regular"
general="Noto Sans,14,-1,5,400,0,0,0,0,0,0,0,0,0,0,1,Regular"
)";

TEST(DesktopLook, TheWindowIsThePlainOneInEverySession)
{
    XvncServer server;
    ASSERT_TRUE(server.Running()) << "Xvnc did not start";
    SessionBus bus;
    ASSERT_TRUE(bus.Running()) << "dbus-daemon did not start";
    const AccessibilityBus atspi(bus.Address());
    const size_t modes = QueryXrandr(server).modes.size();
    const DesktopSession sessions[] = {
        {"plain", {}, {}},
        {"Plasma", {"XDG_CURRENT_DESKTOP=KDE", "KDE_SESSION_VERSION=6", "KDE_FULL_SESSION=true"},
         {{"kdeglobals", kKdeGlobals}}},
        {"qt6ct", {"QT_QPA_PLATFORMTHEME=qt6ct"}, {{"qt6ct/qt6ct.conf", kQt6ct}}},
        {"started from /", {}, {}},
        {"style override", {"QT_STYLE_OVERRIDE=Windows"}, {}},
        // As Plasma's font settings set them on X11 and Xwayland.
        {"Xft subpixel order and full hinting", {}, {},
         "Xft.dpi: 96\nXft.antialias: 1\nXft.hinting: 1\nXft.hintstyle: hintfull\nXft.rgba: rgb\n"},
    };
    WindowImage plain;
    std::string plainRead;
    for (const DesktopSession& s : sessions) {
        SCOPED_TRACE(s.name);
        TempDir config;
        for (const auto& [path, text] : s.files) {
            const std::filesystem::path file = std::filesystem::path(config.Path()) / path;
            std::filesystem::create_directories(file.parent_path());
            std::ofstream(file) << text;
        }
        if (s.xResources != nullptr) {
            std::ofstream(config.Path() + "/resources") << s.xResources;
            ASSERT_EQ(server.Run({"xrdb", "-merge", config.Path() + "/resources"}).status, 0);
        }
        std::vector<std::string> env = {server.DisplayEnv(), "XDG_CONFIG_HOME=" + config.Path(),
                                        "QT_QPA_PLATFORM=xcb"};
        const std::vector<std::string> a11y = atspi.Env();
        env.insert(env.end(), a11y.begin(), a11y.end());
        env.insert(env.end(), s.env.begin(), s.env.end());
        // The plain window starts in a folder of its own; the sessions' start
        // in /, as a desktop's launcher starts programs.
        const std::string folder = plain.pixels.empty() ? config.Path() : "/";
        const pid_t app = SpawnCommand({"env", "-C", folder, TAVRIMO_BINARY}, env,
                                       config.Path() + "/stderr");
        const CommandResult found = server.Run({"timeout", "20", "xdotool", "search", "--sync",
                                                "--onlyvisible", "--name", "^Tavrimo$"});
        const WindowImage image =
            found.status == 0 ? ReadWindowImage(server, found.out.substr(0, found.out.find('\n')))
                              : WindowImage{};
        const CommandResult read = RunCommand({"timeout", "30", "/usr/bin/python3", "-c", kReadWindow},
                                              {"DBUS_SESSION_BUS_ADDRESS=" + bus.Address()});
        StopProcess(app);
        if (s.xResources != nullptr) server.Run({"xrdb", "-remove"});
        ASSERT_EQ(found.status, 0) << "the window did not appear";
        ASSERT_FALSE(image.pixels.empty()) << "the window could not be read";
        EXPECT_EQ(read.status, 0) << read.out;
        if (plain.pixels.empty()) {
            plain = image;
            plainRead = read.out;
            EXPECT_EQ(std::count(plainRead.begin(), plainRead.end(), '\n'),
                      static_cast<long>(3 + modes))
                << "the list, the button, the caption and every line:\n" << plainRead;
            continue;
        }
        EXPECT_EQ(DifferingPixels(plain, image), 0) << "pixels that differ from the plain window";
        EXPECT_EQ(read.out, plainRead);
    }
}

// The scale a session sets still scales the whole window in a Plasma session,
// whose own settings the window leaves out.
TEST(DesktopLook, TheSessionsScaleStillScalesTheWholeWindow)
{
    const struct {
        const char* name;
        const char* xftDpi;  // the X resource, or null
        std::vector<std::string> env;
        const char* geometry;  // as xdotool prints it
    } cases[] = {
        {"Xft.dpi 144", "144", {}, "630x362"},
        {"QT_SCALE_FACTOR 2", nullptr, {"QT_SCALE_FACTOR=2"}, "840x482"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        XvncServer server;
        ASSERT_TRUE(server.Running()) << "Xvnc did not start";
        if (c.xftDpi != nullptr) {
            const std::string resource = std::string("Xft.dpi: ") + c.xftDpi;
            ASSERT_EQ(RunCommand({"sh", "-c", "echo '" + resource + "' | xrdb -merge"},
                                 {server.DisplayEnv()}).status, 0);
        }
        TempDir config;
        std::vector<std::string> env = {server.DisplayEnv(), "XDG_CONFIG_HOME=" + config.Path(),
                                        "QT_QPA_PLATFORM=xcb", "XDG_CURRENT_DESKTOP=KDE",
                                        "KDE_SESSION_VERSION=6", "KDE_FULL_SESSION=true"};
        env.insert(env.end(), c.env.begin(), c.env.end());
        const pid_t app = SpawnCommand({TAVRIMO_BINARY}, env, config.Path() + "/stderr");
        const CommandResult found = server.Run({"timeout", "20", "xdotool", "search", "--sync",
                                                "--onlyvisible", "--name", "^Tavrimo$"});
        const CommandResult geometry =
            found.status == 0
                ? server.Run({"xdotool", "getwindowgeometry", found.out.substr(0, found.out.find('\n'))})
                : CommandResult{};
        StopProcess(app);
        ASSERT_EQ(found.status, 0) << "the window did not appear";
        EXPECT_NE(geometry.out.find(std::string("Geometry: ") + c.geometry), std::string::npos)
            << geometry.out;
    }
}

TEST_F(EndToEnd, ServerDeathEndsTheProgramWithinASecond)
{
    server.Kill();
    const auto deadline = std::chrono::steady_clock::now() + 1s;
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(app, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    ASSERT_EQ(done, app) << "still running a second after the X server died";
    app = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
    std::ifstream err(config.Path() + "/stderr");
    std::string text((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("X11"), std::string::npos) << "stderr: " << text;
}

}  // namespace
