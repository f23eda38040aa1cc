// The choice of display backend: scripted layers for the rules, then the
// real ones on real sessions.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "backend_registry.h"
#include "compositor.h"
#include "modes.h"

namespace {

// A scripted layer that opens when its session offers it.
template <bool Offered>
std::unique_ptr<DisplaySettings> Scripted(bool forced, std::string* why)
{
    if (Offered || forced) return std::make_unique<NoDisplaySettings>();
    *why = "not here";
    return nullptr;
}

TEST(ChooseBackend, TakesTheFirstThatOpensOrTheOneNamed)
{
    const DisplayBackend table[] = {{"gnome", &Scripted<false>}, {"plasma", &Scripted<true>},
                                    {"x11", &Scripted<true>}};
    const DisplayBackend none[] = {{"gnome", &Scripted<false>}, {"x11", &Scripted<false>}};
    struct Case {
        std::span<const DisplayBackend> backends;
        const char* choice;
        const char* name;
        const char* diagnostic;  // a part of it; "" for none at all
    } cases[] = {
        {table, nullptr, "plasma", ""},
        {table, "", "plasma", ""},
        {table, "x11", "x11", ""},
        {table, "gnome", "gnome", ""},  // named: opened even where not offered
        {table, "wayland", "", "TAVRIMO_DISPLAY_BACKEND=wayland names no display backend"},
        {none, nullptr, "", "offers no way to set display modes (gnome: not here; x11: not here)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.choice ? c.choice : "(automatic)");
        const ChosenBackend chosen = ChooseBackend(c.backends, c.choice);
        ASSERT_NE(chosen.settings, nullptr);
        EXPECT_EQ(chosen.name, c.name);
        if (*c.diagnostic == '\0') EXPECT_EQ(chosen.diagnostic, "");
        else EXPECT_NE(chosen.diagnostic.find(c.diagnostic), std::string::npos) << chosen.diagnostic;
    }
}

class RealSessions : public testing::Test {
protected:
    void Use(const std::string& display, const std::string& bus)
    {
        setenv("DISPLAY", display.c_str(), 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
        setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
        unsetenv("WAYLAND_DISPLAY");
    }
    TempDir config;
};

TEST_F(RealSessions, MutterOnTheBusIsChosenAndX11OnlyWhenNamed)
{
    // Where Mutter has no X11 backend (50), its headless session with its Xwayland.
    const bool x11 = InstalledMutter().x11;
    XvncServer x;
    MutterSession mutter(x, x11 ? MutterSession::Kind::X11 : MutterSession::Kind::Headless,
                         kVirtualMonitors);
    ASSERT_TRUE(mutter.Running()) << mutter.Log();
    UseEnv(mutter.ClientEnv());
    Use(mutter.XDisplay(), mutter.BusAddress());
    EXPECT_EQ(ChooseBackend(CompiledBackends(), nullptr).name, "mutter");
    const ChosenBackend named = ChooseBackend(CompiledBackends(), "x11");
    if (x11) {
        EXPECT_EQ(named.name, "x11");
        EXPECT_EQ(Enumerate(*named.settings).size(), QueryXrandr(x).modes.size());
    } else {
        EXPECT_TRUE(Enumerate(*named.settings).empty()) << "Xwayland's modes are made up";
    }
}

TEST_F(RealSessions, PlainX11WithoutMutterGetsRandR)
{
    XvncServer x;
    SessionBus bus;
    ASSERT_TRUE(x.Running() && bus.Running());
    Use(x.Display(), bus.Address());
    EXPECT_EQ(ChooseBackend(CompiledBackends(), nullptr).name, "x11");
}

// Without a session bus, looking for Mutter, muffin and the X11 desktops'
// daemons must not start one: GLib would run dbus-launch for it.
TEST_F(RealSessions, WithoutASessionBusNoBusIsStartedAndRandRServes)
{
    XvncServer x;
    ASSERT_TRUE(x.Running());
    Use(x.Display(), "");
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    TempDir fake;
    const std::string marker = PlantCommand(fake.Path(), "dbus-launch");
    const std::string path = std::getenv("PATH");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedRuntime = runtime ? runtime : "";
    setenv("PATH", (fake.Path() + ":" + path).c_str(), 1);
    setenv("XDG_RUNTIME_DIR", fake.Path().c_str(), 1);  // no user bus there
    const ChosenBackend chosen = ChooseBackend(CompiledBackends(), nullptr);
    setenv("PATH", path.c_str(), 1);
    if (runtime) setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
    else unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(chosen.name, "x11");
    EXPECT_FALSE(std::filesystem::exists(marker)) << "dbus-launch ran";
}

// A bus that never answers costs the look-ups at start one bounded wait on one
// connection, whether it hangs in authentication or in the bus's Hello.
TEST_F(RealSessions, AMuteBusCostsTheLookUpsOneConnectionAndOneSecond)
{
    XvncServer x;
    ASSERT_TRUE(x.Running());
    for (const bool authenticates : {false, true}) {
        SCOPED_TRACE(authenticates ? "mute after authentication" : "mute from the start");
        MuteBus bus(authenticates);
        ASSERT_TRUE(bus.Running());
        Use(x.Display(), bus.Address());
        const auto start = std::chrono::steady_clock::now();
        const ChosenBackend chosen = ChooseBackend(CompiledBackends(), nullptr);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(chosen.name, "x11");
        EXPECT_LT(took, std::chrono::milliseconds(2500));
        EXPECT_EQ(bus.Connections(), 1);
    }
}

TEST_F(RealSessions, XwaylandWithoutABackendListsNothingAndWritesNothing)
{
    WestonXwayland weston;
    SessionBus bus;
    ASSERT_TRUE(weston.Running() && bus.Running());
    Use(weston.XDisplay(), bus.Address());
    for (const char* choice : {static_cast<const char*>(nullptr), "x11"}) {
        SCOPED_TRACE(choice ? choice : "(automatic)");
        const ChosenBackend chosen = ChooseBackend(CompiledBackends(), choice);
        EXPECT_EQ(chosen.name, "");
        EXPECT_NE(chosen.diagnostic.find("Xwayland"), std::string::npos) << chosen.diagnostic;
        EXPECT_TRUE(Enumerate(*chosen.settings).empty());
        DspMode m{};
        EXPECT_NE(chosen.settings->ChangeDisplaySettingsA(&m, dsp::kUpdateRegistry),
                  dsp::kDispChangeSuccessful);
    }
    EXPECT_FALSE(std::filesystem::exists(config.Path() + "/autostart"));
}

}  // namespace
