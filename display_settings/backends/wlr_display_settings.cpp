#include "wlr_display_settings.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <wayland-client.h>

#include "backend_registry.h"
#include "compositor_mode.h"
#include "wayland_connection.h"
#include "wlr-output-management-unstable-v1-client-protocol.h"
#include "wlr_kanshi_config.h"
#include "wlr_sway_config.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg_paths.h"

namespace {

constexpr int kSwayTimeoutMs = 2000;

// The versions this client knows.
constexpr uint32_t kManagerVersion = 4;
constexpr uint32_t kOutputVersion = 4;
constexpr uint32_t kXdgOutputVersion = 3;

using Mode = AnnouncedMode;

struct Head {
    Proxy proxy;
    std::string name;
    std::string make;
    std::string model;
    std::string serialNumber;
    bool enabled = false;
    Mode* current = nullptr;
    int32_t transform = 0;
    bool finished = false;
    std::vector<std::unique_ptr<Mode>> modes;
    uint64_t* serials = nullptr;  // the session's counter

    bool HasRealModes() const
    {
        return std::any_of(modes.begin(), modes.end(), [](const auto& m) { return m->Real(); });
    }
    Mode* Find(uint64_t serial) const
    {
        for (const auto& m : modes)
            if (m->serial == serial && m->Real()) return m.get();
        return nullptr;
    }
    const Mode* Matching(int32_t width, int32_t height, int32_t refresh) const
    {
        for (const auto& m : modes)
            if (m->Real() && m->width == width && m->height == height && m->refresh == refresh)
                return m.get();
        return nullptr;
    }
    size_t RealModes() const
    {
        return static_cast<size_t>(
            std::count_if(modes.begin(), modes.end(), [](const auto& m) { return m->Real(); }));
    }
};

bool Describes(const Mode& m, const WlrDisplaySettings::Choice& c)
{
    return m.width == c.width && m.height == c.height && m.refresh == c.refresh;
}

// A wl_output with its xdg_output: what the compositor shows of an active
// output to every client.
struct Output {
    uint32_t global = 0;
    Proxy output;
    Proxy xdg;
    std::string name;
    int32_t width = 0;
    int32_t height = 0;
    int32_t refresh = 0;
    int32_t transform = 0;
    bool done = false;
};

// How a head is set now: whether it shows, and its mode.
struct HeadState {
    bool enabled = false;
    const Mode* mode = nullptr;  // else the size and rate below
    int32_t width = 0;
    int32_t height = 0;
    int32_t refresh = 0;
    int32_t transform = 0;
};

constexpr auto kReleaseMode = &ReleaseOrDestroy<zwlr_output_mode_v1, zwlr_output_mode_v1_release,
                                                ZWLR_OUTPUT_MODE_V1_RELEASE_SINCE_VERSION>;
constexpr auto kReleaseHead = &ReleaseOrDestroy<zwlr_output_head_v1, zwlr_output_head_v1_release,
                                                ZWLR_OUTPUT_HEAD_V1_RELEASE_SINCE_VERSION>;
constexpr auto kReleaseOutput =
    &ReleaseOrDestroy<wl_output, wl_output_release, WL_OUTPUT_RELEASE_SINCE_VERSION>;

const zwlr_output_mode_v1_listener kModeListener{
    [](void* data, zwlr_output_mode_v1*, int32_t width, int32_t height) {
        static_cast<Mode*>(data)->width = width;
        static_cast<Mode*>(data)->height = height;
    },
    [](void* data, zwlr_output_mode_v1*, int32_t refresh) {
        static_cast<Mode*>(data)->refresh = refresh;
    },
    kIgnoreEvent,  // preferred
    [](void* data, zwlr_output_mode_v1*) { static_cast<Mode*>(data)->gone = true; },
};

const zwlr_output_head_v1_listener kHeadListener{
    [](void* data, zwlr_output_head_v1*, const char* name) {
        static_cast<Head*>(data)->name = name != nullptr ? name : "";
    },
    kIgnoreEvent,  // description
    kIgnoreEvent,  // physical_size
    [](void* data, zwlr_output_head_v1*, zwlr_output_mode_v1* mode) {
        auto* h = static_cast<Head*>(data);
        auto m = std::make_unique<Mode>();
        m->serial = ++*h->serials;
        m->proxy = Proxy(AsProxy(mode), ProxyDeleter{kReleaseMode});
        zwlr_output_mode_v1_add_listener(mode, &kModeListener, m.get());
        h->modes.push_back(std::move(m));
    },
    [](void* data, zwlr_output_head_v1*, int32_t enabled) {
        static_cast<Head*>(data)->enabled = enabled != 0;
    },
    [](void* data, zwlr_output_head_v1*, zwlr_output_mode_v1* mode) {
        static_cast<Head*>(data)->current =
            mode ? static_cast<Mode*>(wl_proxy_get_user_data(AsProxy(mode))) : nullptr;
    },
    kIgnoreEvent,  // position
    [](void* data, zwlr_output_head_v1*, int32_t transform) {
        static_cast<Head*>(data)->transform = transform;
    },
    kIgnoreEvent,  // scale
    [](void* data, zwlr_output_head_v1*) { static_cast<Head*>(data)->finished = true; },
    [](void* data, zwlr_output_head_v1*, const char* make) {
        static_cast<Head*>(data)->make = make != nullptr ? make : "";
    },
    [](void* data, zwlr_output_head_v1*, const char* model) {
        static_cast<Head*>(data)->model = model != nullptr ? model : "";
    },
    [](void* data, zwlr_output_head_v1*, const char* serial) {
        static_cast<Head*>(data)->serialNumber = serial != nullptr ? serial : "";
    },
    kIgnoreEvent,  // adaptive_sync
};

const wl_output_listener kOutputListener{
    [](void* data, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*,
       const char*, int32_t transform) { static_cast<Output*>(data)->transform = transform; },
    [](void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t refresh) {
        if ((flags & WL_OUTPUT_MODE_CURRENT) == 0) return;
        auto* o = static_cast<Output*>(data);
        o->width = width;
        o->height = height;
        o->refresh = refresh;
    },
    [](void* data, wl_output*) { static_cast<Output*>(data)->done = true; },
    kIgnoreEvent,  // scale
    [](void* data, wl_output*, const char* name) {
        static_cast<Output*>(data)->name = name != nullptr ? name : "";
    },
    kIgnoreEvent,  // description
};

const zxdg_output_v1_listener kXdgOutputListener{
    kIgnoreEvent,  // logical_position
    kIgnoreEvent,  // logical_size
    kIgnoreEvent,  // done
    [](void* data, zxdg_output_v1*, const char* name) {
        auto* o = static_cast<Output*>(data);
        if (o->name.empty() && name != nullptr) o->name = name;
    },
    kIgnoreEvent,  // description
};

struct Manager {
    uint32_t serial = 0;
    bool done = false;
    bool finished = false;
    std::vector<std::unique_ptr<Head>> heads;
    uint64_t serials = 0;
};

const zwlr_output_manager_v1_listener kManagerListener{
    [](void* data, zwlr_output_manager_v1*, zwlr_output_head_v1* head) {
        auto* m = static_cast<Manager*>(data);
        auto h = std::make_unique<Head>();
        h->serials = &m->serials;
        h->proxy = Proxy(AsProxy(head), ProxyDeleter{kReleaseHead});
        zwlr_output_head_v1_add_listener(head, &kHeadListener, h.get());
        m->heads.push_back(std::move(h));
    },
    [](void* data, zwlr_output_manager_v1*, uint32_t serial) {
        static_cast<Manager*>(data)->serial = serial;
        static_cast<Manager*>(data)->done = true;
    },
    [](void* data, zwlr_output_manager_v1*) { static_cast<Manager*>(data)->finished = true; },
};

enum class Answer { None, Succeeded, Failed, Cancelled };

const zwlr_output_configuration_v1_listener kConfigurationListener{
    [](void* data, zwlr_output_configuration_v1*) {
        *static_cast<Answer*>(data) = Answer::Succeeded;
    },
    [](void* data, zwlr_output_configuration_v1*) { *static_cast<Answer*>(data) = Answer::Failed; },
    [](void* data, zwlr_output_configuration_v1*) {
        *static_cast<Answer*>(data) = Answer::Cancelled;
    },
};

}  // namespace

