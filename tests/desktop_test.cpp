// Cinnamon, Xfce and MATE on X11: the mode chosen is kept in the desktop's own
// display store, and the desktop's own daemon brings it back. Each test runs
// the real daemon on an Xvnc, a session bus and config folders of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <glib.h>
#include <sys/stat.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>

#include "backend_registry.h"
#include "desktop_daemons.h"
#include "desktop_exec.h"
#include "modes.h"
#include "x11_display_settings.h"
#include "x11_mate_store.h"
#include "x11_xfce_store.h"
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

std::string SizeOf(const DspMode& m)
{
    return std::to_string(m.dmPelsWidth) + "x" + std::to_string(m.dmPelsHeight);
}

// A line of modes whose mode is not the current one, and not want's size.
size_t OtherLine(const std::vector<DspMode>& modes, const std::string& current)
{
    for (size_t i = 0; i < modes.size(); ++i)
        if (SizeOf(modes[i]) != current && modes[i].dmPelsWidth <= 1280) return i;
    return modes.size();
}

// A monitor's EDID of the given number of 128-byte blocks: maker "TAV",
// product 0x1234, serial 0x01020304, version 1.4, each block summed to zero.
std::vector<uint8_t> Edid(size_t blocks)
{
    std::vector<uint8_t> e(128 * blocks, 0);
    const uint8_t head[] = {0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0,    0x50, 0x36,
                            0x34, 0x12, 0x04, 0x03, 0x02, 0x01, 1,    30,   1,    4};
    std::copy(std::begin(head), std::end(head), e.begin());
    e[126] = static_cast<uint8_t>(blocks - 1);
    for (size_t b = 0; b < blocks; ++b) {
        if (b > 0) e[128 * b] = 0x02;  // a CTA extension, empty
        unsigned sum = 0;
        for (size_t i = 128 * b; i < 128 * b + 127; ++i) sum += e[i];
        e[128 * b + 127] = static_cast<uint8_t>(256 - sum % 256);
    }
    return e;
}

// RandR's id of output on the server's first screen, with the connection.
struct RandR {
    explicit RandR(const XServer& x, const std::string& output)
        : c(xcb_connect(x.Display().c_str(), nullptr)),
          root(xcb_setup_roots_iterator(xcb_get_setup(c)).data->root)
    {
        auto* res = xcb_randr_get_screen_resources_current_reply(
            c, xcb_randr_get_screen_resources_current(c, root), nullptr);
        for (int i = 0; res && i < res->num_outputs; ++i) {
            const xcb_randr_output_t o = xcb_randr_get_screen_resources_current_outputs(res)[i];
            auto* info = xcb_randr_get_output_info_reply(c, xcb_randr_get_output_info(c, o, 0), nullptr);
            if (info && std::string(reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info)),
                                    static_cast<size_t>(xcb_randr_get_output_info_name_length(info))) ==
                            output)
                id = o;
            std::free(info);
        }
        std::free(res);
    }
    ~RandR() { xcb_disconnect(c); }
    RandR(const RandR&) = delete;
    RandR& operator=(const RandR&) = delete;

    // Sets output property name to bytes, 8-bit INTEGER items, as a driver
    // publishes an EDID; any client may.
    bool SetProperty(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        auto* atom = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
        if (atom == nullptr || id == 0) return std::free(atom), false;
        xcb_generic_error_t* e = xcb_request_check(
            c, xcb_randr_change_output_property_checked(
                   c, id, atom->atom, XCB_ATOM_INTEGER, 8, XCB_PROP_MODE_REPLACE,
                   static_cast<uint32_t>(bytes.size()), bytes.data()));
        std::free(atom);
        const bool ok = e == nullptr;
        std::free(e);
        return ok;
    }

    // Adds a mode of that size and timing to the end of the output's list;
    // its id, 0 on failure.
    uint32_t AddMode(const std::string& name, uint16_t width, uint16_t height, uint16_t hTotal,
                     uint16_t vTotal, uint32_t dotClock)
    {
        xcb_randr_mode_info_t info{};
        info.width = width;
        info.height = height;
        info.hsync_start = static_cast<uint16_t>(width + 10);
        info.hsync_end = static_cast<uint16_t>(width + 20);
        info.htotal = hTotal;
        info.vsync_start = static_cast<uint16_t>(height + 3);
        info.vsync_end = static_cast<uint16_t>(height + 6);
        info.vtotal = vTotal;
        info.dot_clock = dotClock;
        info.name_len = static_cast<uint16_t>(name.size());
        auto* made = xcb_randr_create_mode_reply(
            c, xcb_randr_create_mode(c, root, info, static_cast<uint32_t>(name.size()), name.c_str()),
            nullptr);
        if (made == nullptr || id == 0) return std::free(made), 0;
        const uint32_t mode = made->mode;
        std::free(made);
        xcb_generic_error_t* e = xcb_request_check(c, xcb_randr_add_output_mode_checked(c, id, mode));
        const bool ok = e == nullptr;
        std::free(e);
        return ok ? mode : 0;
    }

    xcb_connection_t* c;
    xcb_window_t root;
    xcb_randr_output_t id = 0;
};

