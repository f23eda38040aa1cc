// The KDE layer against a real KWin on its virtual backend: the listing, a
// switch, an output gone between the fill and OK, the registry's choice on
// KWin's Xwayland, and the real program driven through that Xwayland.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "backend_registry.h"
#include "compositor.h"
#include "kde_display_settings.h"
#include "modes.h"
#include "wayland_connection.h"
#include "xdg_paths.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class KWin : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kwin.Running()) << kwin.Log();
        UseEnv(kwin.ClientEnv());
    }

    // An entry as an X11 session of this program's would have left it.
    fs::path OldLoginEntry() const
    {
        const fs::path entry = fs::path(AutostartDir()) / kAutostartFileName;
        fs::create_directories(entry.parent_path());
        std::ofstream(entry) << "[Desktop Entry]\nType=Application\nExec=xrandr\n";
        return entry;
    }

    KWinSession kwin;
};

TEST_F(KWin, ListsThePrimaryOutputsModeAndSwitchesToIt)
{
    KdeDisplaySettings layer;
    ASSERT_EQ(layer.Error(), "");
    EXPECT_EQ(layer.OutputName(), "Virtual-0");
    const auto modes = Enumerate(layer);
    ASSERT_EQ(modes.size(), 1u) << "a virtual output has one mode";
    EXPECT_EQ(modes[0].dmPelsWidth, 1280);
    EXPECT_EQ(modes[0].dmPelsHeight, 720);
    EXPECT_EQ(modes[0].dmDisplayFrequency, 60);
    EXPECT_EQ(modes[0].dmBitsPerPel, 32);
    EXPECT_STREQ(modes[0].dmDeviceName, "Virtual-0");
    const fs::path entry = OldLoginEntry();
    EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[0], dsp::kUpdateRegistry),
              dsp::kDispChangeSuccessful);
    EXPECT_FALSE(fs::exists(entry)) << "Plasma keeps the mode; an old login entry would fight it";
}

TEST_F(KWin, AnOutputDisabledBeforeOkFailsAndStaysDisabled)
{
    KdeDisplaySettings layer;
    const auto modes = Enumerate(layer);
    ASSERT_EQ(modes.size(), 1u);
    ASSERT_EQ(RunCommand({"kscreen-doctor", "output.Virtual-0.disable"},
                         {"QT_QPA_PLATFORM=wayland"})
                  .status,
              0);
    // kscreen-doctor returns before KWin has told every client.
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[0], dsp::kUpdateRegistry),
              dsp::kDispChangeFailed);
    KdeDisplaySettings after;
    EXPECT_EQ(after.OutputName(), "Virtual-1") << "Virtual-0 is still off";
}

std::string Doctor(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {"kscreen-doctor"};
    argv.insert(argv.end(), args.begin(), args.end());
    const CommandResult r = RunCommand(argv, {"QT_QPA_PLATFORM=wayland"});
    return r.status == 0 ? r.out : "kscreen-doctor failed";
}

// Three outputs, the last connector but one the primary, another scaled and
// one turned: a switch of the primary leaves every other output's mode,
// place, scale and turn as they were.
TEST(KWinOutputs, ASwitchOfThePrimaryLeavesEveryOtherOutputAsItIs)
{
    KWinSession kwin(3);
    ASSERT_TRUE(kwin.Running()) << kwin.Log();
    UseEnv(kwin.ClientEnv());
    // On KWin 6.7 the primary gets a second mode to switch to, before the
    // layout: adding a mode there puts the priorities back.
    const bool customModes = WaylandConnection().Find("kde_output_device_registry_v2") != nullptr;
    if (customModes) {
        ASSERT_NE(Doctor({"output.Virtual-1.addCustomMode.1024.768.60000.full"}),
                  "kscreen-doctor failed");
    }
    ASSERT_NE(Doctor({"output.Virtual-1.priority.1", "output.Virtual-1.position.0,0",
                      "output.Virtual-0.position.1280,0", "output.Virtual-0.scale.1.25",
                      "output.Virtual-2.position.0,720", "output.Virtual-2.rotation.left"}),
              "kscreen-doctor failed");
    // What kscreen-doctor shows of every output but the primary.
    const auto others = [] {
        const auto config = nlohmann::json::parse(Doctor({"-j"}), nullptr, false);
        std::string shown;
        if (config.is_discarded() || !config.contains("outputs")) return shown;
        for (const auto& o : config["outputs"])
            if (o.value("name", "") != "Virtual-1")
                shown += o.value("name", "") + " " + o["pos"].dump() + " " + o["size"].dump() +
                         " " + o["scale"].dump() + " " + o["rotation"].dump() + " " +
                         o["currentModeId"].dump() + " " + o["enabled"].dump() + "\n";
        return shown;
    };
    // kscreen-doctor returns before KWin has told every client.
    std::string before;
    for (int i = 0; i < 50; ++i) {
        KdeDisplaySettings probe;
        before = others();
        if (probe.OutputName() == "Virtual-1" && before.find("1.25") != std::string::npos &&
            Enumerate(probe).size() == (customModes ? 2u : 1u))
            break;
        std::this_thread::sleep_for(100ms);
    }
    KdeDisplaySettings layer;
    ASSERT_EQ(layer.OutputName(), "Virtual-1");
    const auto modes = Enumerate(layer);
    ASSERT_FALSE(modes.empty());
    EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes.back(), dsp::kUpdateRegistry),
              dsp::kDispChangeSuccessful);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(others(), before);
}