struct WlrDisplaySettings::Session {
    explicit Session(const char* socket) : wl(socket) {}

    WaylandConnection wl;
    Manager manager;
    Proxy managerProxy;
    Proxy xdgManager;
    std::vector<std::unique_ptr<Output>> outputs;

    bool Read(std::string* error)
    {
        if (!wl.Ok()) return *error = wl.Error(), false;
        const auto* managerGlobal = wl.Find("zwlr_output_manager_v1");
        if (managerGlobal == nullptr) {
            *error = "the compositor offers no zwlr_output_manager_v1";
            return false;
        }
        managerProxy = wl.Bind(*managerGlobal, &zwlr_output_manager_v1_interface, kManagerVersion);
        zwlr_output_manager_v1_add_listener(As<zwlr_output_manager_v1>(managerProxy),
                                            &kManagerListener, &manager);
        if (const auto* g = wl.Find("zxdg_output_manager_v1"))
            xdgManager = wl.Bind(*g, &zxdg_output_manager_v1_interface, kXdgOutputVersion,
                                 [](wl_proxy* p) {
                                     zxdg_output_manager_v1_destroy(
                                         reinterpret_cast<zxdg_output_manager_v1*>(p));
                                 });
        for (const auto* g : wl.FindAll("wl_output")) {
            auto o = std::make_unique<Output>();
            o->global = g->name;
            o->output = wl.Bind(*g, &wl_output_interface, kOutputVersion, kReleaseOutput);
            wl_output_add_listener(As<wl_output>(o->output), &kOutputListener, o.get());
            if (xdgManager) {
                o->xdg = Proxy(AsProxy(zxdg_output_manager_v1_get_xdg_output(
                                   As<zxdg_output_manager_v1>(xdgManager), As<wl_output>(o->output))),
                               ProxyDeleter{[](wl_proxy* p) {
                                   zxdg_output_v1_destroy(reinterpret_cast<zxdg_output_v1*>(p));
                               }});
                zxdg_output_v1_add_listener(As<zxdg_output_v1>(o->xdg), &kXdgOutputListener,
                                            o.get());
            }
            outputs.push_back(std::move(o));
        }
        if (!wl.Roundtrip(kWaylandReadTimeoutMs) ||
            !wl.DispatchUntil([this] { return manager.done || manager.finished; },
                              kWaylandReadTimeoutMs))
            return *error = wl.Error(), false;
        if (manager.finished) return *error = "the compositor withdrew its output manager", false;
        return true;
    }

