// The login entry: Exec quoting read back by an independent parser, and the
// atomic replacement of the file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "desktop_exec.h"
#include "x11_autostart.h"
#include "xvnc.h"

namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

TEST(DesktopExec, EveryArgumentReadsBackExactly)
{
    const std::vector<std::vector<std::string>> cases = {
        {"xrandr", "--output", "VNC-0", "--mode", "1024x768", "--rate", "60.00"},
        {"xrandr", "--output", "DP 1", "--mode", "my mode", "--rate", "59.95"},
        {"a\"b", "back\\slash", "dollar$HOME", "tick`x`", "100%", "%%u"},
        {"", "tab\there", "new\nline", "cr\rx", "'single'", "semi;colon", "a=b"},
        {"顯示模式", "<>|&*?#()~", "trailing\\"},
    };
    for (const auto& argv : cases) {
        const auto value = DesktopExecValue(argv);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(value->find('\n'), std::string::npos) << "one line in the file";
        EXPECT_EQ(ParseDesktopExec(*value), argv) << *value;
    }
}

TEST(DesktopExec, PlainArgumentsStayUnquoted)
{
    EXPECT_EQ(DesktopExecValue(XrandrArgs("HDMI-1", "1920x1080", 60.0)),
              "xrandr --output HDMI-1 --mode 1920x1080 --rate 60.00");
}

TEST(DesktopExec, RefusesWhatAnEntryCannotCarry)
{
    EXPECT_EQ(DesktopExecValue({"bad\xff"}), std::nullopt);
    EXPECT_EQ(DesktopExecValue({"\xc0\xaf"}), std::nullopt) << "overlong";
    EXPECT_EQ(DesktopExecValue({"\xed\xa0\x80"}), std::nullopt) << "surrogate";
    EXPECT_EQ(DesktopExecValue({"\xe9\xa1"}), std::nullopt) << "cut short";
    EXPECT_EQ(DesktopExecValue({"bell\a"}), std::nullopt);
    EXPECT_EQ(DesktopExecValue({"del\x7f"}), std::nullopt);
}

TEST(FormatRate, TwoDecimalsOrEnoughToNameTheMode)
{
    EXPECT_EQ(FormatRate(60.0), "60.00");
    EXPECT_EQ(FormatRate(59.9514), "59.95");
    EXPECT_EQ(FormatRate(74.996), "75.00");
    EXPECT_EQ(FormatRate(0.0), "0.00");
    EXPECT_EQ(FormatRate(-1.0), "0.00");
    EXPECT_EQ(FormatRate(std::nan("")), "0.00");
    EXPECT_EQ(FormatRate(1e300).substr(0, 2), "10");
    EXPECT_EQ(FormatRate(1e300).size(), 301u + 3u);
    // As many more decimals as tell it from the output's other modes of its name.
    EXPECT_EQ(FormatRate(60.00227, {60.00114}), "60.002");
    EXPECT_EQ(FormatRate(60.00114, {60.00227, 59.94}), "60.00");
    EXPECT_EQ(FormatRate(60.0, {59.94, 75.0}), "60.00");
    EXPECT_EQ(FormatRate(60.0, {60.0}).size(), 12u) << "no digits tell equal rates apart";
}

class AutostartFiles : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(tmp.Path().empty());
        dir = fs::path(tmp.Path()) / "config" / "autostart";
        entry = dir / kAutostartFileName;
    }

    std::vector<std::string> FilesIn(const fs::path& folder)
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
        return names;
    }

    TempDir tmp;
    fs::path dir;
    fs::path entry;
    const std::vector<std::string> argv = XrandrArgs("VNC-0", "800x600", 60.0);
};

TEST_F(AutostartFiles, CreatesMissingFoldersAndAValidEntry)
{
    std::string error;
    ASSERT_TRUE(WriteAutostartEntry(dir.string(), argv, &error)) << error;
    const std::string text = ReadFile(entry);
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    EXPECT_EQ(text.find("OnlyShowIn"), std::string::npos);
    const auto exec = DesktopEntryValue(text, "Exec");
    ASSERT_TRUE(exec.has_value());
    EXPECT_EQ(ParseDesktopExec(*exec), argv);
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{kAutostartFileName});
    EXPECT_EQ(fs::status(entry).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
}

TEST_F(AutostartFiles, ReplacesTheEarlierEntry)
{
    ASSERT_TRUE(WriteAutostartEntry(dir.string(), XrandrArgs("VNC-0", "640x480", 60), nullptr));
    ASSERT_TRUE(WriteAutostartEntry(dir.string(), argv, nullptr));
    EXPECT_EQ(ParseDesktopExec(*DesktopEntryValue(ReadFile(entry), "Exec")), argv);
    EXPECT_EQ(FilesIn(dir).size(), 1u);
}

TEST_F(AutostartFiles, NeverWritesThroughASymlink)
{
    fs::create_directories(dir);
    const fs::path victim = fs::path(tmp.Path()) / "victim.txt";
    WriteFile(victim, "keep me\n");
    fs::create_symlink(victim, entry);
    ASSERT_TRUE(WriteAutostartEntry(dir.string(), argv, nullptr));
    EXPECT_EQ(ReadFile(victim), "keep me\n");
    EXPECT_FALSE(fs::is_symlink(entry));
    EXPECT_EQ(ParseDesktopExec(*DesktopEntryValue(ReadFile(entry), "Exec")), argv);
}

TEST_F(AutostartFiles, FailureLeavesNoTraceAndKeepsTheOldEntry)
{
    // A folder where the entry should be: the final rename must fail.
    fs::create_directories(entry);
    WriteFile(entry / "inside", "old\n");
    std::string error;
    EXPECT_FALSE(WriteAutostartEntry(dir.string(), argv, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{kAutostartFileName});
    EXPECT_EQ(ReadFile(entry / "inside"), "old\n");
}

TEST_F(AutostartFiles, FolderThatCannotBeMadeFails)
{
    fs::create_directories(dir.parent_path());
    WriteFile(dir, "a file, not a folder");
    EXPECT_FALSE(WriteAutostartEntry(dir.string(), argv, nullptr));
    EXPECT_FALSE(WriteAutostartEntry("relative/autostart", argv, nullptr));
    EXPECT_FALSE(WriteAutostartEntry(dir.string(), {"bad\xff"}, nullptr));
}

TEST(AutostartDir, FollowsTheXdgBaseDirectoryRules)
{
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", "/home/someone", 1);
    const struct {
        const char* xdg;  // null: unset
        const char* dir;
    } cases[] = {
        {"/xdg/config", "/xdg/config/autostart"},
        {"/xdg/config/", "/xdg/config/autostart"},
        {nullptr, "/home/someone/.config/autostart"},
        {"", "/home/someone/.config/autostart"},
        {"relative/config", "/home/someone/.config/autostart"},
    };
    for (const auto& c : cases) {
        if (c.xdg) setenv("XDG_CONFIG_HOME", c.xdg, 1);
        else unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(AutostartDir(), c.dir) << (c.xdg ? c.xdg : "(unset)");
    }
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", savedHome.c_str(), 1);
}

}  // namespace
