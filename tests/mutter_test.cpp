// The Mutter layer against a real Mutter on a private session bus: nested in
// an Xvnc with two dummy monitors, headless with two virtual monitors of one
// mode each, and as the X11 window manager of an Xvnc; each where the
// installed Mutter still offers it.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "compositor.h"
#include "fake_display_config.h"
#include "modes.h"
#include "mutter_display_settings.h"
#include "mutter_layouts.h"
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
    // A nested Mutter beside another suite on two cores can take its time.
    CommandResult found;
    for (int tries = 0; tries < 2 && found.status != 0; ++tries)
        found = xdotool({"search", "--sync", "--onlyvisible", "--name", "^Tavrimo$"});
    ASSERT_EQ(found.status, 0) << (kill(app, 0) == 0 ? "the program runs, with no window; "
                                                      : "the program is gone; ")
                               << ReadFile(mutter->ConfigHome() + "/stderr");
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
    // Headless, the line is the mode already shown: only the stored file
    // tells that OK has been handled.
    const std::string rate = "<rate>" + std::to_string(std::lround(want.refresh));
    std::string now;
    for (int i = 0; i < 50 && ((now = Current(First())) != want.id ||
                               MonitorsXml().find(rate) == std::string::npos);
         ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(now, want.id);
    EXPECT_NE(MonitorsXml().find(rate), std::string::npos) << "OK had Mutter store the mode";
    EXPECT_FALSE(fs::exists(LoginEntry())) << "no login entry on GNOME";
    StopProcess(app);
}

INSTANTIATE_TEST_SUITE_P(Kinds, MutterSessions, testing::Values(Kind::Nested, Kind::Headless),
                         [](const testing::TestParamInfo<Kind>& p) {
                             return std::string(p.param == Kind::Nested ? "Nested" : "Headless");
                         });

// One Mutter with three dummy monitors takes every row in turn: the test sets
// the row's layout, then the program switches LVDS1 as it would on OK.
TEST(MutterLayouts, EveryLayoutMutterTookBeforeASwitchItTakesAfterWithEverythingElseKept)
{
    if (!InstalledMutter().nested) GTEST_SKIP() << "this Mutter has no nested session";
    XvncServer x{{"-geometry", "1600x900"}};
    MutterSession mutter(x, MutterSession::Kind::Nested, kDummyModes, 3);
    ASSERT_TRUE(mutter.Running()) << mutter.Log();
    setenv("XDG_CONFIG_HOME", mutter.ConfigHome().c_str(), 1);
    const std::string bus = mutter.BusAddress();
    ApplyCallRecorder calls(bus);
    ASSERT_TRUE(calls.Watching());
    bool sawColorMode = false;
    for (const LayoutRow& row : LayoutRows()) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(ApplyConfig(bus, row.config), "");
        for (const char* target : kSwitchTargets) {
            SCOPED_TRACE(target);
            const ReadState before = ReadConfig(bus);
            ASSERT_TRUE(before.read);
            MutterDisplaySettings layer(bus.c_str());
            const auto modes = Enumerate(layer);
            const size_t callsBefore = calls.Calls().size();
            const MutterState state = mutter.State();
            const MutterMonitor* lvds1 = state.Monitor("LVDS1");
            ASSERT_TRUE(lvds1 != nullptr && lvds1->modes.size() == modes.size());
            size_t k = 0;
            while (k < modes.size() && lvds1->modes[k].id != target) ++k;
            ASSERT_LT(k, modes.size());
            ASSERT_EQ(layer.ChangeDisplaySettingsA(&modes[k], dsp::kUpdateRegistry),
                      dsp::kDispChangeSuccessful)
                << layer.ApplyError();

            const ReadState after = ReadConfig(bus);
            EXPECT_EQ(LayoutFault(before.Rects(), after.Rects()), "");
            // Mutter 48 and later announce each monitor's colour mode: the call
            // carries it back for every monitor that is on.
            std::vector<std::string> seen;
            for (int i = 0; i < 40 && (seen = calls.Calls()).size() <= callsBefore; ++i)
                std::this_thread::sleep_for(50ms);
            ASSERT_GT(seen.size(), callsBefore);
            const std::string sent = seen.back();
            size_t announced = 0;
            for (const ReadMonitor& m : before.monitors) {
                const size_t at = m.properties.find("'color-mode': ");
                if (at == std::string::npos || before.LogicalOf(m.connector) == nullptr) continue;
                ++announced;
                const std::string value = m.properties.substr(at, m.properties.find('>', at) - at);
                EXPECT_NE(sent.find(value), std::string::npos) << m.connector << " " << value;
            }
            size_t carried = 0;
            for (size_t at = sent.find("'color-mode'"); at != std::string::npos;
                 at = sent.find("'color-mode'", at + 1))
                ++carried;
            EXPECT_EQ(carried, announced) << sent;
            if (announced > 0) sawColorMode = true;
            const ConfigLogical* changed = after.LogicalOf("LVDS1");
            ASSERT_NE(changed, nullptr);
            EXPECT_TRUE(changed->primary);
            for (const ConfigMonitor& m : changed->monitors)
                EXPECT_EQ(m.mode, target) << m.connector << " mirrors LVDS1";
            for (const ReadMonitor& m : before.monitors) {
                const ReadMonitor* now = after.Monitor(m.connector);
                ASSERT_NE(now, nullptr);
                EXPECT_EQ(now->properties, m.properties) << m.connector;
                const ConfigLogical* lm = before.LogicalOf(m.connector);
                if (lm != nullptr && lm->monitors[0].connector != "LVDS1" &&
                    lm != before.LogicalOf("LVDS1")) {
                    EXPECT_EQ(now->mode, m.mode) << m.connector;
                    EXPECT_EQ(after.LogicalOf(m.connector)->transform, lm->transform);
                }
                if (lm == nullptr) {
                    EXPECT_EQ(after.LogicalOf(m.connector), nullptr) << m.connector << " stays off";
                }
            }
        }
    }
    RecordProperty("color_mode_carried", sawColorMode ? "yes" : "not announced");
}

