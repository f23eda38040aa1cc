#include "kde_display_settings.h"

#include <algorithm>
#include <cstdio>

#include <wayland-client.h>

#include "backend_registry.h"
#include "compositor_mode.h"
#include "kde-output-device-v2-client-protocol.h"
#include "kde-output-management-v2-client-protocol.h"
#include "kde-output-order-v1-client-protocol.h"
#include "wayland_connection.h"
#include "xdg_paths.h"

namespace {

// The versions this client knows. Devices that are globals of their own
// (Plasma 5.27 to 6.6) are bound at 2; the registry that announces them on
// Plasma 6.7 and later refuses any version below 21, and its devices take
// its version.
constexpr uint32_t kDeviceGlobalVersion = 2;
constexpr uint32_t kRegistryVersion = 23;
constexpr uint32_t kRegistryMinVersion = 21;
constexpr uint32_t kManagementVersion = 3;
constexpr uint32_t kOrderVersion = 1;

constexpr auto kReleaseDevice =
    &ReleaseOrDestroy<kde_output_device_v2, kde_output_device_v2_release,
                      KDE_OUTPUT_DEVICE_V2_RELEASE_SINCE_VERSION>;

using Mode = AnnouncedMode;

struct Device {
    uint32_t global = 0;  // 0: announced by the registry
    Proxy proxy;
    std::string name;
    std::string model;
    int32_t transform = 0;
    bool enabled = false;
    bool done = false;
    bool removed = false;
    std::vector<std::unique_ptr<Mode>> modes;
    Mode* current = nullptr;
    uint64_t* serials = nullptr;  // the session's counter