// Runs the Exec line of the login entry at path against x, as the session
// would at login; false when there is none or it fails.
bool RunLoginEntry(const XServer& x, const fs::path& path)
{
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with("Exec=")) {
            const auto argv = ParseDesktopExec(line.substr(5));
            return argv && !argv->empty() && x.Run(*argv).status == 0;
        }
    return false;
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
    // muffin 6 answers before its X requests reach the server.
    EXPECT_EQ(Await([&] { return CurrentMode(x); }, SizeOf(modes[k])), SizeOf(modes[k]));
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

// Switches the chosen backend to a line other than the current mode, as OK
// does; that line's size.
std::string SwitchToAnother(ChosenBackend& chosen, const XServer& x)
{
    const auto modes = Enumerate(*chosen.settings);
    const size_t k = OtherLine(modes, CurrentMode(x));
    if (k == modes.size()) return "";
    if (chosen.settings->ChangeDisplaySettingsA(&modes[k], dsp::kUpdateRegistry) !=
        dsp::kDispChangeSuccessful)
        return "";
    return SizeOf(modes[k]);
}

class Xfce : public DesktopStore {
protected:
    void SetUp() override { ASSERT_TRUE(xfce.Running()) << xfce.Log(); }
    XvncServer x;
    XfceSession xfce{x};
};

TEST_F(Xfce, KeptInXfconfAndXfsettingsdRestoresItWhenStartedAgain)
{
    ChosenBackend chosen = Choose(xfce);
    ASSERT_EQ(chosen.name, "xfce") << chosen.diagnostic;
    const std::string before = CurrentMode(x);
    const std::string mode = SwitchToAnother(chosen, x);
    ASSERT_NE(mode, "");
    EXPECT_EQ(CurrentMode(x), mode);
    EXPECT_FALSE(fs::exists(LoginEntry())) << "an older entry would override xfsettingsd";
    // The whole output, as Xfce's Display settings would have written it.
    EXPECT_EQ(xfce.Property("/Default/VNC-0"), "VNC-0");
    EXPECT_EQ(xfce.Property("/Default/VNC-0/Active"), "true");
    EXPECT_EQ(xfce.Property("/Default/VNC-0/Resolution"), mode);
    // TigerVNC 1.12 gives its modes 60 Hz, 1.15 and later 59.8 to 59.98.
    EXPECT_NEAR(std::stod(xfce.Property("/Default/VNC-0/RefreshRate")), 60.0, 0.25);
    EXPECT_EQ(xfce.Property("/Default/VNC-0/Primary"), "false") << "as RandR has it";
    EXPECT_EQ(xfce.Property("/Default/VNC-0/Position/X"), "0");
    EXPECT_EQ(xfce.Property("/Default/VNC-0/Rotation"), "0");

    ASSERT_EQ(x.Run({"xrandr", "--output", "VNC-0", "--mode", before}).status, 0);
    ASSERT_TRUE(xfce.Restart()) << xfce.Log();
    EXPECT_EQ(Await([&] { return CurrentMode(x); }, mode), mode);
}

