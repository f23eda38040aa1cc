// labwc as a desktop of its own (headless, as root), and kanshi keeping the
// chosen mode on labwc and on sway: kanshi is started on the user's own
// configuration, the mode is stored in it, and kanshi started again over
// another mode brings the stored one back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <thread>

#include <wayland-client.h>

#include "compositor.h"
#include "modes.h"
#include "wlr_display_settings.h"
#include "wlr_kanshi_config.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool Installed(const std::string& program)
{
    return RunCommand({"sh", "-c", "command -v " + program}).status == 0;
}

// The size every wl_output shows as its current mode, by output name, read
// as any client of the compositor at $WAYLAND_DISPLAY sees it.
std::map<std::string, std::pair<int, int>> ShownSizes()
{
    struct Output {
        std::string name;
        int width = 0;
        int height = 0;
    };
    struct State {
        wl_registry* registry = nullptr;
        std::vector<std::pair<wl_output*, std::unique_ptr<Output>>> outputs;
    } state;
    static const wl_output_listener outputListener{
        [](void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*,
           const char*, int32_t) {},
        [](void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
            if ((flags & WL_OUTPUT_MODE_CURRENT) == 0) return;
            static_cast<Output*>(data)->width = width;
            static_cast<Output*>(data)->height = height;
        },
        [](void*, wl_output*) {},
        [](void*, wl_output*, int32_t) {},
        [](void* data, wl_output*, const char* name) { static_cast<Output*>(data)->name = name; },
        [](void*, wl_output*, const char*) {},
    };
    static const wl_registry_listener registryListener{
        [](void* data, wl_registry* registry, uint32_t name, const char* interface,
           uint32_t version) {
            if (std::string(interface) != "wl_output" || version < 4) return;
            auto* s = static_cast<State*>(data);
            auto* o = static_cast<wl_output*>(
                wl_registry_bind(registry, name, &wl_output_interface, 4));
            s->outputs.emplace_back(o, std::make_unique<Output>());
            wl_output_add_listener(o, &outputListener, s->outputs.back().second.get());
        },
        [](void*, wl_registry*, uint32_t) {},
    };
    std::map<std::string, std::pair<int, int>> sizes;
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) return sizes;
    state.registry = wl_display_get_registry(display);
    wl_registry_add_listener(state.registry, &registryListener, &state);
    wl_display_roundtrip(display);
    wl_display_roundtrip(display);
    for (auto& [proxy, o] : state.outputs) {
        if (!o->name.empty()) sizes[o->name] = {o->width, o->height};
        wl_output_destroy(proxy);
    }
    wl_registry_destroy(state.registry);
    wl_display_disconnect(display);
    return sizes;
}