    Mode* Find(uint64_t serial) const
    {
        for (const auto& m : modes)
            if (m->serial == serial && m->Real()) return m.get();
        return nullptr;
    }
};

const kde_output_device_mode_v2_listener kModeListener{
    [](void* data, kde_output_device_mode_v2*, int32_t width, int32_t height) {
        static_cast<Mode*>(data)->width = width;
        static_cast<Mode*>(data)->height = height;
    },
    [](void* data, kde_output_device_mode_v2*, int32_t refresh) {
        static_cast<Mode*>(data)->refresh = refresh;
    },
    kIgnoreEvent,  // preferred
    [](void* data, kde_output_device_mode_v2*) { static_cast<Mode*>(data)->gone = true; },
    kIgnoreEvent,  // flags
};

const kde_output_device_v2_listener kDeviceListener{
    [](void* data, kde_output_device_v2*, int32_t, int32_t, int32_t, int32_t, int32_t,
       const char*, const char* model, int32_t transform) {
        auto* d = static_cast<Device*>(data);
        d->model = model != nullptr ? model : "";
        d->transform = transform;
    },
    [](void* data, kde_output_device_v2*, kde_output_device_mode_v2* mode) {
        static_cast<Device*>(data)->current =
            mode ? static_cast<Mode*>(wl_proxy_get_user_data(AsProxy(mode))) : nullptr;
    },
    [](void* data, kde_output_device_v2*, kde_output_device_mode_v2* mode) {
        auto* d = static_cast<Device*>(data);
        auto m = std::make_unique<Mode>();
        m->serial = ++*d->serials;
        m->proxy = Proxy(AsProxy(mode));
        kde_output_device_mode_v2_add_listener(mode, &kModeListener, m.get());
        d->modes.push_back(std::move(m));
    },
    [](void* data, kde_output_device_v2*) { static_cast<Device*>(data)->done = true; },
    kIgnoreEvent,  // scale
    kIgnoreEvent,  // edid
    [](void* data, kde_output_device_v2*, int32_t enabled) {
        static_cast<Device*>(data)->enabled = enabled != 0;
    },
    kIgnoreEvent,  // uuid
    kIgnoreEvent,  // serial_number
    kIgnoreEvent,  // eisa_id
    kIgnoreEvent,  // capabilities
    kIgnoreEvent,  // overscan
    kIgnoreEvent,  // vrr_policy
    kIgnoreEvent,  // rgb_range
    [](void* data, kde_output_device_v2*, const char* name) {
        static_cast<Device*>(data)->name = name != nullptr ? name : "";
    },
    kIgnoreEvent,  // high_dynamic_range
    kIgnoreEvent,  // sdr_brightness
    kIgnoreEvent,  // wide_color_gamut
    kIgnoreEvent,  // auto_rotate_policy
    kIgnoreEvent,  // icc_profile_path
    kIgnoreEvent,  // brightness_metadata
    kIgnoreEvent,  // brightness_overrides
    kIgnoreEvent,  // sdr_gamut_wideness
    kIgnoreEvent,  // color_profile_source
    kIgnoreEvent,  // brightness
    kIgnoreEvent,  // color_power_tradeoff
    kIgnoreEvent,  // dimming
    kIgnoreEvent,  // replication_source
    kIgnoreEvent,  // ddc_ci_allowed
    kIgnoreEvent,  // max_bits_per_color
    kIgnoreEvent,  // max_bits_per_color_range
    kIgnoreEvent,  // automatic_max_bits_per_color_limit
    kIgnoreEvent,  // edr_policy
    kIgnoreEvent,  // sharpness
    kIgnoreEvent,  // priority
    kIgnoreEvent,  // auto_brightness
    [](void* data, kde_output_device_v2*) {
        auto* d = static_cast<Device*>(data);
        d->removed = true;
        d->proxy.reset();  // the compositor asks for the release
    },
    kIgnoreEvent,  // hdr_icc_profile_path
    kIgnoreEvent,  // hdr_color_profile_source
    kIgnoreEvent,  // abm_level
};

// Devices as the registry announces them.
struct Registry {
    std::vector<std::unique_ptr<Device>>* devices = nullptr;
    uint64_t* serials = nullptr;
};

void AddDevice(std::vector<std::unique_ptr<Device>>* devices, uint64_t* serials, Proxy proxy,
               uint32_t global)
{
    auto d = std::make_unique<Device>();
    d->global = global;
    d->serials = serials;
    d->proxy = std::move(proxy);
    kde_output_device_v2_add_listener(As<kde_output_device_v2>(d->proxy), &kDeviceListener,
                                      d.get());
    devices->push_back(std::move(d));
}

const kde_output_device_registry_v2_listener kRegistryListener{
    kIgnoreEvent,  // finished
    [](void* data, kde_output_device_registry_v2*, kde_output_device_v2* device) {
        auto* r = static_cast<Registry*>(data);
        AddDevice(r->devices, r->serials, Proxy(AsProxy(device), ProxyDeleter{kReleaseDevice}), 0);
    },
};

struct Order {
    std::vector<std::string> names;
    std::vector<std::string> pending;
    bool done = false;
};

const kde_output_order_v1_listener kOrderListener{
    [](void* data, kde_output_order_v1*, const char* name) {
        static_cast<Order*>(data)->pending.emplace_back(name != nullptr ? name : "");
    },
    [](void* data, kde_output_order_v1*) {
        auto* o = static_cast<Order*>(data);
        o->names = std::move(o->pending);
        o->pending.clear();
        o->done = true;
    },
};

enum class Answer { None, Applied, Failed };

// By name: newer releases' protocol files add events past the version bound here.
const kde_output_configuration_v2_listener kConfigurationListener{
    .applied = [](void* data,
                  kde_output_configuration_v2*) { *static_cast<Answer*>(data) = Answer::Applied; },
    .failed = [](void* data,
                 kde_output_configuration_v2*) { *static_cast<Answer*>(data) = Answer::Failed; },
};

}  // namespace

struct KdeDisplaySettings::Session {
    explicit Session(const char* socket) : wl(socket) {}