    Head* Named(const std::string& name) const
    {
        for (const auto& h : manager.heads)
            if (!h->finished && h->name == name) return h.get();
        return nullptr;
    }

    // The place of head's wl_output among the compositor's outputs, in the
    // order it announced them; heads it shows no wl_output for come last.
    size_t OutputRank(const Head& head) const
    {
        for (size_t i = 0; i < outputs.size(); ++i)
            if (outputs[i]->name == head.name && wl.Present(outputs[i]->global)) return i;
        return outputs.size();
    }

    const Output* OutputNamed(const std::string& name) const
    {
        for (const auto& o : outputs)
            if (o->name == name && o->width > 0 && o->height > 0 && wl.Present(o->global))
                return o.get();
        return nullptr;
    }

    // How head is set now. sway 1.7 calls a head without mode objects (its
    // headless, nested and virtual outputs) disabled while it shows, as it
    // must, a wl_output for it; that output then tells how the head is set.
    HeadState StateOf(const Head& head) const
    {
        HeadState st;
        const Output* shown = OutputNamed(head.name);
        if (head.enabled) {
            st.enabled = true;
            st.transform = head.transform;
            if (head.current != nullptr && head.current->Real()) {
                st.mode = head.current;
                return st;
            }
            if (head.current != nullptr && head.current->width > 0) {
                st.width = head.current->width;
                st.height = head.current->height;
                st.refresh = head.current->refresh;
            } else if (shown != nullptr) {
                st.width = shown->width;
                st.height = shown->height;
                st.refresh = shown->refresh;
            }
            return st;
        }
        if (shown == nullptr || head.HasRealModes()) return st;
        st.enabled = true;
        st.width = shown->width;
        st.height = shown->height;
        st.refresh = shown->refresh;
        st.transform = shown->transform;
        return st;
    }
};