// Mutter's own policy turns configuring over D-Bus off: the refusal is final.
TEST(MutterPolicy, ConfiguringOverDBusTurnedOffFailsAtOnceInMuttersWords)
{
    if (!InstalledMutter().nested) GTEST_SKIP() << "this Mutter has no nested session";
    TempDir system;
    std::ofstream(system.Path() + "/monitors.xml")
        << "<monitors version=\"2\"><policy><dbus>no</dbus></policy></monitors>\n";
    setenv("XDG_CONFIG_DIRS", system.Path().c_str(), 1);
    XvncServer x{{"-geometry", "2800x1000"}};
    MutterSession mutter(x, MutterSession::Kind::Nested);
    ASSERT_TRUE(mutter.Running()) << mutter.Log();
    setenv("XDG_CONFIG_HOME", mutter.ConfigHome().c_str(), 1);
    MutterDisplaySettings layer(mutter.BusAddress().c_str());
    const auto modes = Enumerate(layer);
    ASSERT_EQ(modes.size(), 4u);
    const std::string before = mutter.State().Monitor("LVDS1")->Current()->id;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[3], dsp::kUpdateRegistry),
              dsp::kDispChangeFailed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_NE(layer.ApplyError().find("Monitor configuration via D-Bus is disabled"),
              std::string::npos)
        << layer.ApplyError();
    EXPECT_EQ(mutter.State().Monitor("LVDS1")->Current()->id, before);
}