TEST_F(Xfce, AnOutputTheSchemeKnowsChangesOnlyItsModeAndEverythingElseStays)
{
    const struct {
        const char* property;
        const char* type;
        const char* value;
    } kept[] = {
        {"/Default/VNC-0", "string", "Monitor of the user"},
        {"/Default/VNC-0/Active", "bool", "true"},
        {"/Default/VNC-0/Resolution", "string", "1024x768"},
        {"/Default/VNC-0/RefreshRate", "double", "60.0"},
        {"/Default/VNC-0/Scale/X", "double", "1.0"},
        {"/Default/VNC-0/X-Unknown", "string", "kept"},
        {"/Default/HDMI-1", "string", "Another monitor"},
        {"/Default/HDMI-1/Resolution", "string", "1920x1080"},
        {"/Profile2/VNC-0/Resolution", "string", "1024x768"},
        // A profile of the user's that xfsettingsd may apply in place of Default.
        {"/Profile1/VNC-0", "string", "VNC-0"},
        {"/Profile1/VNC-0/Resolution", "string", "1024x768"},
        {"/ActiveProfile", "string", "Profile1"},
    };
    for (const auto& p : kept) ASSERT_TRUE(xfce.SetProperty(p.property, p.type, p.value));
    ChosenBackend chosen = Choose(xfce);
    const std::string mode = SwitchToAnother(chosen, x);
    ASSERT_NE(mode, "");
    EXPECT_EQ(xfce.Property("/Default/VNC-0/Resolution"), mode);
    EXPECT_EQ(xfce.Property("/Default/VNC-0"), "Monitor of the user");
    EXPECT_EQ(xfce.Property("/Default/VNC-0/Primary"), "") << "not written where it was not";
    EXPECT_EQ(xfce.Property("/Default/VNC-0/X-Unknown"), "kept");
    EXPECT_EQ(xfce.Property("/Default/HDMI-1/Resolution"), "1920x1080");
    EXPECT_EQ(xfce.Property("/Profile1/VNC-0/Resolution"), mode) << "the active profile";
    EXPECT_EQ(xfce.Property("/Profile2/VNC-0/Resolution"), "1024x768") << "not the active profile";
}

TEST_F(Xfce, TheProfileXfsettingsdPicksForTheseMonitorsAtLoginTakesTheModeToo)
{
    const std::vector<uint8_t> edid = Edid(1);
    ASSERT_TRUE(RandR(x, "VNC-0").SetProperty("EDID", edid));
    gchar* sum = g_compute_checksum_for_data(G_CHECKSUM_SHA1, edid.data(), 128);
    const std::string before = CurrentMode(x);
    // A profile of the user's for this monitor, not the active one.
    const struct {
        const char* property;
        const char* type;
        std::string value;
    } profile[] = {
        {"/Home", "string", "At home"},
        {"/Home/VNC-0", "string", "VNC-0"},
        {"/Home/VNC-0/EDID", "string", sum},
        {"/Home/VNC-0/Active", "bool", "true"},
        {"/Home/VNC-0/Resolution", "string", before},
        {"/Home/VNC-0/RefreshRate", "double", "60.0"},
        {"/Home/VNC-0/Position/X", "int", "0"},
        {"/Home/VNC-0/Position/Y", "int", "0"},
        {"/ActiveProfile", "string", "Default"},
    };
    g_free(sum);
    for (const auto& p : profile) ASSERT_TRUE(xfce.SetProperty(p.property, p.type, p.value));
    ChosenBackend chosen = Choose(xfce);
    const std::string mode = SwitchToAnother(chosen, x);
    ASSERT_NE(mode, "");
    EXPECT_EQ(xfce.Property("/Home/VNC-0/Resolution"), mode);
    ASSERT_EQ(x.Run({"xrandr", "--output", "VNC-0", "--mode", before}).status, 0);
    ASSERT_TRUE(xfce.Restart()) << xfce.Log();
    EXPECT_EQ(Await([&] { return CurrentMode(x); }, mode), mode) << xfce.Log();
}

