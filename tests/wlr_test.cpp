// The wlroots layer against a real headless sway run as an unprivileged
// user: the listing of the focused output, a custom-mode switch that leaves
// the other heads exactly alone, sway's configuration file that keeps a line
// per output, the registry's choice on sway's Xwayland, and the real program
// driven through that Xwayland.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "backend_registry.h"
#include "compositor.h"
#include "modes.h"
#include "wlr_display_settings.h"
#include "wlr_sway_config.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::optional<SwaySession::Output> Shown(const SwaySession& sway, const std::string& name)
{
    for (const auto& o : sway.Outputs())
        if (o.name == name) return o;
    return std::nullopt;
}

// Waits for sway to show output name at width x height.
bool Shows(const SwaySession& sway, const std::string& name, int width, int height)
{
    for (int i = 0; i < 50; ++i) {
        const auto o = Shown(sway, name);
        if (o && o->width == width && o->height == height) return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

std::string ModeFile() { return SwayModeDir() + "/" + kSwayModeFileName; }

// The line that keeps output name in the mode sway shows it in now, with
// sway's rate where it names one (headless outputs have none from wlroots
// 0.18 on).
std::string ShownLine(const SwaySession& sway, const std::string& name)
{
    const auto o = Shown(sway, name);
    if (!o) return "";
    const std::string rate =
        o->refresh.empty() || std::stod(o->refresh) == 0 ? "" : "@" + o->refresh + "Hz";
    return "output " + name + " mode " + std::to_string(o->width) + "x" +
           std::to_string(o->height) + rate + "\n";
}

class Sway : public testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sway.Running()) << sway.Log();
        UseEnv(sway.ClientEnv());
    }

    std::optional<SwaySession::Output> Shown(const std::string& name) const
    {
        return ::Shown(sway, name);
    }
    bool Shows(const std::string& name, int width, int height) const
    {
        return ::Shows(sway, name, width, height);
    }
    std::string ShownLine(const std::string& name) const { return ::ShownLine(sway, name); }

    bool Included() const { return GetParam(); }
    SwaySession sway{Included()};
};

TEST_P(Sway, HeadsWithoutModesListTheirSizeAndSwitchBackToIt)
{
    WlrDisplaySettings layer;
    ASSERT_EQ(layer.Error(), "");
    const std::string name = layer.OutputName();
    const auto modes = Enumerate(layer);
    ASSERT_EQ(modes.size(), 1u) << "headless heads offer no mode objects";
    EXPECT_EQ(modes[0].dmPelsWidth, 1280);
    EXPECT_EQ(modes[0].dmPelsHeight, 720);
    // sway 1.7 names 60 Hz; wlroots 0.18 and later name no rate for a headless output.
    const auto shown = Shown(name);
    ASSERT_TRUE(shown);
    EXPECT_EQ(modes[0].dmDisplayFrequency, std::lround(std::stod(shown->refresh)));
    EXPECT_EQ(modes[0].dmBitsPerPel, 32);
    EXPECT_EQ(modes[0].dmDeviceName, name);

    ASSERT_EQ(sway.Msg({"output", name, "mode", "800x600@60Hz"}).status, 0);
    ASSERT_TRUE(Shows(name, 800, 600));
    const auto others = sway.Outputs();
    const int32_t result = layer.ChangeDisplaySettingsA(&modes[0], dsp::kUpdateRegistry);
    EXPECT_EQ(result, Included() ? dsp::kDispChangeSuccessful : dsp::kDispChangeNotUpdated);
    EXPECT_TRUE(Shows(name, 1280, 720));
    for (const auto& before : others) {
        if (before.name == name) continue;
        const auto after = Shown(before.name);
        ASSERT_TRUE(after) << before.name;
        EXPECT_EQ(after->width, before.width);
        EXPECT_EQ(after->height, before.height);
        EXPECT_EQ(after->refresh, before.refresh);
        EXPECT_EQ(after->x, before.x);
        EXPECT_EQ(after->y, before.y);
    }

    if (!Included()) {
        EXPECT_FALSE(fs::exists(ModeFile())) << "sway would never read it";
        return;
    }
    EXPECT_EQ(ReadFile(ModeFile()), ShownLine(name));
    EXPECT_TRUE(ReadFile(ModeFile()).starts_with("output " + name + " mode 1280x720"));
    // What the file says, sway applies again when it reads its configuration.
    sway.GiveConfigToUser();
    ASSERT_EQ(sway.Msg({"output", name, "mode", "800x600@60Hz"}).status, 0);
    ASSERT_TRUE(Shows(name, 800, 600));
    ASSERT_EQ(sway.Msg({"reload"}).status, 0);
    EXPECT_TRUE(Shows(name, 1280, 720));
}