// Waits until output name shows width x height.
bool Shows(const std::string& name, int width, int height)
{
    for (int i = 0; i < 100; ++i) {
        const auto sizes = ShownSizes();
        const auto it = sizes.find(name);
        if (it != sizes.end() && it->second == std::make_pair(width, height)) return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

// Another client setting output name to width x height, as wlr-randr does.
bool SetElsewhere(const std::vector<std::string>& asUser, const std::string& name, int width,
                  int height)
{
    std::vector<std::string> argv = asUser;
    argv.insert(argv.end(), {"wlr-randr", "--output", name, "--custom-mode",
                             std::to_string(width) + "x" + std::to_string(height)});
    return RunCommand(argv).status == 0 && Shows(name, width, height);
}

TEST(Labwc, ListsItsOutputAndSwitchesExactlyAfterAnotherClientChangedIt)
{
    if (!Installed("labwc") || !Installed("wlr-randr")) GTEST_SKIP() << "needs labwc and wlr-randr";
    LabwcSession labwc;
    ASSERT_TRUE(labwc.Running()) << labwc.Log();
    UseEnv(labwc.ClientEnv());
    WlrDisplaySettings layer;
    ASSERT_EQ(layer.Error(), "");
    const std::string name = layer.OutputName();
    const auto modes = Enumerate(layer);
    ASSERT_EQ(modes.size(), 1u) << "a headless output has no modes of its own";
    EXPECT_EQ(modes[0].dmPelsWidth, 1280);
    EXPECT_EQ(modes[0].dmPelsHeight, 720);
    EXPECT_EQ(modes[0].dmBitsPerPel, 32);
    EXPECT_EQ(modes[0].dmDeviceName, name);

    // The list was read at 1280x720; another client changes the mode before OK.
    ASSERT_TRUE(SetElsewhere({}, name, 800, 600));
    const auto others = ShownSizes();
    // labwc keeps nothing: the switch holds, and is reported as not stored.
    EXPECT_EQ(layer.ChangeDisplaySettingsA(&modes[0], dsp::kUpdateRegistry),
              dsp::kDispChangeNotUpdated);
    EXPECT_TRUE(Shows(name, 1280, 720));
    for (const auto& [other, size] : others) {
        if (other == name) continue;
        EXPECT_EQ(ShownSizes()[other], size) << other;
    }
}

// kanshi, run as the desktop's user on its default configuration file.
class Kanshi {
public:
    Kanshi(std::vector<std::string> asUser, std::vector<std::string> env, std::string log)
        : asUser_(std::move(asUser)), env_(std::move(env)), log_(std::move(log))
    {
        Start();
    }
    ~Kanshi() { StopProcess(pid_); }
    Kanshi(const Kanshi&) = delete;
    Kanshi& operator=(const Kanshi&) = delete;
    void Start()
    {
        std::vector<std::string> argv = asUser_;
        argv.push_back("kanshi");
        pid_ = SpawnCommand(argv, env_, log_);
        // Seen once its IPC socket answers (kanshi 1.4 and later), or its process.
        const bool ipc = RunCommand({"sh", "-c", "command -v kanshictl"}).status == 0;
        for (int i = 0; i < 100; ++i) {
            const KanshiDaemon seen = FindKanshi();
            if (ipc ? seen.ipc : seen.running) break;
            std::this_thread::sleep_for(50ms);
        }
    }
    void Stop()
    {
        StopProcess(pid_);
        pid_ = -1;
    }

private:
    std::vector<std::string> asUser_;
    std::vector<std::string> env_;
    std::string log_;
    pid_t pid_ = -1;
};

// A desktop kanshi runs on, as its user.
struct KanshiDesktop {
    virtual ~KanshiDesktop() = default;
    virtual bool Running() const = 0;
    virtual std::vector<std::string> Env() const = 0;
    virtual std::string ConfigHome() const = 0;
    virtual std::vector<std::string> AsUser() const = 0;
    virtual void GiveConfigToUser() const {}
    virtual std::string Log() const = 0;
};

struct OnLabwc final : KanshiDesktop {
    LabwcSession labwc;
    bool Running() const override { return labwc.Running(); }
    std::vector<std::string> Env() const override { return labwc.ClientEnv(); }
    std::string ConfigHome() const override { return labwc.ConfigHome(); }
    std::vector<std::string> AsUser() const override { return {}; }
    std::string Log() const override { return labwc.Log(); }
};

struct OnSway final : KanshiDesktop {
    SwaySession sway{false};
    bool Running() const override { return sway.Running(); }
    std::vector<std::string> Env() const override { return sway.ClientEnv(); }
    std::string ConfigHome() const override { return sway.ConfigHome(); }
    std::vector<std::string> AsUser() const override { return SwaySession::AsUser({}); }
    void GiveConfigToUser() const override { sway.GiveConfigToUser(); }
    std::string Log() const override { return sway.Log(); }
};

class KanshiStore : public testing::TestWithParam<std::string> {};

// What the user wrote, for the output the program lists (ONE) and the other
// (TWO); only the desk profile's mode of ONE is to change.
const char kUserConfig[] = R"(# Two headless outputs side by side.
profile desk {
	output ONE mode --custom 800x600 position 0,0
	# the second one, quoted as a name may be
	output "TWO" position 800,0
}

profile alone {
	output * mode --custom 640x480
}
)";

// The same in kanshi 1.3's grammar (Debian 12), which has no custom modes.
const char kUserConfig13[] = R"(# Two headless outputs side by side.
profile desk {
	output ONE enable position 0,0
	output "TWO" position 1280,0  # the second one
}
)";