    WaylandConnection wl;
    uint64_t serials = 0;
    Proxy management;
    Proxy orderProxy;
    Order order;
    std::vector<std::unique_ptr<Device>> devices;
    Registry announced{&devices, &serials};
    Proxy registry;

    // Binds what the layer needs and reads every device to its done event.
    bool Read(std::string* error)
    {
        if (!wl.Ok()) return *error = wl.Error(), false;
        const auto* managementGlobal = wl.Find("kde_output_management_v2");
        const auto* registryGlobal = wl.Find("kde_output_device_registry_v2");
        if (registryGlobal != nullptr && registryGlobal->version < kRegistryMinVersion)
            registryGlobal = nullptr;
        const auto deviceGlobals = wl.FindAll("kde_output_device_v2");
        if (managementGlobal == nullptr || (registryGlobal == nullptr && deviceGlobals.empty())) {
            *error = "the compositor offers no kde_output_management_v2 and no "
                     "kde_output_device_registry_v2 or kde_output_device_v2";
            return false;
        }
        management = wl.Bind(*managementGlobal, &kde_output_management_v2_interface,
                             kManagementVersion);
        if (const auto* g = wl.Find("kde_output_order_v1")) {
            orderProxy = wl.Bind(*g, &kde_output_order_v1_interface, kOrderVersion,
                                 [](wl_proxy* p) {
                                     kde_output_order_v1_destroy(
                                         reinterpret_cast<kde_output_order_v1*>(p));
                                 });
            kde_output_order_v1_add_listener(As<kde_output_order_v1>(orderProxy), &kOrderListener,
                                             &order);
        }
        // Where both are offered the registry is the newer way; binding both
        // would show each output twice.
        if (registryGlobal != nullptr) {
            registry = wl.Bind(*registryGlobal, &kde_output_device_registry_v2_interface,
                               kRegistryVersion);
            kde_output_device_registry_v2_add_listener(
                As<kde_output_device_registry_v2>(registry), &kRegistryListener, &announced);
        } else {
            for (const auto* g : deviceGlobals)
                AddDevice(&devices, &serials,
                          wl.Bind(*g, &kde_output_device_v2_interface, kDeviceGlobalVersion,
                                  kReleaseDevice),
                          g->name);
        }
        // The registry announces every device at once when bound; each then
        // describes itself up to its done event.
        const bool read =
            wl.Roundtrip(kWaylandReadTimeoutMs) &&
            wl.DispatchUntil(
                [this] {
                    return (!orderProxy || order.done) &&
                           std::all_of(devices.begin(), devices.end(),
                                       [](const auto& d) { return d->done || d->removed; });
                },
                kWaylandReadTimeoutMs);
        if (!read) return *error = wl.Error(), false;
        for (const auto& d : devices)
            if (d->name.empty()) d->name = d->model;  // version 1 devices carry no name
        return true;
    }

    // Plasma's primary output: the first in the compositor's order, or
    // without one, the first enabled device.
    Device* Primary() const
    {
        for (const std::string& name : order.names)
            if (Device* d = Named(name); d != nullptr && d->enabled) return d;
        for (const auto& d : devices)
            if (d->enabled && !d->removed) return d.get();
        return nullptr;
    }

    Device* Named(const std::string& name) const
    {
        for (const auto& d : devices)
            if (d->name == name && !d->removed && (d->global == 0 || wl.Present(d->global)))
                return d.get();
        return nullptr;
    }
};

KdeDisplaySettings::KdeDisplaySettings(const char* socket)
    : session_(std::make_unique<Session>(socket))
{
    if (!session_->Read(&error_)) return;
    const Device* device = session_->Primary();
    if (device == nullptr) {
        error_ = "KWin shows no enabled output";
        return;
    }
    outputName_ = device->name;
    for (const auto& mode : device->modes) {
        if (!mode->Real()) continue;
        listed_.push_back({mode->serial, mode->width, mode->height, mode->refresh});
        modes_.push_back(dsp::CompositorMode(outputName_, mode->width, mode->height,
                                             mode->refresh / 1000.0, device->transform, false,
                                             static_cast<uint32_t>(listed_.size())));
    }
}

