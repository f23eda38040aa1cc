// The KDE and wlroots layers against the scripted test compositor: what no
// real compositor here produces (several modes of one size, refusals,
// cancelled configurations, a mode that vanishes, an answer that comes too
// late, a compositor that dies), and how sway's configuration is read and kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include <unistd.h>

#include "compositor.h"
#include "kde_display_settings.h"
#include "modes.h"
#include "wlr_display_settings.h"
#include "wlr_sway_config.h"

namespace {

struct Layer {
    const char* name;
    std::function<std::unique_ptr<DisplaySettings>()> open;
    const char* logPrefix;  // what the compositor logs for an applied output
};

const Layer kLayers[] = {
    {"kde", [] { return std::make_unique<KdeDisplaySettings>(); }, "kde "},
    {"wlr", [] { return std::make_unique<WlrDisplaySettings>(nullptr, ""); }, "wlr "},
};

const std::string kMain = "A/1920x1080@60000,1920x1080@59940,1920x1080@50000,1280x720@60000";

std::vector<std::string> Applied(const ScriptedCompositor& c, const std::string& prefix)
{
    std::vector<std::string> lines;
    for (const std::string& line : c.Log())
        if (line.starts_with(prefix)) lines.push_back(line);
    return lines;
}

TEST(ScriptedCompositor, EachLineAppliesExactlyItsOwnModeAmongEqualSizes)
{
    for (const Layer& layer : kLayers) {
        SCOPED_TRACE(layer.name);
        ScriptedCompositor c({kMain, "B/800x600@60000/x=1920"});
        ASSERT_TRUE(c.Running());
        c.Use();
        const auto settings = layer.open();
        const auto modes = Enumerate(*settings);
        ASSERT_EQ(modes.size(), 4u);
        const int expected[][3] = {{1920, 1080, 60}, {1920, 1080, 60}, {1920, 1080, 50}, {1280, 720, 60}};
        for (size_t i = 0; i < modes.size(); ++i) {
            EXPECT_EQ(modes[i].dmPelsWidth, expected[i][0]) << i;
            EXPECT_EQ(modes[i].dmPelsHeight, expected[i][1]) << i;
            EXPECT_EQ(modes[i].dmDisplayFrequency, expected[i][2]) << i;
            EXPECT_EQ(modes[i].dmBitsPerPel, 32);
            EXPECT_STREQ(modes[i].dmDeviceName, "A");
        }
        // The two 60 Hz lines of 1920x1080 are 60.000 and 59.940 Hz: each its own.
        for (const size_t k : {1u, 0u, 3u}) {
            EXPECT_EQ(settings->ChangeDisplaySettingsA(&modes[k], 0), dsp::kDispChangeSuccessful);
            const auto applied = Applied(c, layer.logPrefix + std::string("A "));
            ASSERT_FALSE(applied.empty());
            EXPECT_NE(applied.back().find(" mode " + std::to_string(k) + " "), std::string::npos)
                << applied.back();
        }
    }
}

TEST(ScriptedCompositor, FaultsReportFailureAndChangeNothing)
{
    struct Case {
        const char* name;
        std::vector<std::string> flags;
        bool vanish;    // mode 1 or the output goes away between the fill and OK
        bool killed;    // the compositor is gone before OK
        int32_t result;
        bool applied;   // the compositor applied a configuration
    } cases[] = {
        {"refused", {"--fail"}, false, false, dsp::kDispChangeFailed, false},
        {"cancelled once, sent again", {"--cancel", "1"}, false, false, dsp::kDispChangeSuccessful, true},
        {"cancelled twice", {"--cancel", "2"}, false, false, dsp::kDispChangeFailed, false},
        {"mode vanished", {"--vanish", "1"}, true, false, dsp::kDispChangeBadMode, false},
        {"mode resized in place", {"--resize", "1:800x600@60000"}, true, false,
         dsp::kDispChangeBadMode, false},
        {"output turned off", {"--off"}, true, false, dsp::kDispChangeFailed, false},
        {"died answering", {"--die-on-apply"}, false, false, dsp::kDispChangeFailed, false},
        {"died before OK", {}, false, true, dsp::kDispChangeFailed, false},
    };
    for (const Layer& layer : kLayers) {
        for (const Case& t : cases) {
            // KWin's protocol has no cancelled answer.
            if (std::string(layer.name) == "kde" && t.flags.size() == 2 && t.flags[0] == "--cancel")
                continue;
            SCOPED_TRACE(std::string(layer.name) + ": " + t.name);
            std::vector<std::string> args = t.flags;
            args.push_back(kMain);
            ScriptedCompositor c(args);
            ASSERT_TRUE(c.Running());
            c.Use();
            const auto settings = layer.open();
            const auto modes = Enumerate(*settings);
            ASSERT_EQ(modes.size(), 4u);
            if (t.vanish) {
                ASSERT_TRUE(c.Vanish());
            }
            if (t.killed) c.Kill();
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(settings->ChangeDisplaySettingsA(&modes[1], 0), t.result);
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
            EXPECT_EQ(!Applied(c, layer.logPrefix).empty(), t.applied);
            // A layer whose compositor went stays a layer that fails.
            if (t.killed) {
                EXPECT_EQ(settings->ChangeDisplaySettingsA(&modes[0], 0), dsp::kDispChangeFailed);
                EXPECT_EQ(Enumerate(*settings).size(), 4u);
            }
        }
    }
}

TEST(ScriptedCompositor, AnAnswerPastTheWaitIsReadBackAndLaterSwitchesStillWork)
{
    // The wait for an answer, shortened from its 15 s so that the answer comes after it.
    setenv("TAVRIMO_WAYLAND_APPLY_TIMEOUT_MS", "300", 1);
    struct Case {
        const char* flag;
        int32_t result;  // of the OK whose answer comes late
    } cases[] = {
        // Applied at once, answered late: the output shows the mode, so it switched.
        {"--late-answer", dsp::kDispChangeSuccessful},
        // Applied only after the wait: the output still shows the old mode.
        {"--late", dsp::kDispChangeFailed},
    };
    for (const Layer& layer : kLayers) {
        for (const Case& t : cases) {
            SCOPED_TRACE(std::string(layer.name) + " " + t.flag);
            ScriptedCompositor c({t.flag, "1500", kMain});
            ASSERT_TRUE(c.Running());
            c.Use();
            const auto settings = layer.open();
            const auto modes = Enumerate(*settings);
            ASSERT_EQ(modes.size(), 4u);
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(settings->ChangeDisplaySettingsA(&modes[3], 0), t.result);
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1400));
            const std::string prefix = layer.logPrefix;
            ASSERT_TRUE(c.Logs(prefix + "A 1280x720@60000 mode 3 at 0,0 transform 0 scale 1", 5000));
            // The late answer is read and dropped; the connection still works.
            std::this_thread::sleep_until(start + std::chrono::milliseconds(1700));
            EXPECT_EQ(settings->ChangeDisplaySettingsA(&modes[2], 0), dsp::kDispChangeSuccessful);
            const auto applied = Applied(c, layer.logPrefix);
            ASSERT_FALSE(applied.empty());
            EXPECT_EQ(applied.back(), prefix + "A 1920x1080@50000 mode 2 at 0,0 transform 0 scale 1");
        }
    }
    unsetenv("TAVRIMO_WAYLAND_APPLY_TIMEOUT_MS");
}

TEST(ScriptedCompositor, TheCurrentOutputIsPlasmasFirstOrTheFirstEnabledHead)
{
    struct Case {
        const Layer& layer;
        std::vector<std::string> args;
        const char* output;
        int width, height;  // of its first line
    } cases[] = {
        {kLayers[0], {"--order", "B,A", kMain, "B/800x600@60000/x=1920"}, "B", 800, 600},
        {kLayers[0], {kMain + "/disabled", "B/800x600@60000/x=1920"}, "B", 800, 600},
        {kLayers[0], {"--order", "C,B", kMain, "B/800x600@60000/transform=1"}, "B", 600, 800},
        {kLayers[1], {kMain + "/disabled", "B/800x600@60000/transform=3"}, "B", 600, 800},
        {kLayers[1], {"--order", "B,A", kMain, "B/800x600@60000"}, "A", 1920, 1080},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(std::string(t.layer.name) + " " + t.args[0] + " " + t.args[1]);
        ScriptedCompositor c(t.args);
        ASSERT_TRUE(c.Running());
        c.Use();
        const auto settings = t.layer.open();
        const auto modes = Enumerate(*settings);
        ASSERT_FALSE(modes.empty());
        EXPECT_STREQ(modes[0].dmDeviceName, t.output);
        EXPECT_EQ(modes[0].dmPelsWidth, t.width);
        EXPECT_EQ(modes[0].dmPelsHeight, t.height);
    }
}

TEST(ScriptedCompositor, PlasmaDevicesComeFromTheRegistryAtTheVersionBothKnowAndGoWhenRemoved)
{
    struct Case {
        std::vector<std::string> flags;
        const char* bound;  // what the compositor logs for the layer's bind
        bool removed;       // the first output's device goes between the fill and OK
    } cases[] = {
        {{"--registry", "21"}, "registry bound at version 21", false},
        {{"--registry", "23"}, "registry bound at version 23", false},
        {{"--registry", "23", "--device-globals"}, "registry bound at version 23", false},
        // Below 21 binding the registry is a protocol error: the devices' globals serve.
        {{"--registry", "20", "--device-globals"}, "device global bound at version 2", false},
        {{}, "device global bound at version 2", false},
        {{"--registry", "23", "--remove"}, "registry bound at version 23", true},
        {{"--remove"}, "device global bound at version 2", true},
    };
    for (const Case& t : cases) {
        std::vector<std::string> args = t.flags;
        args.insert(args.end(), {kMain, "B/800x600@60000/x=1920"});
        SCOPED_TRACE(testing::PrintToString(args));
        ScriptedCompositor c(args);
        ASSERT_TRUE(c.Running());
        c.Use();
        KdeDisplaySettings layer;
        ASSERT_EQ(layer.Error(), "");
        const auto modes = Enumerate(layer);
        ASSERT_EQ(modes.size(), 4u);
        EXPECT_STREQ(modes[0].dmDeviceName, "A");
        const bool viaRegistry = std::string(t.bound).starts_with("registry");
        const auto log = c.Log();
        const auto count = [&log](const std::string& line) {
            return std::count(log.begin(), log.end(), line);
        };
        // Each output once, by one way.
        EXPECT_EQ(count(t.bound), viaRegistry ? 1 : 2);
        EXPECT_EQ(count("device global bound at version 2"), viaRegistry ? 0 : 2);
        if (t.removed) {
            ASSERT_TRUE(c.Vanish());
        }
        EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[1], 0),
                  t.removed ? dsp::kDispChangeFailed : dsp::kDispChangeSuccessful);
        const auto applied = Applied(c, "kde A ");
        EXPECT_EQ(applied, t.removed ? std::vector<std::string>{}
                                     : std::vector<std::string>{
                                           "kde A 1920x1080@59940 mode 1 at 0,0 transform 0 scale 1"});
        if (t.removed && viaRegistry) {
            EXPECT_TRUE(c.Logs("released", 2000)) << "a removed device is released";
        }
    }
}

TEST(ScriptedCompositor, AWlrootsModeObjectResizedInPlaceAppliesTheLinesOwnSizeOrNothing)
{
    struct Case {
        const char* output;
        const char* resize;  // another client's switch between the fill and OK
        size_t line;
        int32_t result;
        const char* applied;  // the compositor's log line, or null
    } cases[] = {
        // wlroots 0.18 headless: one object that follows the output, rate 0 or not.
        {"A/1280x720@60000/standin", "0:800x600@60000", 0, dsp::kDispChangeSuccessful,
         "wlr A 1280x720@60000 mode 0 at 0,0 transform 0 scale 1"},
        {"A/1280x720@0/standin", "0:800x600@0", 0, dsp::kDispChangeSuccessful,
         "wlr A 1280x720@0 mode 0 at 0,0 transform 0 scale 1"},
        // Another object of exactly the line's size and rate stands for it.
        {"A/1280x720@60000,1280x720@60000", "0:800x600@60000", 0, dsp::kDispChangeSuccessful,
         "wlr A 1280x720@60000 mode 1 at 0,0 transform 0 scale 1"},
        // Among several modes no custom mode is made up.
        {"A/1280x720@60000,1024x768@60000", "0:800x600@60000", 0, dsp::kDispChangeBadMode,
         nullptr},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(std::string(t.output) + " " + t.resize);
        ScriptedCompositor c({"--resize", t.resize, t.output});
        ASSERT_TRUE(c.Running());
        c.Use();
        WlrDisplaySettings layer(nullptr, "");
        const auto modes = Enumerate(layer);
        ASSERT_GT(modes.size(), t.line);
        ASSERT_TRUE(c.Vanish());
        EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[t.line], 0), t.result);
        const auto applied = Applied(c, "wlr ");
        EXPECT_EQ(applied, t.applied ? std::vector<std::string>{t.applied}
                                     : std::vector<std::string>{});
    }
}