// KWin 6.7 takes custom modes on a virtual output, so that the switch goes
// between real modes; an older KWin offers one mode there and skips this.
TEST_F(KWin, OnPlasma67SwitchesBetweenCustomModesOfAVirtualOutput)
{
    if (WaylandConnection().Find("kde_output_device_registry_v2") == nullptr)
        GTEST_SKIP() << "KWin before 6.7: one mode per virtual output";
    const auto doctor = [](const std::vector<std::string>& args) {
        std::vector<std::string> argv = {"kscreen-doctor"};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunCommand(argv, {"QT_QPA_PLATFORM=wayland"});
    };
    ASSERT_EQ(doctor({"output.Virtual-0.addCustomMode.1024.768.60000.full",
                      "output.Virtual-0.addCustomMode.800.600.60000.full"})
                  .status,
              0);
    // kscreen-doctor returns before KWin has told every client.
    for (int i = 0; i < 30; ++i) {
        KdeDisplaySettings probe;
        if (Enumerate(probe).size() >= 3) break;
        std::this_thread::sleep_for(100ms);
    }
    KdeDisplaySettings layer;
    const auto modes = Enumerate(layer);
    ASSERT_EQ(modes.size(), 3u);
    // The size kscreen-doctor shows for Virtual-0.
    const auto geometry = [&doctor] {
        const std::string text =
            std::regex_replace(doctor({"-o"}).out, std::regex("\x1b\\[[0-9;]*m"), "");
        std::smatch m;
        const std::regex shown(R"(Virtual-0[\s\S]*?Geometry: -?\d+,-?\d+ (\d+x\d+))");
        return std::regex_search(text, m, shown) ? m[1].str() : text;
    };
    for (const size_t k : {1u, 2u, 0u}) {
        EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[k], dsp::kUpdateRegistry),
                  dsp::kDispChangeSuccessful);
        EXPECT_EQ(geometry(), std::to_string(modes[k].dmPelsWidth) + "x" +
                                  std::to_string(modes[k].dmPelsHeight));
    }
}

TEST_F(KWin, TheRegistryTakesKWinsProtocolsOverRandROnItsXwayland)
{
    const ChosenBackend chosen = ChooseBackend(CompiledBackends(), nullptr);
    EXPECT_EQ(chosen.name, "kde") << chosen.diagnostic;
    EXPECT_EQ(Enumerate(*chosen.settings).size(), 1u);
    const ChosenBackend x11 = ChooseBackend(CompiledBackends(), "x11");
    EXPECT_TRUE(Enumerate(*x11.settings).empty()) << "Xwayland's modes are made up";
}

TEST_F(KWin, RealProgramChoosesTheLineAndOkSwitchesAndKeepsNoLoginEntry)
{
    const fs::path entry = OldLoginEntry();
    const AccessibilityBus a11y(kwin.BusAddress());
    std::vector<std::string> env = kwin.ClientEnv();
    env.push_back("QT_QPA_PLATFORM=xcb");
    for (const std::string& e : a11y.Env()) env.push_back(e);
    const std::string err = kwin.ConfigHome() + "/stderr";
    const pid_t app = SpawnCommand({TAVRIMO_BINARY}, env, err);
    const auto xdotool = [&](std::vector<std::string> argv) {
        argv.insert(argv.begin(), {"timeout", "20", "xdotool"});
        return RunCommand(argv, kwin.ClientEnv());
    };
    const CommandResult found =
        xdotool({"search", "--sync", "--onlyvisible", "--name", "^Tavrimo$"});
    ASSERT_EQ(found.status, 0) << ReadFile(err);
    if (XtestReachesXwayland()) {
        const std::string window = found.out.substr(0, found.out.find('\n'));
        ASSERT_EQ(xdotool({"windowactivate", "--sync", window}).status, 0);
        ASSERT_EQ(xdotool({"key", "--delay", "40", "Down", "alt+o"}).status, 0);
    } else {
        const CommandResult chose = a11y.ChooseLine(0);
        ASSERT_EQ(chose.status, 0) << chose.out;
    }
    bool removed = false;
    for (int i = 0; i < 50 && !(removed = !fs::exists(entry)); ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(removed) << "OK applied the line through KWin: " << ReadFile(err);
    EXPECT_EQ(ReadFile(err), "") << "the kde layer was chosen without a word";
    StopProcess(app);
}

}  // namespace
