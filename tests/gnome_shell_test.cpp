// OK under a real GNOME Shell: the shell asks whether to keep the new mode;
// keeping it stores it in monitors.xml, reverting brings the old mode back
// and leaves the store as it was. Either way the old login entry is gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "gnome_shell.h"
#include "modes.h"
#include "mutter_config.h"
#include "mutter_display_settings.h"
#include "xdg_paths.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string CurrentMode(const std::string& bus)
{
    const ReadState st = ReadConfig(bus);
    const ReadMonitor* m = st.Monitor("LVDS1");
    return m ? m->mode : "";
}

bool Contains(const std::vector<std::string>& texts, const std::string& text)
{
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST(GnomeShell, OkBringsUpGnomesQuestionKeepStoresTheModeRevertRestoresItAndTheStore)
{
    XvncServer x{{"-geometry", "2600x800"}};
    GnomeShellSession shell(x);
    ASSERT_TRUE(shell.Running()) << shell.Log();
    setenv("XDG_CONFIG_HOME", shell.ConfigHome().c_str(), 1);
    const fs::path entry = fs::path(AutostartDir()) / kAutostartFileName;
    const std::string store = shell.ConfigHome() + "/monitors.xml";
    const std::string bus = shell.BusAddress();

    struct Step {
        const char* mode;
        const char* key;  // the keyboard's answer to the shell's question
        bool kept;
    };
    for (const Step step : {Step{"800x600@60.000", "Return", true},
                            Step{"1024x768@60.000", "Escape", false}}) {
        SCOPED_TRACE(step.key);
        fs::create_directories(entry.parent_path());
        std::ofstream(entry) << "[Desktop Entry]\nExec=xrandr --output X --mode 640x480\n";
        const std::string before = CurrentMode(bus);
        const std::string storedBefore = ReadFile(store);

        MutterDisplaySettings layer(bus.c_str());
        const auto modes = Enumerate(layer);
        size_t k = 0;
        for (; k < modes.size(); ++k) {
            const std::string text = std::to_string(modes[k].dmPelsWidth) + "x" +
                                     std::to_string(modes[k].dmPelsHeight);
            if (std::string(step.mode).starts_with(text + "@")) break;
        }
        ASSERT_LT(k, modes.size());
        ASSERT_EQ(layer.ChangeDisplaySettingsA(&modes[k], dsp::kUpdateRegistry),
                  dsp::kDispChangeSuccessful)
            << layer.ApplyError();
        EXPECT_EQ(CurrentMode(bus), step.mode) << "shown while GNOME asks";

        const auto question = shell.DialogTexts(10000);
        std::string said;
        for (const std::string& t : question) said += "[" + t + "] ";
        EXPECT_TRUE(Contains(question, "Keep these display settings?")) << said;
        EXPECT_TRUE(Contains(question, "Keep Changes")) << said;
        EXPECT_TRUE(Contains(question, "Revert Settings")) << said;
        EXPECT_EQ(ReadFile(store), storedBefore) << "nothing is stored before the answer";
        EXPECT_FALSE(fs::exists(entry)) << "GNOME's store decides the login mode either way";

        ASSERT_TRUE(shell.Key(step.key));
        std::string now;
        const std::string expected = step.kept ? step.mode : before;
        for (int i = 0; i < 50 && (now = CurrentMode(bus)) != expected; ++i)
            std::this_thread::sleep_for(100ms);
        EXPECT_EQ(now, expected);
        std::string stored;
        for (int i = 0; i < 30 && (stored = ReadFile(store)) == storedBefore && step.kept; ++i)
            std::this_thread::sleep_for(100ms);
        if (step.kept) {
            const std::string width = "<width>" + std::string(step.mode).substr(0, 3) + "</width>";
            EXPECT_NE(stored.find(width), std::string::npos) << stored;
        } else {
            EXPECT_EQ(stored, storedBefore) << "the old store stays as it was";
        }
        EXPECT_TRUE(shell.DialogTexts(0).empty()) << "the question is gone";
    }
}

}  // namespace
