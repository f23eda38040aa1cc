// The RandR layer and the login entry when the server or the file system
// misbehaves; each test starts its own Xvnc.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include <sys/mount.h>
#include <unistd.h>

#include "desktop_exec.h"
#include "mode_list.h"
#include "modes.h"
#include "x11_autostart.h"
#include "x11_display_settings.h"
#include "xvnc.h"

namespace fs = std::filesystem;

namespace {

std::string CurrentMode(const XServer& server)
{
    const XrandrOutput out = QueryXrandr(server);
    return out.connected && out.Current() ? out.Current()->name : "(none)";
}

class ServerFaults : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Running());
        setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    }
    XvncServer server;
    TempDir config;
};

TEST_F(ServerFaults, AnotherClientsChangesDoNotRedirectTheApply)
{
    X11DisplaySettings layer(server.Display().c_str());
    const auto modes = Enumerate(layer);
    const int index = IndexOf(modes, 1920, 1080);
    ASSERT_GE(index, 0);
    const size_t k = static_cast<size_t>(index);
    // Between the fill and OK: another mode, a new mode, one removed, a moved output.
    ASSERT_EQ(server.Run({"xrandr", "--output", "VNC-0", "--mode", "1280x800"}).status, 0);
    ASSERT_TRUE(AddModes(server, "VNC-0", "intruder", 3, 1000, 700));
    ASSERT_EQ(server.Run({"xrandr", "--delmode", "VNC-0", "intruder1"}).status, 0);
    ASSERT_EQ(server.Run({"xrandr", "--output", "VNC-0", "--pos", "0x0"}).status, 0);
    EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[k], dsp::kUpdateRegistry),
              dsp::kDispChangeSuccessful);
    EXPECT_EQ(CurrentMode(server), "1920x1080");
}

TEST_F(ServerFaults, ThousandModesAndTheWidestAreAllListedInOrder)
{
    ASSERT_TRUE(AddModes(server, "VNC-0", "many", 1000, 800, 500));
    ASSERT_TRUE(AddModes(server, "VNC-0", "widest", 1, 32768, 400));
    X11DisplaySettings layer(server.Display().c_str());
    const auto modes = Enumerate(layer);
    const XrandrOutput out = QueryXrandr(server);
    ASSERT_EQ(modes.size(), out.modes.size());
    ASSERT_EQ(modes.size(), 13u + 1001u);
    for (size_t i = 0; i < modes.size(); ++i) {
        ASSERT_EQ(modes[i].dmPelsWidth, out.modes[i].width) << i;
        ASSERT_EQ(modes[i].dmPelsHeight, out.modes[i].height) << i;
    }
    EXPECT_EQ(DspLine(modes.back()), "32768 x   400    全彩(32bit)");
}

TEST_F(ServerFaults, ModeTheServerCannotShowLeavesTheOutputAsItWas)
{
    ASSERT_TRUE(AddModes(server, "VNC-0", "toowide", 1, 32768, 400));
    ASSERT_EQ(server.Run({"xrandr", "--output", "VNC-0", "--pos", "8x0"}).status, 0);
    const XrandrOutput before = QueryXrandr(server);
    X11DisplaySettings layer(server.Display().c_str());
    const auto modes = Enumerate(layer);
    EXPECT_NE(layer.ChangeDisplaySettingsA(&modes.back(), dsp::kUpdateRegistry),
              dsp::kDispChangeSuccessful);
    const XrandrOutput out = QueryXrandr(server);
    EXPECT_TRUE(out.connected);
    EXPECT_EQ(CurrentMode(server), "1024x768");
    EXPECT_EQ(out.screenWidth, before.screenWidth);
    EXPECT_EQ(out.screenHeight, before.screenHeight);
    EXPECT_FALSE(fs::exists(config.Path() + "/autostart")) << "nothing stored";
}

// Every file-system fault: the display switches all the same, nothing half
// written is left, and an earlier good entry survives.
struct FsCase {
    const char* name;
    // Prepares the scene under root; returns the XDG_CONFIG_HOME to use ("-": unset).
    std::string (*prepare)(const fs::path& root);
    int32_t result;
    const char* entryDir;  // where the entry ends up, relative to root; null: nowhere new
};

void PrintTo(const FsCase& c, std::ostream* os) { *os << c.name; }

