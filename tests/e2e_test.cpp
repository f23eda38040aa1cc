// The real program on a private Xvnc, driven by real key presses.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "xvnc.h"

namespace {

using namespace std::chrono_literals;

class EndToEnd : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Running()) << "Xvnc did not start";
        const std::string env[] = {server.DisplayEnv(), "XDG_CONFIG_HOME=" + config.Path(),
                                   "QT_QPA_PLATFORM=xcb"};
        app = SpawnCommand({TAVRIMO_BINARY}, {env[0], env[1], env[2]});
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
}

}  // namespace
