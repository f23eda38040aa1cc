// The Mutter layer against a real Mutter on a private session bus: nested in
// an Xvnc with two dummy monitors, headless with two virtual monitors of one
// mode each, and as the X11 window manager of an Xvnc; each where the
// installed Mutter still offers it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "compositor.h"
#include "modes.h"
#include "mutter_display_settings.h"
#include "xdg_paths.h"

// The session a parameterised test runs in, as its name shows it.
static void PrintTo(MutterSession::Kind kind, std::ostream* os)
{
    *os << (kind == MutterSession::Kind::Headless ? "headless"
            : kind == MutterSession::Kind::Nested ? "nested"
                                                  : "x11");
}

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using Kind = MutterSession::Kind;

// Why a test of several modes on one monitor does not run headless.
constexpr const char* kOneModeEach =
    "a virtual monitor has one mode; several modes on one monitor are tested on the nested "
    "session (Mutter 43, 48) and the fakes";

class MutterSessions : public testing::TestWithParam<Kind> {
protected:
    void SetUp() override
    {
        if (!Offered()) GTEST_SKIP() << "this Mutter has no " << Name() << " session";
        mutter = std::make_unique<MutterSession>(x, GetParam(), Specs());
        ASSERT_TRUE(mutter->Running()) << mutter->Log();
        setenv("XDG_CONFIG_HOME", mutter->ConfigHome().c_str(), 1);
    }

    bool Headless() const { return GetParam() == Kind::Headless; }
    bool Offered() const
    {
        return Headless() ? InstalledMutter().headless : InstalledMutter().nested;
    }
    std::string Name() const { return Headless() ? "headless" : "nested"; }
    const char* Specs() const { return Headless() ? kVirtualMonitors : kDummyModes; }
    // The primary monitor.
    std::string First() const { return Headless() ? "Meta-0" : "LVDS1"; }

    std::string Current(const std::string& connector) const
    {
        const MutterState st = mutter->State();
        const MutterMonitor* m = st.Monitor(connector);
        return m && m->Current() ? m->Current()->id : "";
    }

    // Waits for Mutter to have written monitors.xml; its text.
    std::string MonitorsXml() const
    {
        std::string xml;
        for (int i = 0; i < 50 && (xml = ReadFile(mutter->ConfigHome() + "/monitors.xml")).empty();
             ++i)
            std::this_thread::sleep_for(100ms);
        return xml;
    }

    fs::path LoginEntry() const { return fs::path(AutostartDir()) / kAutostartFileName; }

    XvncServer x{{"-geometry", "2800x1000"}};
    std::unique_ptr<MutterSession> mutter;
};

TEST_P(MutterSessions, ListsThePrimaryMonitorsModesInMuttersOrder)
{
    MutterDisplaySettings layer(mutter->BusAddress().c_str());
    ASSERT_EQ(layer.Error(), "");
    EXPECT_EQ(layer.Connector(), First());
    const auto modes = Enumerate(layer);
    const MutterState st = mutter->State();
    const MutterMonitor* primary = st.Monitor(First());
    ASSERT_NE(primary, nullptr);
    ASSERT_EQ(modes.size(), primary->modes.size());
    ASSERT_EQ(modes.size(), Headless() ? 1u : 4u);
    for (size_t i = 0; i < modes.size(); ++i) {
        EXPECT_EQ(modes[i].dmPelsWidth, primary->modes[i].width) << i;
        EXPECT_EQ(modes[i].dmPelsHeight, primary->modes[i].height) << i;
        EXPECT_EQ(modes[i].dmDisplayFrequency, std::lround(primary->modes[i].refresh)) << i;
        EXPECT_EQ(modes[i].dmBitsPerPel, 32);
        EXPECT_EQ(modes[i].dmDeviceName, First());
    }
}

TEST_P(MutterSessions, AppliesExactlyTheChosenModeKeepsTheOtherMonitorAndTheLayoutAdjacent)
{
    if (Headless()) GTEST_SKIP() << kOneModeEach;
    MutterDisplaySettings layer(mutter->BusAddress().c_str());
    const auto modes = Enumerate(layer);
    const MutterMonitor before = *mutter->State().Monitor("LVDS1");
    const std::string lvds2 = Current("LVDS2");
    // Smaller, then larger, then the two lines of equal text: 30 Hz, then 60 Hz.
    for (const std::string id :
         {"800x600@60.000", "1024x768@60.000", "1280x720@30.000", "1280x720@60.000"}) {
        SCOPED_TRACE(id);
        size_t k = 0;
        while (k < before.modes.size() && before.modes[k].id != id) ++k;
        ASSERT_LT(k, modes.size());
        EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[k], dsp::kUpdateRegistry),
                  dsp::kDispChangeSuccessful);
        const MutterState st = mutter->State();
        EXPECT_EQ(st.Monitor("LVDS1")->Current()->id, id);
        EXPECT_EQ(st.Monitor("LVDS2")->Current()->id, lvds2);
        const MutterLogicalMonitor* left = st.LogicalOf("LVDS1");
        const MutterLogicalMonitor* right = st.LogicalOf("LVDS2");
        ASSERT_TRUE(left && right);
        EXPECT_TRUE(left->primary);
        EXPECT_EQ(right->x, left->x + st.Monitor("LVDS1")->Current()->width) << "adjacent";
    }
}

TEST_P(MutterSessions, PersistsInMonitorsXmlInsteadOfALoginEntryAndComesBackAfterRestart)
{
    fs::create_directories(LoginEntry().parent_path());
    std::ofstream(LoginEntry()) << "[Desktop Entry]\nExec=xrandr --output X --mode 640x480\n";
    MutterDisplaySettings layer(mutter->BusAddress().c_str());
    const auto modes = Enumerate(layer);
    ASSERT_EQ(modes.size(), Headless() ? 1u : 4u);
    // Nested: away from the current 1280x720; headless: the one mode, which Mutter still stores.
    const size_t k = Headless() ? 0 : 1;
    const std::string id = mutter->State().Monitor(First())->modes[k].id;
    ASSERT_EQ(layer.ChangeDisplaySettingsA(&modes[k], dsp::kUpdateRegistry),
              dsp::kDispChangeSuccessful);
    EXPECT_FALSE(fs::exists(LoginEntry())) << "our older entry would override GNOME's at login";
    // Mutter writes the file a moment after it answers.
    const std::string xml = MonitorsXml();
    EXPECT_NE(xml.find("<width>" + std::to_string(modes[k].dmPelsWidth) + "</width>"),
              std::string::npos)
        << xml;

    ASSERT_TRUE(mutter->Restart(Specs())) << mutter->Log();
    EXPECT_EQ(Current(First()), id);
}

TEST_P(MutterSessions, ASymlinkInPlaceOfTheLoginEntryIsLeftAlone)
{
    fs::create_directories(LoginEntry().parent_path());
    fs::create_symlink("/dev/null", LoginEntry());
    MutterDisplaySettings layer(mutter->BusAddress().c_str());
    const auto modes = Enumerate(layer);
    ASSERT_EQ(layer.ChangeDisplaySettingsA(&modes[0], dsp::kUpdateRegistry),
              dsp::kDispChangeSuccessful);
    EXPECT_TRUE(fs::is_symlink(LoginEntry()));
}

TEST_P(MutterSessions, AModeThatVanishedBeforeOkAppliesNothingAndMuttersDeathKillsNothing)
{
    MutterDisplaySettings layer(mutter->BusAddress().c_str());
    const auto modes = Enumerate(layer);
    ASSERT_EQ(modes.size(), Headless() ? 1u : 4u);
    ASSERT_TRUE(mutter->Restart("1024x768@60:800x600@60")) << mutter->Log();
    const std::string before = Current(First());
    // Nested, line 2 was 1280x720@30.000; headless, line 0 was 1280x720@60.000. The new Mutter
    // has neither.
    const size_t gone = Headless() ? 0 : 2;
    EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[gone], dsp::kUpdateRegistry),
              dsp::kDispChangeBadMode);
    EXPECT_EQ(Current(First()), before);
    EXPECT_FALSE(fs::exists(LoginEntry()));

    mutter->Stop();
    EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[0], dsp::kUpdateRegistry),
              dsp::kDispChangeFailed);
}

TEST_P(MutterSessions, RealProgramChoosesALineAndOkSwitchesTheMonitor)
{
    // Nested: line 2, 1280x720@30.000 as Mutter orders them; headless: the one line, which
    // Mutter then stores.
    const int line = Headless() ? 0 : 2;
    const MutterMode want = mutter->State().Monitor(First())->modes[line];
    const AccessibilityBus a11y(mutter->BusAddress());
    std::vector<std::string> env = mutter->ClientEnv();
    env.push_back("QT_QPA_PLATFORM=xcb");
    for (const std::string& e : a11y.Env()) env.push_back(e);
    const pid_t app = SpawnCommand({TAVRIMO_BINARY}, env, mutter->ConfigHome() + "/stderr");
    const auto xdotool = [&](std::vector<std::string> argv) {
        argv.insert(argv.begin(), {"timeout", "20", "xdotool"});
        return RunCommand(argv, mutter->ClientEnv());
    };
    const CommandResult found =
        xdotool({"search", "--sync", "--onlyvisible", "--name", "^Tavrimo$"});
    ASSERT_EQ(found.status, 0) << ReadFile(mutter->ConfigHome() + "/stderr");
    if (XtestReachesXwayland()) {
        // The first Down selects line 0.
        std::vector<std::string> keys = {"key", "--delay", "40"};
        keys.insert(keys.end(), static_cast<size_t>(line + 1), "Down");
        keys.push_back("alt+o");
        ASSERT_EQ(xdotool(keys).status, 0);
    } else {
        const CommandResult chose = a11y.ChooseLine(line);
        ASSERT_EQ(chose.status, 0) << chose.out;
    }
    std::string now;
    for (int i = 0; i < 50 && (now = Current(First())) != want.id; ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(now, want.id);
    EXPECT_NE(MonitorsXml().find("<rate>" + std::to_string(std::lround(want.refresh))),
              std::string::npos)
        << "OK had Mutter store the mode";
    EXPECT_FALSE(fs::exists(LoginEntry())) << "no login entry on GNOME";
    StopProcess(app);
}

INSTANTIATE_TEST_SUITE_P(Kinds, MutterSessions, testing::Values(Kind::Nested, Kind::Headless),
                         [](const testing::TestParamInfo<Kind>& p) {
                             return std::string(p.param == Kind::Nested ? "Nested" : "Headless");
                         });

TEST(MutterX11, ListsAndSwitchesTheXServersModes)
{
    if (!InstalledMutter().x11) GTEST_SKIP() << "this Mutter has no X11 backend";
    XvncServer x;
    MutterSession mutter(x, MutterSession::Kind::X11);
    ASSERT_TRUE(mutter.Running()) << mutter.Log();
    TempDir config;
    setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    MutterDisplaySettings layer(mutter.BusAddress().c_str());
    ASSERT_EQ(layer.Error(), "");
    EXPECT_EQ(layer.Connector(), "VNC-0");
    const auto modes = Enumerate(layer);
    ASSERT_GE(modes.size(), 3u);
    const MutterMonitor* vnc = mutter.State().Monitor("VNC-0");
    ASSERT_NE(vnc, nullptr);
    const size_t k = 2;
    EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[k], dsp::kUpdateRegistry),
              dsp::kDispChangeSuccessful);
    const XrandrOutput out = QueryXrandr(x);
    EXPECT_EQ(out.screenWidth, modes[k].dmPelsWidth);
    EXPECT_EQ(out.screenHeight, modes[k].dmPelsHeight);
    EXPECT_FALSE(fs::exists(config.Path() + "/autostart"));
}

}  // namespace