class Mate : public DesktopStore {
protected:
    void SetUp() override { ASSERT_TRUE(mate.Running()) << mate.Log(); }
    std::string Store() const { return ReadFile(mate.ConfigHome() + "/monitors.xml"); }
    XvncServer x;
    MateSession mate{x};
};

TEST_F(Mate, KeptInMonitorsXmlVersion1AndTheDaemonRestoresItWhenStartedAgain)
{
    ChosenBackend chosen = Choose(mate);
    ASSERT_EQ(chosen.name, "mate") << chosen.diagnostic;
    const std::string before = CurrentMode(x);
    const std::string mode = SwitchToAnother(chosen, x);
    ASSERT_NE(mode, "");
    EXPECT_EQ(CurrentMode(x), mode);
    EXPECT_FALSE(fs::exists(LoginEntry())) << "an older entry would override MATE's store";
    const std::string xml = Store();
    EXPECT_NE(xml.find("<monitors version=\"1\">"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<width>" + mode.substr(0, mode.find('x')) + "</width>"),
              std::string::npos)
        << xml;

    ASSERT_EQ(x.Run({"xrandr", "--output", "VNC-0", "--mode", before}).status, 0);
    ASSERT_TRUE(mate.Restart()) << mate.Log();
    EXPECT_EQ(Await([&] { return CurrentMode(x); }, mode), mode) << mate.Log();
}

TEST_F(Mate, OtherConfigurationsCommentsAndUnknownElementsStayAndTheMatchingOneChanges)
{
    const std::string path = mate.ConfigHome() + "/monitors.xml";
    std::ofstream(path) << R"(<monitors version="1">
  <!-- the user's -->
  <configuration>
      <clone>no</clone>
      <output name="HDMI-1">
          <vendor>DEL</vendor>
          <product>0x4097</product>
          <serial>0x31323334</serial>
          <width>1920</width>
          <height>1080</height>
          <rate>60</rate>
          <x>0</x>
          <y>0</y>
          <rotation>normal</rotation>
          <reflect_x>no</reflect_x>
          <reflect_y>no</reflect_y>
          <primary>yes</primary>
      </output>
  </configuration>
  <configuration>
      <clone>no</clone>
      <output name="VNC-0">
          <vendor>???</vendor>
          <product>0x0000</product>
          <serial>0x00000000</serial>
          <width>1024</width>
          <height>768</height>
          <rate>60</rate>
          <x>0</x>
          <y>0</y>
          <rotation>normal</rotation>
          <reflect_x>no</reflect_x>
          <reflect_y>no</reflect_y>
          <primary>yes</primary>
          <future>kept</future>
      </output>
  </configuration>
</monitors>
)";
    ChosenBackend chosen = Choose(mate);
    const std::string mode = SwitchToAnother(chosen, x);
    ASSERT_NE(mode, "");
    const std::string xml = Store();
    for (const char* part : {"<!-- the user's -->", "<vendor>DEL</vendor>", "<width>1920</width>",
                             "<future>kept</future>"})
        EXPECT_NE(xml.find(part), std::string::npos) << part << "\n" << xml;
    EXPECT_EQ(xml.find("<width>1024</width>"), std::string::npos) << xml;
    EXPECT_EQ(xml.find("<configuration>", xml.find("VNC-0")), std::string::npos)
        << "changed in place, not added\n" << xml;
    ASSERT_TRUE(mate.Restart()) << mate.Log();
    EXPECT_EQ(CurrentMode(x), mode) << mate.Log();
}

TEST_F(Mate, AMonitorWithA512ByteEdidIsMatchedAsTheDaemonReadsItAndItsModeComesBack)
{
    // MATE reads 400 bytes of it, not whole blocks: to MATE it has no EDID.
    ASSERT_TRUE(RandR(x, "VNC-0").SetProperty("EDID", Edid(4)));
    ChosenBackend chosen = Choose(mate);
    const std::string before = CurrentMode(x);
    const std::string mode = SwitchToAnother(chosen, x);
    ASSERT_NE(mode, "");
    EXPECT_NE(Store().find("<vendor>???" "</vendor>"), std::string::npos) << Store();
    ASSERT_EQ(x.Run({"xrandr", "--output", "VNC-0", "--mode", before}).status, 0);
    ASSERT_TRUE(mate.Restart()) << mate.Log();
    EXPECT_EQ(Await([&] { return CurrentMode(x); }, mode), mode) << Store();
}