TEST_P(Sway, RealProgramAsTheUserChoosesTheLineAndOkSwitches)
{
    WlrDisplaySettings probe;
    const std::string name = probe.OutputName();
    ASSERT_FALSE(name.empty()) << probe.Error();
    const std::string err = sway.ConfigHome() + "/../stderr";
    // The user's own session bus, for AT-SPI where XTEST does not reach Xwayland.
    const SessionBus bus(SwaySession::AsUser({}));
    const AccessibilityBus a11y(bus.Address(), SwaySession::AsUser({}));
    std::vector<std::string> env = sway.ClientEnv();
    for (const std::string& e : a11y.Env()) env.push_back(e);
    const pid_t app = SpawnCommand(SwaySession::AsUser({TAVRIMO_BINARY}), env, err);
    const auto xdotool = [&](std::vector<std::string> argv) {
        argv.insert(argv.begin(), {"timeout", "20", "xdotool"});
        return RunCommand(argv, env);
    };
    const CommandResult found =
        xdotool({"search", "--sync", "--onlyvisible", "--name", "^Tavrimo$"});
    ASSERT_EQ(found.status, 0) << ReadFile(err);
    // The list was read at 1280x720; the output is at 800x600 by the time OK comes.
    ASSERT_EQ(sway.Msg({"output", name, "mode", "800x600@60Hz"}).status, 0);
    ASSERT_TRUE(Shows(name, 800, 600));
    if (XtestReachesXwayland()) {
        const std::string window = found.out.substr(0, found.out.find('\n'));
        ASSERT_EQ(xdotool({"windowactivate", "--sync", window}).status, 0);
        ASSERT_EQ(xdotool({"key", "--delay", "40", "Down", "alt+o"}).status, 0);
    } else {
        const CommandResult chose = a11y.ChooseLine(0);
        ASSERT_EQ(chose.status, 0) << chose.out;
    }
    EXPECT_TRUE(Shows(name, 1280, 720)) << ReadFile(err);
    if (Included()) {
        for (int i = 0; i < 30 && !fs::exists(ModeFile()); ++i) std::this_thread::sleep_for(100ms);
        EXPECT_EQ(ReadFile(ModeFile()), ShownLine(name));
    }
    StopProcess(app);
}