TEST(ScriptedCompositor, WlrootsConfigurationCarriesEveryOtherHeadAsItIs)
{
    ScriptedCompositor c({kMain, "B/800x600@60000/disabled",
                          "C/1024x768@60000,800x600@75000/current=1,x=1920,y=40,transform=1,scale=1.5",
                          "D/1920x1200@60000/x=-1745,scale=1.1"});
    ASSERT_TRUE(c.Running());
    c.Use();
    WlrDisplaySettings layer(nullptr, "");
    const auto modes = Enumerate(layer);
    ASSERT_EQ(modes.size(), 4u);
    // Without sway there is no store: switched for the session only.
    EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[3], dsp::kUpdateRegistry),
              dsp::kDispChangeNotUpdated);
    EXPECT_EQ(Applied(c, "wlr "),
              (std::vector<std::string>{
                  "wlr A 1280x720@60000 mode 3 at 0,0 transform 0 scale 1",
                  "wlr B disabled",
                  "wlr C 800x600@75000 mode 1 at 1920,40 transform 1 scale 1.5",
                  // Not sent back as 1.1015625, the nearest a wl_fixed comes.
                  "wlr D 1920x1200@60000 mode 0 at -1745,0 transform 0 scale 1.1",
              }));
}

TEST(SwayConfig, IncludeLinesCoverTheModeFileOnlyWhereTheirPathOrGlobDoes)
{
    setenv("HOME", "/home/u", 1);
    setenv("XDG_CONFIG_HOME", "/home/u/.config", 1);
    const std::string dir = "/home/u/.config/sway";  // the including file's folder
    const std::string file = dir + "/config.d/tavrimo-display-mode.conf";
    const std::string ran = testing::TempDir() + "tavrimo-include-ran";
    std::remove(ran.c_str());
    const std::string command = "include $(touch " + ran + ")/config.d/*";
    const std::string backquoted = "include `touch " + ran + "`/config.d/*";
    const struct {
        std::string config;
        bool included;
    } cases[] = {
        {"include ~/.config/sway/config.d/*", true},
        {"  include\t$HOME/.config/sway/config.d/*.conf", true},
        {"include \"${XDG_CONFIG_HOME}/sway/config.d/*\"", true},
        {"include /home/u/.config/sway/./config.d/tavrimo-display-mode.conf", true},
        {"set $mod Mod4\ninclude /etc/sway/config.d/*\ninclude ~/.config/sway/config.d/*", true},
        {"include ~/.config/sway/config.d/[a-z]*", true},
        {"include /etc/sway/config.d/*", false},
        {"# include ~/.config/sway/config.d/*", false},
        {"include config.d/*", true},  // relative to the including file's folder
        {"include ../sway/config.d/tavrimo-display-mode.conf", true},
        {"include config/*", false},
        {"include ~/.config/sway/*", false},  // a glob does not reach into folders
        {"includes ~/.config/sway/config.d/*", false},
        {"include ~/.config/sway/config.d/*.cfg", false},
        {command, false},  // no command is run to expand a path
        {backquoted, false},
        {"include ~/.config/sway/config.d/* | x", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SwayConfigIncludes({c.config, dir}, file), c.included) << c.config;
    EXPECT_NE(access(ran.c_str(), F_OK), 0) << "a command in an include line ran";
    EXPECT_FALSE(SwayConfigIncludes({"include config.d/*", ""}, file)) << "no folder known";
}

TEST(SwayConfig, IncludesAreFollowedIntoNestedFilesAndALaterLineForTheOutputWins)
{
    const std::string home = testing::TempDir() + "tavrimo-sway-nested";
    std::filesystem::remove_all(home);
    setenv("HOME", home.c_str(), 1);
    const std::string dir = home + "/.config/sway";
    const std::string file = dir + "/config.d/tavrimo-display-mode.conf";
    const std::string id = "Dell Inc. DELL U2720Q ABC123";
    const std::vector<std::string> names{"DP-3", id, "*"};
    const auto put = [](const std::string& path, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path) << text;
    };
    const struct {
        std::map<std::string, std::string> files;  // under home
        std::string config;
        bool included;
        std::string overriddenBy;
    } cases[] = {
        // Nested, relative to the nested file's own folder.
        {{{"/.config/sway/more/outputs", "include ../config.d/*\n"}},
         "include more/outputs", true, ""},
        {{{"/etc/a", "include ~/.config/sway/config.d/tavrimo-*.conf\n"}},
         "include ~/etc/*", true, ""},
        // A nested file that includes the main one again is read once.
        {{{"/.config/sway/loop", "include ~/.config/sway/loop\n"}}, "include loop", false, ""},
        {{}, "include ~/.config/sway/config.d/*\noutput DP-3 mode 800x600", true,
         "output DP-3 mode 800x600"},
        {{}, "include ~/.config/sway/config.d/*\n  output * pos 0 0 res 800x600\t", true,
         "output * pos 0 0 res 800x600"},
        {{}, "include ~/.config/sway/config.d/*\noutput \"" + id + "\" resolution 800x600", true,
         "output \"" + id + "\" resolution 800x600"},
        {{}, "include ~/.config/sway/config.d/*\noutput DP-3 {\n  scale 2\n  mode 800x600\n}", true,
         "output DP-3 { mode 800x600 }"},
        {{}, "set $mon DP-3\ninclude ~/.config/sway/config.d/*\noutput $mon mode 800x600", true,
         "output $mon mode 800x600"},
        // Earlier lines, other outputs and other settings lose to the file.
        {{}, "output DP-3 mode 800x600\ninclude ~/.config/sway/config.d/*", true, ""},
        {{}, "include ~/.config/sway/config.d/*\noutput DP-4 mode 800x600", true, ""},
        {{}, "include ~/.config/sway/config.d/*\noutput DP-3 bg x.png fill", true, ""},
        {{}, "include ~/.config/sway/config.d/*\n# output DP-3 mode 800x600", true, ""},
        // Files of one glob are read in name order.
        {{{"/.config/sway/config.d/zz.conf", "output DP-3 mode 800x600\n"}},
         "include ~/.config/sway/config.d/*", true, "output DP-3 mode 800x600"},
        {{{"/.config/sway/config.d/aa.conf", "output DP-3 mode 800x600\n"}},
         "include ~/.config/sway/config.d/*", true, ""},
        // A line after the include, in a file the include did not reach, still comes later.
        {{{"/.config/sway/late", "output DP-3 mode 800x600\n"}},
         "include config.d/*.conf\ninclude late", true, "output DP-3 mode 800x600"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(home);
        for (const auto& [path, text] : c.files) put(home + path, text);
        const SwayReading reading = SwayConfigReads({c.config, dir}, file, names);
        EXPECT_EQ(reading.included, c.included) << c.config;
        EXPECT_EQ(reading.overriddenBy, c.overriddenBy) << c.config;
    }
    std::filesystem::remove_all(home);
}

TEST(SwayConfig, TheModeFileKeepsALinePerOutputKeyedByIdentityWhereSwayReportsOne)
{
    const auto outputs = SwayOutputsFromJson(R"([
        {"name": "eDP-1", "make": "BOE", "model": "0x0BCA", "serial": "Unknown", "focused": false},
        {"name": "DP-5", "make": "Dell Inc.", "model": "DELL U2720Q", "serial": "ABC123",
         "focused": true},
        {"name": "HDMI-A-1", "make": "Acme", "model": "M", "serial": "1"},
        {"name": "HDMI-A-2", "make": "Acme", "model": "M", "serial": "1"}])");
    ASSERT_TRUE(outputs);
    ASSERT_EQ(outputs->size(), 4u);
    EXPECT_TRUE((*outputs)[1].focused);
    EXPECT_FALSE((*outputs)[0].focused);
    EXPECT_FALSE(SwayOutputsFromJson(R"({"name": "DP-1"})"));
    const std::string expected[] = {"", "Dell Inc. DELL U2720Q ABC123", "", ""};
    for (size_t i = 0; i < outputs->size(); ++i)
        EXPECT_EQ(SwayIdentity((*outputs)[i], *outputs), expected[i]) << (*outputs)[i].name;

    const std::string id = "Dell Inc. DELL U2720Q ABC123";
    const std::string line = SwayModeLine(id, 3840, 2160, 60000, true);
    EXPECT_EQ(line, "output \"Dell Inc. DELL U2720Q ABC123\" mode 3840x2160@60.000Hz\n");
    for (const char* bad : {"a \"b\" c", "a\\b", "$mon", "a\nb"})
        EXPECT_EQ(SwayModeLine(bad, 800, 600, 0, true), "") << bad;
    const struct {
        std::string current;
        std::string result;
    } cases[] = {
        {"", line},
        {"output eDP-1 mode 1920x1080\n", "output eDP-1 mode 1920x1080\n" + line},
        // The monitor's earlier line, by identity or by its connector, is replaced in place.
        {"output eDP-1 mode 1920x1080\noutput \"" + id + "\" mode 2560x1440\noutput X-1 mode 8x8\n",
         "output eDP-1 mode 1920x1080\n" + line + "output X-1 mode 8x8\n"},
        {"output DP-5 mode 2560x1440\noutput eDP-1 mode 1920x1080", line + "output eDP-1 mode 1920x1080\n"},
        {"# kept\n\noutput DP-5 mode 1x1\noutput DP-5 mode 2x2\n", "# kept\n\n" + line},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SwayModeFileWith(c.current, {"DP-5", id}, line), c.result) << c.current;
}