TEST_F(Mate, AModeMateCannotNameIsBroughtBackByTheLoginEntryAfterTheDaemon)
{
    // Two modes of one size, 60.00 Hz and then 59.94 Hz: both 60 to MATE.
    RandR randr(x, "VNC-0");
    const uint32_t first = randr.AddMode("1000x700", 1000, 700, 1100, 750, 49500000);
    const uint32_t second = randr.AddMode("1000x700_59.94", 1000, 700, 1100, 750, 49450500);
    ASSERT_NE(first, 0u);
    ASSERT_NE(second, 0u);
    ChosenBackend chosen = Choose(mate);
    ASSERT_EQ(chosen.name, "mate") << chosen.diagnostic;
    const auto modes = Enumerate(*chosen.settings);
    ASSERT_EQ(SizeOf(modes.back()), "1000x700");
    const std::string before = CurrentMode(x);
    ASSERT_EQ(chosen.settings->ChangeDisplaySettingsA(&modes.back(), dsp::kUpdateRegistry),
              dsp::kDispChangeSuccessful);
    EXPECT_NE(Store().find("<rate>60</rate>"), std::string::npos) << Store();
    ASSERT_TRUE(fs::exists(LoginEntry())) << "MATE's file alone brings back the 60.00 Hz mode";

    ASSERT_EQ(x.Run({"xrandr", "--output", "VNC-0", "--mode", before}).status, 0);
    ASSERT_TRUE(mate.Restart()) << mate.Log();
    const auto current = [&] {
        const XrandrOutput output = QueryXrandr(x);
        const XrandrMode* m = output.Current();
        return m ? std::to_string(m->id) : "";
    };
    // The daemon, as at a hotplug, then the login entry.
    EXPECT_EQ(Await(current, std::to_string(first)), std::to_string(first)) << mate.Log();
    ASSERT_TRUE(RunLoginEntry(x, LoginEntry())) << ReadFile(LoginEntry());
    EXPECT_EQ(current(), std::to_string(second));
}

TEST_F(Mate, ALeftoverBackupTakesTheModeTooAndBothFilesKeepTheirPermissions)
{
    const std::string before = CurrentMode(x);
    const std::string width = before.substr(0, before.find('x'));
    const std::string height = before.substr(before.find('x') + 1);
    // What MATE's display settings leave behind when a change is never confirmed.
    const std::string backup = R"(<monitors version="1">
  <configuration>
      <clone>no</clone>
      <output name="VNC-0">
          <vendor>???</vendor>
          <product>0x0000</product>
          <serial>0x00000000</serial>
          <width>)" + width + "</width>\n          <height>" + height + R"(</height>
          <rate>60</rate>
          <x>0</x>
          <y>0</y>
          <rotation>normal</rotation>
          <reflect_x>no</reflect_x>
          <reflect_y>no</reflect_y>
          <primary>yes</primary>
      </output>
  </configuration>
</monitors>
)";
    const std::string dir = mate.ConfigHome();
    for (const char* name : {"/monitors.xml", "/monitors.xml.backup"}) {
        std::ofstream(dir + name) << backup;
        chmod((dir + name).c_str(), 0600);
    }
    ChosenBackend chosen = Choose(mate);
    const std::string mode = SwitchToAnother(chosen, x);
    ASSERT_NE(mode, "");
    for (const char* name : {"/monitors.xml", "/monitors.xml.backup"}) {
        struct stat st {};
        ASSERT_EQ(stat((dir + name).c_str(), &st), 0) << name;
        EXPECT_EQ(st.st_mode & 07777, 0600u) << name;
    }
    ASSERT_EQ(x.Run({"xrandr", "--output", "VNC-0", "--mode", before}).status, 0);
    ASSERT_TRUE(mate.Restart()) << mate.Log();
    EXPECT_EQ(Await([&] { return CurrentMode(x); }, mode), mode) << mate.Log();
}

