// The RandR layer against a real X server: each test starts its own Xvnc.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "desktop_exec.h"
#include "mode_list.h"
#include "modes.h"
#include "x11_autostart.h"
#include "x11_display_settings.h"
#include "xvnc.h"

namespace {

class X11Layer : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Running()) << "Xvnc did not start";
        setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    }

    std::string Entry() const
    {
        return ReadFile(config.Path() + "/autostart/" + kAutostartFileName);
    }

    XvncServer server;
    TempDir config;
};

TEST_F(X11Layer, ModesAreThoseXrandrReportsInOrder)
{
    X11DisplaySettings layer(server.Display().c_str());
    ASSERT_EQ(layer.Error(), "");
    const auto modes = Enumerate(layer);
    const XrandrOutput out = QueryXrandr(server);
    ASSERT_EQ(modes.size(), out.modes.size());
    ASSERT_GE(modes.size(), 10u);
    for (size_t i = 0; i < modes.size(); ++i) {
        EXPECT_EQ(modes[i].dmPelsWidth, out.modes[i].width) << i;
        EXPECT_EQ(modes[i].dmPelsHeight, out.modes[i].height) << i;
        EXPECT_EQ(modes[i].dmBitsPerPel, 32) << "depth 24 is stored in 32-bit pixels";
        EXPECT_EQ(modes[i].dmDisplayFrequency, std::lround(out.modes[i].refresh)) << i;
        EXPECT_STREQ(modes[i].dmDeviceName, out.name.c_str());
        EXPECT_EQ(modes[i].dmSize, static_cast<int16_t>(sizeof(DspMode)));
    }
    DspMode m{};
    EXPECT_NE(layer.EnumDisplaySettingsA(nullptr, static_cast<int32_t>(modes.size()), &m),
              dsp::kEnumOk);
    EXPECT_NE(layer.EnumDisplaySettingsA(nullptr, -1, &m), dsp::kEnumOk);
}

TEST_F(X11Layer, AddedModeAppearsWithItsRefresh)
{
    ASSERT_EQ(server.Run({"xrandr", "--newmode", "tav1000", "84.00", "1000", "1010", "1020",
                          "1100", "700", "701", "702", "800"}).status, 0);
    ASSERT_EQ(server.Run({"xrandr", "--addmode", "VNC-0", "tav1000"}).status, 0);
    X11DisplaySettings layer(server.Display().c_str());
    const auto modes = Enumerate(layer);
    const XrandrOutput out = QueryXrandr(server);
    ASSERT_EQ(modes.size(), out.modes.size());
    const int k = IndexOf(modes, 1000, 700);
    ASSERT_GE(k, 0);
    EXPECT_EQ(out.modes[static_cast<size_t>(k)].name, "tav1000");
    EXPECT_EQ(modes[static_cast<size_t>(k)].dmDisplayFrequency, 95);  // 84 MHz / (1100 x 800)
}

TEST_F(X11Layer, AppliesALargerThenASmallerMode)
{
    X11DisplaySettings layer(server.Display().c_str());
    const auto modes = Enumerate(layer);
    for (const auto& [w, h] : {std::pair{1920, 1200}, std::pair{800, 600}}) {
        const int k = IndexOf(modes, w, h);
        ASSERT_GE(k, 0);
        EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[static_cast<size_t>(k)], dsp::kUpdateRegistry),
                  dsp::kDispChangeSuccessful);
        const XrandrOutput out = QueryXrandr(server);
        EXPECT_TRUE(out.connected);
        ASSERT_NE(out.Current(), nullptr);
        EXPECT_EQ(out.Current()->width, w);
        EXPECT_EQ(out.Current()->height, h);
        EXPECT_EQ(out.screenWidth, w) << "the screen fits the mode";
        EXPECT_EQ(out.screenHeight, h);
    }
}