WlrDisplaySettings::WlrDisplaySettings(const char* socket, const char* swaySocket)
    : session_(std::make_unique<Session>(socket))
{
    if (const char* s = swaySocket != nullptr ? swaySocket : std::getenv("SWAYSOCK")) swaySocket_ = s;
    if (!session_->Read(&error_)) return;
    // The output the window opens on: on sway the focused one; elsewhere the
    // compositor's first enabled output, in the order of its wl_outputs.
    std::string focused;
    std::string ignored;
    if (!swaySocket_.empty())
        if (const auto outputs = SwayOutputs(swaySocket_, kSwayTimeoutMs, &ignored))
            for (const SwayOutput& o : *outputs)
                if (o.focused) focused = o.name;
    std::vector<const Head*> heads;
    for (const auto& h : session_->manager.heads)
        if (!h->finished) heads.push_back(h.get());
    const auto rank = [&](const Head* h) {
        return std::pair(h->name != focused, session_->OutputRank(*h));
    };
    std::stable_sort(heads.begin(), heads.end(),
                     [&](const Head* a, const Head* b) { return rank(a) < rank(b); });
    const Head* head = nullptr;
    HeadState st;
    for (const Head* h : heads) {
        st = session_->StateOf(*h);
        if (st.enabled) {
            head = h;
            break;
        }
    }
    if (head == nullptr) {
        error_ = "the compositor shows no enabled output";
        return;
    }
    outputName_ = head->name;
    const auto add = [&](const Choice& c) {
        choices_.push_back(c);
        modes_.push_back(dsp::CompositorMode(outputName_, c.width, c.height, c.refresh / 1000.0,
                                             st.transform, false,
                                             static_cast<uint32_t>(choices_.size())));
    };
    // wlroots 0.18 and later keep the one mode object of an output without
    // modes of its own while a custom mode runs at another size: the line is
    // then the size and rate the output runs at.
    const Output* shown = session_->OutputNamed(outputName_);
    const bool objectStale =
        head->RealModes() == 1 && shown != nullptr && shown->width > 0 && shown->height > 0 &&
        std::none_of(head->modes.begin(), head->modes.end(), [shown](const auto& m) {
            return m->Real() && m->width == shown->width && m->height == shown->height &&
                   (shown->refresh == 0 || m->refresh == shown->refresh);
        });
    if (objectStale)
        add({0, shown->width, shown->height, shown->refresh});
    else
        for (const auto& m : head->modes)
            if (m->Real()) add({m->serial, m->width, m->height, m->refresh});
    if (choices_.empty() && st.width > 0 && st.height > 0)
        add({0, st.width, st.height, st.refresh});
}

WlrDisplaySettings::~WlrDisplaySettings() = default;

int32_t WlrDisplaySettings::EnumDisplaySettingsA(const char* deviceName, int32_t modeNum,
                                                 DspMode* devMode)
{
    return dsp::ServeMode(modes_, outputName_, deviceName, modeNum, devMode);
}

int32_t WlrDisplaySettings::ChangeDisplaySettingsA(const DspMode* devMode, int32_t flags)
{
    if (devMode == nullptr) return dsp::kDispChangeBadParam;
    if ((flags & ~dsp::kUpdateRegistry) != 0) return dsp::kDispChangeBadFlags;
    if (outputName_.empty() || !session_->wl.Ok()) return dsp::kDispChangeFailed;
    const uint32_t key = dsp::LoadModeKey(*devMode);
    if (key == 0 || key > choices_.size()) return dsp::kDispChangeBadMode;
    Choice shown;
    const int32_t result = Apply(choices_[key - 1], &shown);
    if (result != dsp::kDispChangeSuccessful || (flags & dsp::kUpdateRegistry) == 0) return result;
    return Store(shown);
}