TEST(MateStore, GnomesVersion2FileIsNeverReplacedTheLoginEntryKeepsTheModeInstead)
{
    XvncServer x;
    TempDir config;
    ASSERT_TRUE(x.Running());
    setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    const std::string gnome = "<monitors version=\"2\">\n  <configuration/>\n</monitors>\n";
    std::ofstream(config.Path() + "/monitors.xml") << gnome;
    X11DisplaySettings layer(x.Display().c_str(), MateStore());
    const auto modes = Enumerate(layer);
    const size_t k = OtherLine(modes, CurrentMode(x));
    ASSERT_LT(k, modes.size());
    EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[k], dsp::kUpdateRegistry),
              dsp::kDispChangeSuccessful);
    EXPECT_EQ(ReadFile(config.Path() + "/monitors.xml"), gnome);
    EXPECT_TRUE(fs::exists(config.Path() + "/autostart/" + kAutostartFileName));
}

// What real monitors have and Xvnc does not: rates off the whole hertz, output
// names with characters xfconf does not take, an EDID.
TEST(DesktopStoreValues, RatesNamesAndEdidAsTheDaemonsReadThem)
{
    const struct {
        uint32_t dotClock;
        uint16_t hTotal, vTotal;
        int mate;  // MATE applies a stored rate only where it equals its own rounding
    } rates[] = {
        {148500000, 2200, 1125, 60},  // 60.000
        {148351648, 2200, 1125, 60},  // 59.940
        {25175000, 800, 525, 60},     // 59.940
        {74176000, 1650, 750, 60},    // 59.940
        {31500000, 840, 500, 75},     // 75.000
        {49500000, 1056, 625, 75},    // 75.000
        {27000000, 858, 1050, 30},    // 29.970
        {0, 0, 0, 0},
    };
    for (const auto& r : rates) {
        X11OutputState o;
        o.dotClock = r.dotClock;
        o.hTotal = r.hTotal;
        o.vTotal = r.vTotal;
        EXPECT_EQ(MateRate(o), r.mate) << r.dotClock;
    }
    EXPECT_EQ(XfconfOutputName("DP-1.2"), "DP-1_2");
    EXPECT_EQ(XfconfOutputName("HDMI-A-1"), "HDMI-A-1");
    EXPECT_EQ(XfconfOutputName("a b:c<d>"), "a_b_c<d>");

    X11Layout layout;
    layout.chosen = "DP-1.2";
    X11OutputState o;
    o.name = "DP-1.2";
    o.connected = o.on = true;
    o.width = 1920;
    o.height = 1080;
    o.dotClock = 148500000;
    o.hTotal = 2200;
    o.vTotal = 1125;
    o.rotation = 2 | 0x10;  // turned left, mirrored left to right
    o.edid.assign(128, 0);
    layout.outputs = {o};
    const XfconfProperties set = XfconfChanges(layout, {});
    EXPECT_EQ(std::get<std::string>(set.at("/Default/DP-1_2")), "DP-1.2");
    EXPECT_EQ(std::get<std::string>(set.at("/Default/DP-1_2/Resolution")), "1920x1080");
    EXPECT_DOUBLE_EQ(std::get<double>(set.at("/Default/DP-1_2/RefreshRate")), 60.0);
    EXPECT_EQ(std::get<int32_t>(set.at("/Default/DP-1_2/Rotation")), 90);
    EXPECT_EQ(std::get<std::string>(set.at("/Default/DP-1_2/Reflection")), "X");
    // The SHA-1 of the EDID's first block, as xfsettingsd matches it.
    EXPECT_EQ(std::get<std::string>(set.at("/Default/DP-1_2/EDID")),
              "0ae4f711ef5d6e9d26c611fd2c8c8ac45ecbf9e7");
}