TEST_F(X11Layer, IdenticalLinesSwitchToTheirOwnModes)
{
    for (const auto& [name, clock] : {std::pair{"twinA", "70.00"}, std::pair{"twinB", "56.00"}}) {
        ASSERT_EQ(server.Run({"xrandr", "--newmode", name, clock, "1000", "1010", "1020", "1100",
                              "700", "701", "702", "800"}).status, 0);
        ASSERT_EQ(server.Run({"xrandr", "--addmode", "VNC-0", name}).status, 0);
    }
    X11DisplaySettings layer(server.Display().c_str());
    const auto modes = Enumerate(layer);
    const XrandrOutput out = QueryXrandr(server);
    ASSERT_EQ(modes.size(), out.modes.size());
    std::vector<size_t> twins;
    for (size_t i = 0; i < modes.size(); ++i)
        if (out.modes[i].name.rfind("twin", 0) == 0) twins.push_back(i);
    ASSERT_EQ(twins.size(), 2u);
    EXPECT_EQ(DspLine(modes[twins[0]]), DspLine(modes[twins[1]]));
    for (const size_t k : {twins[1], twins[0]}) {
        ASSERT_EQ(layer.ChangeDisplaySettingsA(&modes[k], dsp::kUpdateRegistry),
                  dsp::kDispChangeSuccessful);
        const XrandrOutput now = QueryXrandr(server);
        ASSERT_NE(now.Current(), nullptr);
        EXPECT_EQ(now.Current()->name, out.modes[k].name);
    }
}

TEST_F(X11Layer, ModeDeletedBeforeApplyChangesNothing)
{
    ASSERT_EQ(server.Run({"xrandr", "--newmode", "doomed", "84.00", "1000", "1010", "1020",
                          "1100", "700", "701", "702", "800"}).status, 0);
    ASSERT_EQ(server.Run({"xrandr", "--addmode", "VNC-0", "doomed"}).status, 0);
    X11DisplaySettings layer(server.Display().c_str());
    const auto modes = Enumerate(layer);
    const int k = IndexOf(modes, 1000, 700);
    ASSERT_GE(k, 0);
    ASSERT_EQ(server.Run({"xrandr", "--delmode", "VNC-0", "doomed"}).status, 0);
    EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[static_cast<size_t>(k)], dsp::kUpdateRegistry),
              dsp::kDispChangeBadMode);
    const XrandrOutput out = QueryXrandr(server);
    ASSERT_NE(out.Current(), nullptr);
    EXPECT_EQ(out.Current()->width, 1024);
    EXPECT_EQ(out.screenWidth, 1024);
    EXPECT_EQ(Entry(), "") << "nothing stored for a mode that was not applied";
}

TEST_F(X11Layer, LoginEntryReappliesTheSameMode)
{
    X11DisplaySettings layer(server.Display().c_str());
    const auto modes = Enumerate(layer);
    const int k = IndexOf(modes, 1280, 800);
    ASSERT_GE(k, 0);
    ASSERT_EQ(layer.ChangeDisplaySettingsA(&modes[static_cast<size_t>(k)], dsp::kUpdateRegistry),
              dsp::kDispChangeSuccessful);
    const auto exec = DesktopEntryValue(Entry(), "Exec");
    ASSERT_TRUE(exec.has_value());
    const auto argv = ParseDesktopExec(*exec);
    ASSERT_TRUE(argv.has_value()) << *exec;
    EXPECT_EQ(*argv, XrandrArgs("VNC-0", "1280x800", XrandrRate(server, "1280x800")));
    const std::string path = config.Path() + "/autostart/" + kAutostartFileName;
    const CommandResult valid = RunCommand({"desktop-file-validate", path});
    EXPECT_EQ(valid.status, 0) << valid.out;

    // Somewhere else, then the login command brings the mode back.
    ASSERT_EQ(server.Run({"xrandr", "--output", "VNC-0", "--mode", "640x480"}).status, 0);
    ASSERT_EQ(server.Run(*argv).status, 0);
    const XrandrOutput out = QueryXrandr(server);
    ASSERT_NE(out.Current(), nullptr);
    EXPECT_EQ(out.Current()->name, "1280x800");
}