// Sends a configuration of every head, the chosen one with its new mode and
// the others as they are, on the latest serial; one the compositor cancels
// because the outputs changed meanwhile is read and sent again once. *shown
// is the mode the compositor then reports for the head.
int32_t WlrDisplaySettings::Apply(const Choice& choice, Choice* shown)
{
    WaylandConnection& wl = session_->wl;
    Manager& manager = session_->manager;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!wl.Roundtrip(kWaylandReadTimeoutMs) || manager.finished) return dsp::kDispChangeFailed;
        Head* chosen = session_->Named(outputName_);
        // An output turned off since the fill is not switched back on here.
        if (chosen == nullptr || !session_->StateOf(*chosen).enabled) return dsp::kDispChangeFailed;
        const Mode* mode = nullptr;
        if (choice.serial != 0) {
            mode = chosen->Find(choice.serial);
            if (mode == nullptr) return dsp::kDispChangeBadMode;
            // wlroots 0.18 and later give an output without modes of its own
            // one mode object and change its size in place as the output's
            // mode changes: the object may no longer be the line's mode. Then
            // another object of exactly the line's size and rate stands for
            // it, or on such an output a custom mode of that size and rate.
            if (!Describes(*mode, choice)) {
                mode = chosen->Matching(choice.width, choice.height, choice.refresh);
                if (mode == nullptr && chosen->RealModes() > 1) return dsp::kDispChangeBadMode;
            }
        }

        Answer answer = Answer::None;
        const Proxy configuration(
            AsProxy(zwlr_output_manager_v1_create_configuration(
                As<zwlr_output_manager_v1>(session_->managerProxy), manager.serial)),
            ProxyDeleter{[](wl_proxy* p) {
                zwlr_output_configuration_v1_destroy(
                    reinterpret_cast<zwlr_output_configuration_v1*>(p));
            }});
        auto* config = As<zwlr_output_configuration_v1>(configuration);
        zwlr_output_configuration_v1_add_listener(config, &kConfigurationListener, &answer);
        // Every head is in the configuration, as the protocol requires; a head
        // enabled with nothing set keeps its mode, position, transform and
        // scale exactly (sent back, a scale would come out rounded to 1/256).
        for (const auto& h : manager.heads) {
            if (h->finished) continue;
            auto* head = As<zwlr_output_head_v1>(h->proxy);
            if (h.get() != chosen && !session_->StateOf(*h).enabled) {
                zwlr_output_configuration_v1_disable_head(config, head);
                continue;
            }
            // Destroyed with the configuration.
            zwlr_output_configuration_head_v1* ch =
                zwlr_output_configuration_v1_enable_head(config, head);
            if (h.get() == chosen && mode != nullptr)
                zwlr_output_configuration_head_v1_set_mode(ch,
                                                           As<zwlr_output_mode_v1>(mode->proxy));
            else if (h.get() == chosen)
                zwlr_output_configuration_head_v1_set_custom_mode(ch, choice.width, choice.height,
                                                                  choice.refresh);
            wl_proxy_destroy(AsProxy(ch));
        }
        zwlr_output_configuration_v1_apply(config);
        if (!wl.DispatchUntil([&answer] { return answer != Answer::None; }, wl.ApplyTimeoutMs())) {
            if (!wl.TimedOut()) return dsp::kDispChangeFailed;
            // No answer in time: what the compositor shows of the output now tells.
            const std::string why = wl.Error();
            const int32_t result = ReadBack(choice, shown);
            std::fprintf(stderr, "tavrimo: wlr: %s; %s %s\n", why.c_str(), outputName_.c_str(),
                         result == dsp::kDispChangeSuccessful ? "now shows the chosen mode"
                                                              : "is not in the chosen mode");
            return result;
        }
        if (answer == Answer::Succeeded) return ReadBack(choice, shown);
        if (answer == Answer::Failed) return dsp::kDispChangeFailed;
    }
    return dsp::kDispChangeFailed;
}

// After a configuration the compositor took: reads what it now reports for
// the head into *shown; a size or rate other than the choice's is a failure.
int32_t WlrDisplaySettings::ReadBack(const Choice& choice, Choice* shown)
{
    // The compositor sends the new state along with its answer.
    if (!session_->wl.Roundtrip(kWaylandReadTimeoutMs)) return dsp::kDispChangeFailed;
    const Head* head = session_->Named(outputName_);
    if (head == nullptr) return dsp::kDispChangeFailed;
    const HeadState st = session_->StateOf(*head);
    *shown = st.mode != nullptr ? Choice{st.mode->serial, st.mode->width, st.mode->height,
                                         st.mode->refresh}
                                : Choice{0, st.width, st.height, st.refresh};
    // A mode object cannot say that its rate went back to none; the output's
    // own current mode can.
    if (const Output* o = session_->OutputNamed(outputName_))
        *shown = Choice{shown->serial, o->width, o->height, o->refresh};
    // A rate of 0 says only that the compositor names none.
    const bool rateAgrees =
        choice.refresh == 0 || shown->refresh == 0 || shown->refresh == choice.refresh;
    if (!st.enabled || shown->width != choice.width || shown->height != choice.height ||
        !rateAgrees)
        return dsp::kDispChangeFailed;
    return dsp::kDispChangeSuccessful;
}