// The profile xfsettingsd 4.20 applies at login in place of Default: the only
// one of the user's whose outputs are, by EDID, exactly the connected ones.
TEST(DesktopStoreValues, TheProfileXfsettingsdPicksAtLogin)
{
    const std::vector<uint8_t> edid = Edid(1);
    gchar* sum = g_compute_checksum_for_data(G_CHECKSUM_SHA1, edid.data(), 128);
    const std::string a = sum;
    g_free(sum);
    X11Layout layout;
    X11OutputState o;
    o.name = "DP-1";
    o.connected = true;
    o.edid = edid;
    X11OutputState off;
    off.name = "HDMI-1";
    layout.outputs = {o, off};
    const XfconfProperties home = {{"/Home", std::string("Home")},
                                   {"/Home/DP-1", std::string("Monitor")},
                                   {"/Home/DP-1/EDID", a},
                                   {"/Home/DP-1/Resolution", std::string("1920x1080")}};
    const auto with = [&](XfconfProperties more) {
        more.insert(home.begin(), home.end());
        return more;
    };
    const struct {
        const char* what;
        XfconfProperties current;
        std::string profile;
    } cases[] = {
        {"one matching profile", home, "Home"},
        {"Default is not a profile of the user's",
         {{"/Default/DP-1", std::string("M")}, {"/Default/DP-1/EDID", a}},
         ""},
        {"two match: neither", with({{"/Work/DP-1", std::string("M")}, {"/Work/DP-1/EDID", a}}),
         ""},
        {"another EDID",
         {{"/Work/DP-1", std::string("M")}, {"/Work/DP-1/EDID", std::string("0")}},
         ""},
        {"a monitor more", with({{"/Home/DP-2", std::string("M")}, {"/Home/DP-2/EDID", a}}), ""},
        {"an output without EDID", with({{"/Home/DP-2", std::string("M")}}), ""},
        {"turned off", with({{"/AutoEnableProfiles", false}}), ""},
        {"never", with({{"/AutoEnableProfiles", int32_t{0}}}), ""},
        {"on connect", with({{"/AutoEnableProfiles", int32_t{1}}}), "Home"},
    };
    for (const auto& c : cases) EXPECT_EQ(XfceLoginProfile(layout, c.current), c.profile) << c.what;
}

// MATE tells monitors apart by the EDID as its daemon reads it: EDID, else
// EDID_DATA, its first 400 bytes, and only whole 128-byte blocks of them.
TEST(DesktopStoreValues, MateReadsTheEdidAsItsDaemonDoes)
{
    std::vector<uint8_t> badHeader = Edid(1), cut = Edid(1);
    badHeader[1] = 0;
    cut.resize(100);
    const struct {
        const char* what;
        std::vector<uint8_t> edid, edidData;
        bool known;  // MATE sees maker TAV, product 0x1234, serial 0x01020304
    } cases[] = {
        {"one block", Edid(1), {}, true},
        {"three blocks", Edid(3), {}, true},
        {"four blocks: 400 bytes read", Edid(4), {}, false},
        {"EDID_DATA only", {}, Edid(1), true},
        {"EDID cut short, EDID_DATA not looked at", cut, Edid(1), false},
        {"no EDID header", badHeader, {}, false},
    };
    for (const auto& c : cases) {
        X11Layout layout;
        layout.chosen = "DP-1";
        X11OutputState o;
        o.name = "DP-1";
        o.connected = o.on = true;
        o.width = 1920;
        o.height = 1080;
        o.edid = c.edid;
        o.edidData = c.edidData;
        layout.outputs = {o};
        std::string error;
        const std::string xml = MateMonitorsXml("", layout, &error).value_or(error);
        const bool known = xml.find("<vendor>TAV</vendor>") != std::string::npos &&
                           xml.find("<product>0x1234</product>") != std::string::npos &&
                           xml.find("<serial>0x01020304</serial>") != std::string::npos;
        EXPECT_EQ(known, c.known) << c.what << "\n" << xml;
        if (!c.known) {
            EXPECT_NE(xml.find("<vendor>???" "</vendor>"), std::string::npos) << c.what;
        }
    }
}

}  // namespace