TEST_F(X11Layer, UnwritableLoginEntryStillSwitches)
{
    // A file where the config folder should be.
    const std::string blocked = config.Path() + "/blocked";
    std::ofstream(blocked) << "x";
    setenv("XDG_CONFIG_HOME", blocked.c_str(), 1);
    X11DisplaySettings layer(server.Display().c_str());
    const auto modes = Enumerate(layer);
    const int k = IndexOf(modes, 800, 600);
    ASSERT_GE(k, 0);
    EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[static_cast<size_t>(k)], dsp::kUpdateRegistry),
              dsp::kDispChangeNotUpdated);
    ASSERT_NE(QueryXrandr(server).Current(), nullptr);
    EXPECT_EQ(QueryXrandr(server).Current()->width, 800);
}

TEST(X11LayerNamesakes, LoginEntryNamesTheAppliedModeAmongModesOfItsNameAndRate)
{
    // Real Modelines of one name whose rates agree to two decimals:
    // 60.00227 and 60.00114 Hz.
    XorgDummyServer server({"\"1000x700\" 52.8020 1000 1010 1020 1100 700 701 702 800",
                            "\"1000x700\" 52.8010 1000 1010 1020 1100 700 701 702 800",
                            "\"800x600\" 40.00 800 840 968 1056 600 601 605 628"});
    ASSERT_TRUE(server.Running()) << "Xorg with the dummy driver did not start";
    TempDir config;
    setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    X11DisplaySettings layer(server.Display().c_str());
    const auto modes = Enumerate(layer);
    const XrandrOutput before = QueryXrandr(server);
    std::vector<size_t> namesakes;
    for (size_t i = 0; i < before.modes.size(); ++i)
        if (before.modes[i].name == "1000x700") namesakes.push_back(i);
    ASSERT_EQ(namesakes.size(), 2u);

    for (const size_t k : namesakes) {
        SCOPED_TRACE(k);
        ASSERT_EQ(layer.ChangeDisplaySettingsA(&modes[k], dsp::kUpdateRegistry),
                  dsp::kDispChangeSuccessful);
        const auto exec = DesktopEntryValue(
            ReadFile(config.Path() + "/autostart/" + kAutostartFileName), "Exec");
        ASSERT_TRUE(exec.has_value());
        const auto argv = ParseDesktopExec(*exec);
        ASSERT_TRUE(argv.has_value());
        ASSERT_EQ(server.Run({"xrandr", "--output", before.name, "--mode", "800x600"}).status, 0);
        ASSERT_EQ(server.Run(*argv).status, 0);
        const XrandrOutput after = QueryXrandr(server);
        ASSERT_NE(after.Current(), nullptr);
        EXPECT_EQ(after.Current()->id, before.modes[k].id) << (*argv)[6];
    }
}

TEST(X11LayerDepth16, NamesTheDepthHighColour)
{
    XvncServer server({"-depth", "16"});
    ASSERT_TRUE(server.Running());
    X11DisplaySettings layer(server.Display().c_str());
    const auto modes = Enumerate(layer);
    ASSERT_FALSE(modes.empty());
    EXPECT_EQ(modes[0].dmBitsPerPel, 16);
    const std::string line = DspLine(modes[0]);
    EXPECT_EQ(line.substr(line.size() - std::string(" 高彩(16bit)").size()), " 高彩(16bit)");
}

TEST(X11LayerNoServer, EnumeratesNothingAndAppliesNothing)
{
    X11DisplaySettings layer(":32767");
    EXPECT_NE(layer.Error(), "");
    DspMode m{};
    EXPECT_NE(layer.EnumDisplaySettingsA(nullptr, 0, &m), dsp::kEnumOk);
    EXPECT_EQ(layer.ChangeDisplaySettingsA(&m, dsp::kUpdateRegistry), dsp::kDispChangeFailed);
}

}  // namespace
