// Cinnamon, Xfce and MATE on X11: the mode chosen is kept in the desktop's own
// display store, and the desktop's own daemon brings it back. Each test runs
// the real daemon on an Xvnc, a session bus and config folders of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "backend_registry.h"
#include "desktop_daemons.h"
#include "modes.h"
#include "x11_display_settings.h"
#include "x11_mate_store.h"
#include "xdg_paths.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The current mode of the X server's output, as "WxH".
std::string CurrentMode(const XServer& x)
{
    const XrandrOutput out = QueryXrandr(x);
    const XrandrMode* m = out.Current();
    return m ? std::to_string(m->width) + "x" + std::to_string(m->height) : "";
}

// Polls f until it returns want; its last value.
template <class F>
std::string Await(F f, const std::string& want, int timeoutMs = 10000)
{
    std::string got;
    for (int waited = 0; (got = f()) != want && waited < timeoutMs; waited += 100)
        std::this_thread::sleep_for(100ms);
    return got;
}

// A line of modes whose mode is not the current one, and not want's size.
size_t OtherLine(const std::vector<DspMode>& modes, const std::string& current)
{
    for (size_t i = 0; i < modes.size(); ++i) {
        const std::string size =
            std::to_string(modes[i].dmPelsWidth) + "x" + std::to_string(modes[i].dmPelsHeight);
        if (size != current && modes[i].dmPelsWidth <= 1280) return i;
    }
    return modes.size();
}

std::string SizeOf(const DspMode& m)
{
    return std::to_string(m.dmPelsWidth) + "x" + std::to_string(m.dmPelsHeight);
}

// Runs the automatic choice in the daemon's session, with an older login
// entry of ours in place; the chosen backend's name.
class DesktopStore : public testing::Test {
protected:
    ChosenBackend Choose(const DesktopDaemon& daemon)
    {
        daemon.Use();
        unsetenv("WAYLAND_DISPLAY");
        fs::create_directories(LoginEntry().parent_path());
        std::ofstream(LoginEntry()) << "[Desktop Entry]\nExec=xrandr --output X --mode 640x480\n";
        return ChooseBackend(CompiledBackends(), nullptr);
    }
    fs::path LoginEntry() const { return fs::path(AutostartDir()) / kAutostartFileName; }
};

class Cinnamon : public DesktopStore {
protected:
    void SetUp() override { ASSERT_TRUE(muffin.Running()) << muffin.Log(); }
    XvncServer x;
    MuffinSession muffin{x};
};

TEST_F(Cinnamon, KeptInCinnamonMonitorsXmlWhenTheUserKeepsItAndMuffinRestoresIt)
{
    ChosenBackend chosen = Choose(muffin);
    ASSERT_EQ(chosen.name, "muffin") << chosen.diagnostic;
    const auto modes = Enumerate(*chosen.settings);
    // muffin's modes are the X server's, without 640x480.
    EXPECT_EQ(modes.size() + 1, QueryXrandr(x).modes.size());
    const std::string before = CurrentMode(x);
    const size_t k = OtherLine(modes, before);
    ASSERT_LT(k, modes.size());
    ASSERT_EQ(chosen.settings->ChangeDisplaySettingsA(&modes[k], dsp::kUpdateRegistry),
              dsp::kDispChangeSuccessful);
    EXPECT_EQ(CurrentMode(x), SizeOf(modes[k]));
    EXPECT_FALSE(fs::exists(LoginEntry())) << "an older entry would override Cinnamon's store";
    ASSERT_TRUE(muffin.AnswerConfirmation(true)) << muffin.Log();
    const std::string store = muffin.ConfigHome() + "/cinnamon-monitors.xml";
    const std::string width = "<width>" + std::to_string(modes[k].dmPelsWidth) + "</width>";
    EXPECT_NE(Await([&] { return ReadFile(store).find(width) != std::string::npos ? "y" : "n"; },
                    "y"),
              "n")
        << ReadFile(store);

    // Another client sets another mode; muffin, started again, restores its own.
    ASSERT_EQ(x.Run({"xrandr", "--output", "VNC-0", "--mode", before}).status, 0);
    ASSERT_TRUE(muffin.Restart()) << muffin.Log();
    EXPECT_EQ(Await([&] { return CurrentMode(x); }, SizeOf(modes[k])), SizeOf(modes[k]));
}

TEST_F(Cinnamon, RestoringThePreviousConfigurationWritesNothing)
{
    ChosenBackend chosen = Choose(muffin);
    ASSERT_EQ(chosen.name, "muffin") << chosen.diagnostic;
    const auto modes = Enumerate(*chosen.settings);
    const std::string before = CurrentMode(x);
    const size_t k = OtherLine(modes, before);
    ASSERT_EQ(chosen.settings->ChangeDisplaySettingsA(&modes[k], dsp::kUpdateRegistry),
              dsp::kDispChangeSuccessful);
    ASSERT_TRUE(muffin.AnswerConfirmation(false)) << muffin.Log();
    EXPECT_EQ(Await([&] { return CurrentMode(x); }, before), before);
    EXPECT_FALSE(fs::exists(muffin.ConfigHome() + "/cinnamon-monitors.xml"));
}

}  // namespace