KdeDisplaySettings::~KdeDisplaySettings() = default;

int32_t KdeDisplaySettings::EnumDisplaySettingsA(const char* deviceName, int32_t modeNum,
                                                 DspMode* devMode)
{
    return dsp::ServeMode(modes_, outputName_, deviceName, modeNum, devMode);
}

int32_t KdeDisplaySettings::ChangeDisplaySettingsA(const DspMode* devMode, int32_t flags)
{
    if (devMode == nullptr) return dsp::kDispChangeBadParam;
    if ((flags & ~dsp::kUpdateRegistry) != 0) return dsp::kDispChangeBadFlags;
    if (outputName_.empty() || !session_->wl.Ok()) return dsp::kDispChangeFailed;
    const uint32_t key = dsp::LoadModeKey(*devMode);
    if (key == 0 || key > listed_.size()) return dsp::kDispChangeBadMode;
    const Listed& line = listed_[key - 1];

    // What the compositor said since the list was read comes in first.
    WaylandConnection& wl = session_->wl;
    if (!wl.Roundtrip(kWaylandReadTimeoutMs)) return dsp::kDispChangeFailed;
    Device* device = session_->Named(outputName_);
    // KWin takes a mode for an output that is off, and the screen stays dark.
    if (device == nullptr || !device->enabled) return dsp::kDispChangeFailed;
    // A mode object gone, or no longer of the line's size and rate, is not
    // the line's mode any more.
    Mode* mode = device->Find(line.serial);
    if (mode == nullptr || mode->width != line.width || mode->height != line.height ||
        mode->refresh != line.refresh)
        return dsp::kDispChangeBadMode;

    Answer answer = Answer::None;
    const Proxy configuration(
        AsProxy(kde_output_management_v2_create_configuration(
            As<kde_output_management_v2>(session_->management))),
        ProxyDeleter{[](wl_proxy* p) {
            kde_output_configuration_v2_destroy(reinterpret_cast<kde_output_configuration_v2*>(p));
        }});
    auto* config = As<kde_output_configuration_v2>(configuration);
    kde_output_configuration_v2_add_listener(config, &kConfigurationListener, &answer);
    kde_output_configuration_v2_mode(config, As<kde_output_device_v2>(device->proxy),
                                     As<kde_output_device_mode_v2>(mode->proxy));
    kde_output_configuration_v2_apply(config);
    if (!wl.DispatchUntil([&answer] { return answer != Answer::None; }, wl.ApplyTimeoutMs())) {
        // No answer in time: what KWin shows of the output now tells.
        if (!wl.TimedOut()) return dsp::kDispChangeFailed;
        const std::string why = wl.Error();
        device = wl.Roundtrip(kWaylandReadTimeoutMs) ? session_->Named(outputName_) : nullptr;
        const bool shown = device != nullptr && device->current != nullptr &&
                           device->current->serial == line.serial;
        std::fprintf(stderr, "tavrimo: kde: %s; the output %s\n", why.c_str(),
                     shown ? "now shows the chosen mode" : "is not in the chosen mode");
        if (!shown) return dsp::kDispChangeFailed;
    } else if (answer != Answer::Applied) {
        return dsp::kDispChangeFailed;
    }
    // Plasma keeps what it applied; an older login entry of ours would set
    // another mode over it.
    if ((flags & dsp::kUpdateRegistry) != 0) RemoveLoginEntry();
    return dsp::kDispChangeSuccessful;
}

extern const DisplayBackend kKdeBackend;
const DisplayBackend kKdeBackend{"kde", &OpenLayer<KdeDisplaySettings>};