TEST(SwayOutputs, TheFocusedOfThreeIsListedSwitchedAndStoredAndTheOthersKeepTheirExactState)
{
    SwaySession sway(true);
    ASSERT_TRUE(sway.Running()) << sway.Log();
    UseEnv(sway.ClientEnv());
    ASSERT_EQ(sway.Msg({"create_output"}).status, 0);
    for (int i = 0; i < 50 && sway.Outputs().size() < 3; ++i) std::this_thread::sleep_for(100ms);
    ASSERT_EQ(sway.Outputs().size(), 3u);
    // Side by side, the middle one at 1.0 and the others at 1.1 and 1.3.
    const struct {
        const char* name;
        const char* scale;
        const char* x;
    } layout[] = {
        {"HEADLESS-1", "1.1", "0"}, {"HEADLESS-2", "1", "1164"}, {"HEADLESS-3", "1.3", "3000"}};
    for (const auto& o : layout)
        ASSERT_EQ(sway.Msg({"output", o.name, "scale", o.scale, "pos", o.x, "0"}).status, 0);
    ASSERT_EQ(sway.Msg({"output", "HEADLESS-2", "mode", "800x600@60Hz"}).status, 0);
    ASSERT_TRUE(Shows(sway, "HEADLESS-2", 800, 600));
    ASSERT_EQ(sway.Msg({"focus", "output", "HEADLESS-2"}).status, 0);

    // Without sway's IPC: the compositor's first enabled output in its own
    // order (sway 1.7 announces its heads newest first).
    EXPECT_EQ(WlrDisplaySettings(nullptr, "").OutputName(), sway.Outputs().front().name);

    WlrDisplaySettings layer;
    ASSERT_EQ(layer.OutputName(), "HEADLESS-2") << layer.Error();
    const auto modes = Enumerate(layer);
    ASSERT_EQ(modes.size(), 1u);
    EXPECT_EQ(modes[0].dmPelsWidth, 800);
    ASSERT_EQ(sway.Msg({"output", "HEADLESS-2", "mode", "1024x768@60Hz"}).status, 0);
    ASSERT_TRUE(Shows(sway, "HEADLESS-2", 1024, 768));
    const auto others = sway.Outputs();
    EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[0], dsp::kUpdateRegistry),
              dsp::kDispChangeSuccessful);
    EXPECT_TRUE(Shows(sway, "HEADLESS-2", 800, 600));
    for (const auto& was : others) {
        if (was.name == "HEADLESS-2") continue;
        SCOPED_TRACE(was.name);
        const auto now = Shown(sway, was.name);
        ASSERT_TRUE(now);
        EXPECT_EQ(now->width, was.width);
        EXPECT_EQ(now->height, was.height);
        EXPECT_EQ(now->refresh, was.refresh);
        EXPECT_EQ(now->x, was.x);
        EXPECT_EQ(now->y, was.y);
        EXPECT_EQ(now->scale, was.name == "HEADLESS-1" ? "1.100000" : "1.300000");
    }
    const std::string second = ShownLine(sway, "HEADLESS-2");
    EXPECT_EQ(ReadFile(ModeFile()), second);

    // Another output switched in turn: both lines stay.
    ASSERT_EQ(sway.Msg({"focus", "output", "HEADLESS-3"}).status, 0);
    WlrDisplaySettings next;
    ASSERT_EQ(next.OutputName(), "HEADLESS-3") << next.Error();
    const auto thirdModes = Enumerate(next);
    ASSERT_EQ(thirdModes.size(), 1u);
    EXPECT_EQ(next.ChangeDisplaySettingsA(&thirdModes[0], dsp::kUpdateRegistry),
              dsp::kDispChangeSuccessful);
    EXPECT_EQ(ReadFile(ModeFile()), second + ShownLine(sway, "HEADLESS-3"));
    EXPECT_EQ(Shown(sway, "HEADLESS-1")->scale, "1.100000");

    // A later line of the user's own for the output wins at sway's next start.
    sway.GiveConfigToUser();
    const std::string own = sway.ConfigHome() + "/sway/config.d/zz-own.conf";
    std::ofstream(own) << "output HEADLESS-3 mode 640x480\n";
    EXPECT_EQ(next.ChangeDisplaySettingsA(&thirdModes[0], dsp::kUpdateRegistry),
              dsp::kDispChangeNotUpdated);
    EXPECT_EQ(ReadFile(ModeFile()), second + ShownLine(sway, "HEADLESS-3"));
}

TEST(SwayRegistry, TakesOutputManagementOverRandROnItsXwayland)
{
    SwaySession sway(false);
    ASSERT_TRUE(sway.Running()) << sway.Log();
    UseEnv(sway.ClientEnv());
    const ChosenBackend chosen = ChooseBackend(CompiledBackends(), nullptr);
    EXPECT_EQ(chosen.name, "wlr") << chosen.diagnostic;
    EXPECT_EQ(Enumerate(*chosen.settings).size(), 1u);
    const ChosenBackend x11 = ChooseBackend(CompiledBackends(), "x11");
    EXPECT_TRUE(Enumerate(*x11.settings).empty()) << "Xwayland's modes are made up";
}

INSTANTIATE_TEST_SUITE_P(ModeFile, Sway, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& p) {
                             return p.param ? std::string("Included") : std::string("NotIncluded");
                         });

}  // namespace