// Monitors as a newer Mutter announces them: DP-1 in HDR, HDMI-1 underscanned
// with a limited RGB range, a headset offered for lease; and as Mutter 43
// does, with none of it. What was announced comes back in the call, unchanged.
TEST(MutterFake, TheCallCarriesBackWhatEachMonitorAnnouncedAndNothingElse)
{
    const std::string modes1 =
        "[('1920x1080@60.000', 1920, 1080, 60.0, 1.0, [1.0], {'is-current': <true>}),"
        " ('1280x720@60.000', 1280, 720, 60.0, 1.0, [1.0], @a{sv} {})]";
    const std::string modes2 = "[('1920x1080@60.000', 1920, 1080, 60.0, 1.0, [1.0], "
                               "{'is-current': <true>})]";
    const std::string logical = "[(0, 0, 1.0, uint32 0, true, [('DP-1', 'V', 'P', 'S1')], "
                                "@a{sv} {}), (1920, 0, 1.0, 0, false, [('HDMI-1', 'V', 'P', "
                                "'S2')], {})], {'layout-mode': <uint32 1>})";
    struct Case {
        const char* name;
        std::string state;
        std::vector<std::string> sent;
    };
    const Case cases[] = {
        {"newer Mutter",
         "([(('DP-1', 'V', 'P', 'S1'), " + modes1 +
             ", {'color-mode': <uint32 1>, 'supported-color-modes': <[uint32 0, 1]>,"
             " 'is-for-lease': <false>, 'display-name': <'Built-in'>}),"
             " (('HDMI-1', 'V', 'P', 'S2'), " + modes2 +
             ", {'is-underscanning': <true>, 'color-mode': <uint32 0>, 'rgb-range': <uint32 2>,"
             " 'is-for-lease': <false>}),"
             " (('HMD-1', 'V', 'Headset', 'S3'), [('2160x1200@90.000', 2160, 1200, 90.0, 1.0,"
             " [1.0], @a{sv} {})], {'is-for-lease': <true>})], " + logical,
         {"(0, 0, 1.0, uint32 0, true, [('DP-1', '1280x720@60.000', {'color-mode': <uint32 1>})])",
          "(1280, 0, 1.0, 0, false, [('HDMI-1', '1920x1080@60.000', {'underscanning': <true>, "
          "'color-mode': <uint32 0>, 'rgb-range': <uint32 2>})])",
          "{'monitors-for-lease': <[('HMD-1', 'V', 'Headset', 'S3')]>}"}},
        {"Mutter 43",
         "([(('DP-1', 'V', 'P', 'S1'), " + modes1 + ", {'display-name': <'Built-in'>}),"
             " (('HDMI-1', 'V', 'P', 'S2'), " + modes2 + ", @a{sv} {})], " + logical,
         {"[('DP-1', '1280x720@60.000', @a{sv} {})]", "[('HDMI-1', '1920x1080@60.000', {})]",
          "{})"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SessionBus bus;
        FakeDisplayConfig mutter(bus.Address(), c.state);
        ASSERT_TRUE(mutter.Running());
        MutterDisplaySettings layer(bus.Address().c_str());
        const auto modes = Enumerate(layer);
        ASSERT_EQ(modes.size(), 2u);
        ASSERT_EQ(layer.ChangeDisplaySettingsA(&modes[1], 0), dsp::kDispChangeSuccessful)
            << layer.ApplyError();
        const auto calls = mutter.Calls();
        ASSERT_EQ(calls.size(), 1u);
        for (const std::string& part : c.sent)
            EXPECT_NE(calls[0].find(part), std::string::npos) << part << "\nin " << calls[0];
    }
}

// DP-2 mirrors DP-1 and has 1280x720 only at 50 and 59.94 Hz, and no 800x600.
TEST(MutterFake, MirrorsTakeTheSameSizeAtTheNearestRateOrNothingIsSent)
{
    SessionBus bus;
    FakeDisplayConfig mutter(
        bus.Address(),
        "([(('DP-1', 'V', 'P', 'S1'), [('1920x1080@60.000', 1920, 1080, 60.0, 1.0, [1.0],"
        " {'is-current': <true>}), ('1280x720@60.000', 1280, 720, 60.0, 1.0, [1.0], @a{sv} {}),"
        " ('800x600@60.000', 800, 600, 60.0, 1.0, [1.0], {})], @a{sv} {}),"
        " (('DP-2', 'V', 'P', 'S2'), [('1920x1080@60.000', 1920, 1080, 60.0, 1.0, [1.0],"
        " {'is-current': <true>}), ('1280x720@50.000', 1280, 720, 50.0, 1.0, [1.0], @a{sv} {}),"
        " ('1280x720@59.940', 1280, 720, 59.94, 1.0, [1.0], {})], {})],"
        " [(0, 0, 1.0, uint32 0, true, [('DP-1', 'V', 'P', 'S1'), ('DP-2', 'V', 'P', 'S2')],"
        " @a{sv} {})], @a{sv} {})");
    ASSERT_TRUE(mutter.Running());
    MutterDisplaySettings layer(bus.Address().c_str());
    const auto modes = Enumerate(layer);
    ASSERT_EQ(modes.size(), 3u);
    ASSERT_EQ(layer.ChangeDisplaySettingsA(&modes[1], 0), dsp::kDispChangeSuccessful)
        << layer.ApplyError();
    ASSERT_EQ(mutter.Calls().size(), 1u);
    EXPECT_NE(mutter.Calls()[0].find("[('DP-1', '1280x720@60.000', @a{sv} {}), "
                                     "('DP-2', '1280x720@59.940', {})]"),
              std::string::npos)
        << mutter.Calls()[0];
    EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[2], 0), dsp::kDispChangeBadMode);
    EXPECT_EQ(mutter.Calls().size(), 1u) << "nothing is sent";
    EXPECT_NE(layer.ApplyError().find("DP-2"), std::string::npos) << layer.ApplyError();
}