TEST(SwayConfig, TheMainConfigurationIsTheOneNamedOnSwaysCommandLineOrFoundInSwaysOrder)
{
    const std::string home = testing::TempDir() + "tavrimo-sway-home";
    std::filesystem::remove_all(home);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/xdg").c_str(), 1);
    const struct {
        std::vector<std::string> args;
        const char* dir;
    } named[] = {
        {{"sway", "-c", "/etc/kiosk/sway.conf"}, "/etc/kiosk"},
        {{"sway", "--config=conf/sway"}, "/srv/conf"},
        {{"sway", "-cconf/sway", "-d", "--config", "../other/config"}, "/other"},
        {{"sway", "-c"}, nullptr},  // nothing named: the usual places
        {{"sway", "--", "-c", "/etc/kiosk/sway.conf"}, nullptr},
    };
    for (const auto& c : named)
        EXPECT_EQ(SwayConfigDir(c.args, "/srv"),
                  c.dir != nullptr ? c.dir : SwayConfigDir({"sway"}, "/srv"))
            << c.args.back();
    const auto put = [](const std::string& dir) {
        std::filesystem::create_directories(dir);
        std::ofstream(dir + "/config") << "\n";
    };
    const std::vector<std::string> plain{"sway"};
    put(home + "/.i3");
    EXPECT_EQ(SwayConfigDir(plain, "/srv"), home + "/.i3");
    put(home + "/xdg/sway");
    EXPECT_EQ(SwayConfigDir(plain, "/srv"), home + "/xdg/sway");
    put(home + "/.sway");
    EXPECT_EQ(SwayConfigDir(plain, "/srv"), home + "/.sway");
    std::filesystem::remove_all(home);
}