bool Mount(const fs::path& where, const char* options, unsigned long flags = 0)
{
    fs::create_directories(where);
    return ::mount("tmpfs", where.c_str(), "tmpfs", flags, options) == 0;
}

const FsCase kFsCases[] = {
    {"AutostartFolderMissing", [](const fs::path& root) { return (root / "cfg").string(); },
     dsp::kDispChangeSuccessful, "cfg/autostart"},
    {"ConfigHomeUnwritable",
     [](const fs::path& root) {
         if (!Mount(root / "cfg", "size=64k", MS_RDONLY)) return std::string("skip");
         return (root / "cfg").string();
     },
     dsp::kDispChangeNotUpdated, nullptr},
    {"EntryIsASymlink",
     [](const fs::path& root) {
         fs::create_directories(root / "cfg/autostart");
         std::ofstream(root / "victim") << "keep me\n";
         fs::create_symlink(root / "victim", root / "cfg/autostart" / kAutostartFileName);
         return (root / "cfg").string();
     },
     dsp::kDispChangeSuccessful, "cfg/autostart"},
    {"DiskFull",
     [](const fs::path& root) {
         if (!Mount(root / "cfg", "size=8k")) return std::string("skip");
         fs::create_directories(root / "cfg/autostart");
         std::ofstream(root / "cfg/autostart" / kAutostartFileName) << "[Desktop Entry]\nExec=old\n";
         std::ofstream filler(root / "cfg/filler");
         for (int i = 0; i < 64 && filler; ++i) filler << std::string(1024, 'x') << std::flush;
         return (root / "cfg").string();
     },
     dsp::kDispChangeNotUpdated, nullptr},
    {"ConfigHomeRelative", [](const fs::path&) { return std::string("relative/config"); },
     dsp::kDispChangeSuccessful, "home/.config/autostart"},
    {"ConfigHomeEmpty", [](const fs::path&) { return std::string(); },
     dsp::kDispChangeSuccessful, "home/.config/autostart"},
};

class FileSystemFaults : public testing::TestWithParam<FsCase> {};

TEST_P(FileSystemFaults, DisplayStillSwitchesAndNothingIsLost)
{
    const FsCase& c = GetParam();
    XvncServer server;
    ASSERT_TRUE(server.Running());
    TempDir tmp;
    const fs::path root = tmp.Path();
    fs::create_directories(root / "home");
    struct Restore {
        fs::path mount;
        std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
        ~Restore()
        {
            ::umount2(mount.c_str(), MNT_DETACH);
            setenv("HOME", home.c_str(), 1);
        }
    } restore{root / "cfg"};
    setenv("HOME", (root / "home").c_str(), 1);
    const std::string xdg = c.prepare(root);
    if (xdg == "skip") GTEST_SKIP() << "mounting a tmpfs needs root";
    setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
    // Everything there was before, to compare afterwards.
    std::map<std::string, std::string> before;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file() && !e.is_symlink()) before[e.path()] = ReadFile(e.path());

    X11DisplaySettings layer(server.Display().c_str());
    const auto modes = Enumerate(layer);
    const int index = IndexOf(modes, 1280, 720);
    ASSERT_GE(index, 0);
    const size_t k = static_cast<size_t>(index);
    EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[k], dsp::kUpdateRegistry), c.result);
    EXPECT_EQ(CurrentMode(server), "1280x720") << "the display switches whatever the disk does";

    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string name = e.path().filename();
        EXPECT_EQ(name.find(".tavrimo-display-mode.desktop."), std::string::npos)
            << "temporary file left: " << e.path();
    }
    for (const auto& [path, text] : before) {
        if (c.entryDir && fs::path(path) == root / c.entryDir / kAutostartFileName) continue;
        EXPECT_EQ(ReadFile(path), text) << path << " changed";
    }
    if (c.entryDir) {
        const fs::path entry = root / c.entryDir / kAutostartFileName;
        ASSERT_TRUE(fs::is_regular_file(fs::symlink_status(entry))) << entry;
        const auto exec = DesktopEntryValue(ReadFile(entry), "Exec");
        ASSERT_TRUE(exec.has_value());
        EXPECT_EQ(ParseDesktopExec(*exec),
                  XrandrArgs("VNC-0", "1280x720", XrandrRate(server, "1280x720")));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, FileSystemFaults, testing::ValuesIn(kFsCases),
                         [](const testing::TestParamInfo<FsCase>& p) { return p.param.name; });

}  // namespace