// Keeps the switch where the session keeps modes: in kanshi's profile where
// kanshi manages the outputs, else on sway in a line of sway's configuration
// where the user's configuration includes this program's file; elsewhere the
// switch holds for the session.
int32_t WlrDisplaySettings::Store(const Choice& choice) const
{
    std::string error;
    std::vector<KanshiOutput> connected;
    KanshiOutput chosen;
    for (const auto& h : session_->manager.heads) {
        if (h->finished) continue;
        connected.push_back({h->name, h->make, h->model, h->serialNumber});
        // Such an output takes its size only as a custom mode.
        connected.back().customMode = h->RealModes() <= 1;
        if (h->name == outputName_) chosen = connected.back();
    }
    switch (KanshiStoreMode(connected, chosen, choice.width, choice.height, choice.refresh,
                            &error)) {
    case KanshiStoreResult::Stored:
        RemoveLoginEntry();
        return dsp::kDispChangeSuccessful;
    case KanshiStoreResult::Failed:
        std::fprintf(stderr, "tavrimo: kanshi: %s\n", error.c_str());
        return dsp::kDispChangeNotUpdated;
    case KanshiStoreResult::NotRunning:
    case KanshiStoreResult::NoProfile:
        break;
    }
    return StoreInSway(choice);
}

// Puts the output's line into sway's config.d file, keeping the other
// outputs' lines; the line names the monitor by make, model and serial where
// sway reports them, so that the mode follows it to another connector.
int32_t WlrDisplaySettings::StoreInSway(const Choice& choice) const
{
    if (swaySocket_.empty()) return dsp::kDispChangeNotUpdated;
    std::string error;
    const auto config = SwayCurrentConfig(swaySocket_, kSwayTimeoutMs, &error);
    const auto outputs = SwayOutputs(swaySocket_, kSwayTimeoutMs, &error);
    const std::string dir = SwayModeDir();
    if (!config || !outputs || dir.empty()) return dsp::kDispChangeNotUpdated;
    std::string identity;
    for (const SwayOutput& o : *outputs)
        if (o.name == outputName_) identity = SwayIdentity(o, *outputs);
    std::string line =
        SwayModeLine(identity, choice.width, choice.height, choice.refresh, /*byIdentity=*/true);
    if (line.empty()) line = SwayModeLine(outputName_, choice.width, choice.height, choice.refresh);
    if (line.empty()) return dsp::kDispChangeNotUpdated;
    std::vector<std::string> names{outputName_};
    if (!identity.empty()) names.push_back(identity);
    const std::string path = dir + "/" + kSwayModeFileName;
    std::vector<std::string> winning = names;
    winning.push_back("*");
    const SwayReading reading = SwayConfigReads(*config, path, winning);
    if (!reading.included) return dsp::kDispChangeNotUpdated;
    if (!reading.overriddenBy.empty()) {
        std::fprintf(stderr,
                     "tavrimo: sway: \"%s\" comes later in sway's configuration and sets %s's "
                     "mode when sway starts; the mode holds for this session only\n",
                     reading.overriddenBy.c_str(), outputName_.c_str());
        return dsp::kDispChangeNotUpdated;
    }
    std::string current;
    if (std::ifstream in(path); in) {
        std::ostringstream text;
        text << in.rdbuf();
        current = text.str();
    }
    if (!ReplaceFile(dir, kSwayModeFileName, SwayModeFileWith(current, names, line), &error)) {
        std::fprintf(stderr, "tavrimo: sway: %s\n", error.c_str());
        return dsp::kDispChangeNotUpdated;
    }
    RemoveLoginEntry();
    return dsp::kDispChangeSuccessful;
}

extern const DisplayBackend kWlrBackend;
const DisplayBackend kWlrBackend{"wlr", &OpenLayer<WlrDisplaySettings>};