// AccessDenied is sent again only when a fresh read shows the serial moved.
TEST(MutterFake, AStaleSerialIsRetriedAnyOtherAccessDeniedFailsAtOnce)
{
    SessionBus bus;
    FakeDisplayConfig mutter(
        bus.Address(),
        "([(('DP-1', 'V', 'P', 'S1'), [('1920x1080@60.000', 1920, 1080, 60.0, 1.0, [1.0],"
        " {'is-current': <true>}), ('1280x720@60.000', 1280, 720, 60.0, 1.0, [1.0], @a{sv} {})],"
        " @a{sv} {})], [(0, 0, 1.0, uint32 0, true, [('DP-1', 'V', 'P', 'S1')], @a{sv} {})],"
        " @a{sv} {})");
    ASSERT_TRUE(mutter.Running());
    MutterDisplaySettings layer(bus.Address().c_str());
    const auto modes = Enumerate(layer);
    ASSERT_EQ(modes.size(), 2u);

    mutter.Refuse(1, "The requested configuration is based on stale information", true);
    EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[1], 0), dsp::kDispChangeSuccessful);
    auto calls = mutter.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(calls[0].starts_with("(uint32 1,")) << calls[0];
    EXPECT_TRUE(calls[1].starts_with("(uint32 2,")) << calls[1];

    mutter.Refuse(3, "Invalid layout mode specified", false);
    EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[1], 0), dsp::kDispChangeFailed);
    EXPECT_EQ(mutter.Calls().size(), 3u) << "sent once";
    EXPECT_NE(layer.ApplyError().find("Invalid layout mode specified"), std::string::npos)
        << layer.ApplyError();
}

// Whoever owns the name may send any state of the right type: one that cannot
// be is refused, when read at start and when read again at OK, and nothing
// is sent.
TEST(MutterFake, AStateThatCannotBeIsRefusedAtStartAndAtOk)
{
    const auto monitor = [](const std::string& connector, const std::string& secondMode) {
        return "(('" + connector + "', 'V', 'P', 'S'), [('1920x1080@60.000', 1920, 1080, 60.0, "
               "1.0, [1.0], {'is-current': <true>}), " + secondMode + "], @a{sv} {})";
    };
    const std::string mode720 = "('1280x720@60.000', 1280, 720, 60.0, 1.0, [1.0], @a{sv} {})";
    const auto logical = [](const std::string& x, const std::string& scale,
                            const std::string& transform, const std::string& specs) {
        return "(" + x + ", 0, " + scale + ", uint32 " + transform + ", " +
               (x == "0" ? "true" : "false") + ", @a(ssss) [" + specs + "], @a{sv} {})";
    };
    const std::string dp1 = "('DP-1', 'V', 'P', 'S')";
    const auto state = [&](const std::string& monitors, const std::string& logicals) {
        return "([" + monitors + "], [" + logicals + "], @a{sv} {})";
    };
    const std::string good = state(monitor("DP-1", mode720), logical("0", "1.0", "0", dp1));
    const struct {
        const char* name;
        std::string state;
    } cases[] = {
        {"a logical monitor without monitors",
         state(monitor("DP-1", mode720),
               logical("0", "1.0", "0", dp1) + ", " + logical("1920", "1.0", "0", ""))},
        {"a monitor referenced but not listed",
         state(monitor("DP-1", mode720),
               logical("0", "1.0", "0", dp1) + ", " +
                   logical("1920", "1.0", "0", "('HDMI-9', 'V', 'P', 'S')"))},
        {"a connector listed twice",
         state(monitor("DP-1", mode720) + ", " + monitor("DP-1", mode720),
               logical("0", "1.0", "0", dp1))},
        {"a monitor in two logical monitors",
         state(monitor("DP-1", mode720),
               logical("0", "1.0", "0", dp1) + ", " + logical("1920", "1.0", "0", dp1))},
        {"a mode listed twice",
         state(monitor("DP-1", "('1920x1080@60.000', 1920, 1080, 60.0, 1.0, [1.0], @a{sv} {})"),
               logical("0", "1.0", "0", dp1))},
        {"a mode of zero width",
         state(monitor("DP-1", "('0x720', 0, 720, 60.0, 1.0, [1.0], @a{sv} {})"),
               logical("0", "1.0", "0", dp1))},
        {"a mode of negative height",
         state(monitor("DP-1", "('1280x-720', 1280, -720, 60.0, 1.0, [1.0], @a{sv} {})"),
               logical("0", "1.0", "0", dp1))},
        {"a mode at NaN Hz",
         state(monitor("DP-1", "('1280x720@nan', 1280, 720, nan, 1.0, [1.0], @a{sv} {})"),
               logical("0", "1.0", "0", dp1))},
        {"a mode with a NaN scale",
         state(monitor("DP-1", "('1280x720@60.000', 1280, 720, 60.0, 1.0, [nan], @a{sv} {})"),
               logical("0", "1.0", "0", dp1))},
        {"a logical monitor at a NaN scale",
         state(monitor("DP-1", mode720), logical("0", "nan", "0", dp1))},
        {"a logical monitor at scale 0",
         state(monitor("DP-1", mode720), logical("0", "0.0", "0", dp1))},
        {"a transform that does not exist",
         state(monitor("DP-1", mode720), logical("0", "1.0", "9", dp1))},
    };
    SessionBus bus;
    FakeDisplayConfig mutter(bus.Address(), good);
    ASSERT_TRUE(mutter.Running());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(mutter.SetState(good));
        MutterDisplaySettings layer(bus.Address().c_str());
        const auto modes = Enumerate(layer);
        ASSERT_EQ(modes.size(), 2u) << layer.Error();
        ASSERT_TRUE(mutter.SetState(c.state)) << c.state;
        EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[1], 0), dsp::kDispChangeFailed);
        EXPECT_NE(layer.ApplyError().find("cannot be"), std::string::npos) << layer.ApplyError();

        MutterDisplaySettings atStart(bus.Address().c_str());
        EXPECT_NE(atStart.Error().find("cannot be"), std::string::npos) << atStart.Error();
        EXPECT_TRUE(Enumerate(atStart).empty());
    }
    EXPECT_TRUE(mutter.Calls().empty()) << mutter.Calls().front();
}

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