TEST(SwayConfig, TheConfigurationComesOutOfSwaysJsonAnswerWhole)
{
    const struct {
        const char* json;
        std::optional<std::string> config;
    } cases[] = {
        {R"({"config": "include ~/a\n\"q\" \\ \/ \t"})", "include ~/a\n\"q\" \\ / \t"},
        {R"({"x": {"config": "nested"}, "config": "top"})", "top"},
        {R"({"config":"\u00e9\ud83d\ude00"})", "\xc3\xa9\xf0\x9f\x98\x80"},
        {R"({"config":"\ud800"})", std::nullopt},  // a lone surrogate is no character
        {R"({"other": "config"})", std::nullopt},
        {R"({"config": "cut short)", std::nullopt},
        {R"({"config": "\q"})", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(JsonStringMember(c.json, "config"), c.config) << c.json;
}

TEST(SwayConfig, ModeLinesNameTheRateInMillihertzOrRefuseWhatCannotBeWritten)
{
    EXPECT_EQ(SwayModeLine("DP-1", 1920, 1080, 59940), "output DP-1 mode 1920x1080@59.940Hz\n");
    EXPECT_EQ(SwayModeLine("HDMI-A-1", 800, 600, 60005), "output HDMI-A-1 mode 800x600@60.005Hz\n");
    EXPECT_EQ(SwayModeLine("WL-1", 1280, 720, 0), "output WL-1 mode 1280x720\n");
    for (const char* name : {"", "a b", "x;exec rm", "\"q\"", "n\nl"})
        EXPECT_EQ(SwayModeLine(name, 800, 600, 60000), "") << name;
    EXPECT_EQ(SwayModeLine("DP-1", 0, 600, 60000), "");
}

}  // namespace
