// The KDE layer against a real KWin on its virtual backend: the listing, a
// switch, an output gone between the fill and OK, the registry's choice on
// KWin's Xwayland, and the real program driven through that Xwayland.
#include <gtest/gtest.h>

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