TEST_P(KanshiStore, ModeComesBackWhenKanshiStartsAgainAndTheRestOfTheFileStays)
{
    if (!Installed(GetParam()) || !Installed("kanshi"))
        GTEST_SKIP() << "needs " << GetParam() << " and kanshi";
    std::unique_ptr<KanshiDesktop> desktop;
    if (GetParam() == "labwc")
        desktop = std::make_unique<OnLabwc>();
    else
        desktop = std::make_unique<OnSway>();
    ASSERT_TRUE(desktop->Running()) << desktop->Log();
    UseEnv(desktop->Env());
    // Custom modes, which headless outputs need, came after kanshi 1.3 (Debian 12).
    const bool customModes =
        RunCommand({"sh", "-c", "grep -qa -- --custom \"$(command -v kanshi)\""}).status == 0;
    const std::string file = desktop->ConfigHome() + "/kanshi/config";
    fs::create_directories(desktop->ConfigHome() + "/kanshi");
    // The output the program lists: focused on sway, the first on labwc.
    const std::string one = WlrDisplaySettings().OutputName();
    ASSERT_TRUE(one == "HEADLESS-1" || one == "HEADLESS-2") << one;
    const std::string two = one == "HEADLESS-1" ? "HEADLESS-2" : "HEADLESS-1";
    std::string config = customModes ? kUserConfig : kUserConfig13;
    config.replace(config.find("ONE"), 3, one);
    config.replace(config.find("TWO"), 3, two);
    std::ofstream(file) << config;
    desktop->GiveConfigToUser();

    const TempDir logs;
    const std::string log = logs.Path() + "/kanshi.log";
    Kanshi kanshi(desktop->AsUser(), desktop->Env(), log);
    const KanshiDaemon seen = FindKanshi();
    ASSERT_TRUE(seen.running) << ReadFile(log);
    EXPECT_EQ(seen.customModes, customModes);
    // Debian 13's kanshi 1.5 is built without its IPC (and kanshictl).
    EXPECT_EQ(seen.ipc, Installed("kanshictl"));
    EXPECT_EQ(seen.configPath, file);
    std::vector<KanshiOutput> connected = {{one, "", "", "", true}, {two, "", "", "", true}};
    std::string error;
    if (!customModes) {
        // kanshi 1.3 finds no mode of any size on a headless output of sway 1.7:
        // the mode cannot be kept there, and the file stays as it was.
        EXPECT_EQ(KanshiStoreMode(connected, connected[0], 1024, 768, 0, &error),
                  KanshiStoreResult::Failed);
        EXPECT_EQ(ReadFile(file), config);
        // An output with modes of its own takes the line, found from kanshi's process.
        connected[0].customMode = false;
        ASSERT_EQ(KanshiStoreMode(connected, connected[0], 1024, 768, 60000, &error),
                  KanshiStoreResult::Stored)
            << error;
        std::string expected = config;
        expected.replace(expected.find("0,0"), 3, "0,0 mode 1024x768@60.000Hz");
        EXPECT_EQ(ReadFile(file), expected);
        return;
    }
    ASSERT_TRUE(Installed("wlr-randr"));
    ASSERT_TRUE(Shows(one, 800, 600)) << ReadFile(log);

    // Another client leaves the output at 1024x768, which the program lists as
    // the size it runs at; OK on it keeps it through kanshi, and only there.
    ASSERT_TRUE(SetElsewhere(desktop->AsUser(), one, 1024, 768));
    WlrDisplaySettings layer;
    ASSERT_EQ(layer.OutputName(), one);
    const auto modes = Enumerate(layer);
    ASSERT_EQ(modes.size(), 1u);
    EXPECT_EQ(modes[0].dmPelsWidth, 1024);
    EXPECT_EQ(modes[0].dmPelsHeight, 768);
    ASSERT_EQ(layer.ChangeDisplaySettingsA(&modes[0], dsp::kUpdateRegistry),
              dsp::kDispChangeSuccessful);
    EXPECT_FALSE(fs::exists(desktop->ConfigHome() + "/sway/config.d/tavrimo-display-mode.conf"));
    std::string expected = config;
    expected.replace(expected.find("800x600"), 7, "1024x768");
    EXPECT_EQ(ReadFile(file), expected);
    // kanshi read it again and keeps the output where it is.
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(Shows(one, 1024, 768)) << ReadFile(log);

    // At the next login the output starts elsewhere; kanshi brings the mode back.
    kanshi.Stop();
    ASSERT_TRUE(SetElsewhere(desktop->AsUser(), one, 640, 480));
    kanshi.Start();
    EXPECT_TRUE(Shows(one, 1024, 768)) << ReadFile(log);
}

INSTANTIATE_TEST_SUITE_P(Desktops, KanshiStore, testing::Values("labwc", "sway"),
                         [](const testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace
