#include "mutter_display_settings.h"

#include <cstdio>
#include <memory>

#include <gio/gio.h>

#include "backend_registry.h"
#include "compositor_mode.h"
#include "mutter_state.h"
#include "session_bus.h"
#include "xdg_paths.h"

using namespace mutter_state;

namespace {

constexpr int kReadTimeoutMs = 5000;
// A mode set on real hardware takes a modeset or two, and Mutter answers after.
constexpr int kApplyTimeoutMs = 15000;

struct ErrorFree {
    void operator()(GError* e) const { g_error_free(e); }
};
using GErrorPtr = std::unique_ptr<GError, ErrorFree>;

std::string RemoteErrorName(GError* error)
{
    gchar* name = g_dbus_error_get_remote_error(error);
    std::string s = name != nullptr ? name : "";
    g_free(name);
    return s;
}

// The error's own words, without GDBus's prefix that names the error.
std::string RemoteMessage(GError* error)
{
    GError* copy = g_error_copy(error);
    g_dbus_error_strip_remote_error(copy);
    std::string s = copy->message;
    g_error_free(copy);
    return s;
}

}  // namespace

const DisplayConfigService kMutterService{"mutter", "org.gnome.Mutter.DisplayConfig",
                                          "/org/gnome/Mutter/DisplayConfig", "monitors.xml"};
const DisplayConfigService kMuffinService{"muffin", "org.cinnamon.Muffin.DisplayConfig",
                                          "/org/cinnamon/Muffin/DisplayConfig",
                                          "cinnamon-monitors.xml"};

struct MutterDisplaySettings::Bus {
    explicit Bus(const DisplayConfigService& s) : service(s) {}
    const DisplayConfigService& service;
    BusConnection connection;
    bool invalidReply = false;

    // Not GIO's own session-bus connection, whose loss would end the process:
    // the session bus that the look-ups at start share, or the bus at address.
    bool Connect(const char* address, std::string* error)
    {
        connection = address ? OpenBus(address, kReadTimeoutMs, error) : SessionBus(error);
        return connection != nullptr;
    }

    // Calls a DisplayConfig method; an error comes back as a value.
    Variant Call(const char* method, GVariant* params, const char* replyType, int timeoutMs,
                 GErrorPtr* error)
    {
        GError* raw = nullptr;
        Variant reply(g_dbus_connection_call_sync(
            connection.get(), service.busName, service.objectPath, service.busName, method, params,
            replyType ? G_VARIANT_TYPE(replyType) : nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
            timeoutMs, nullptr, &raw));
        error->reset(raw);
        return reply;
    }

    // The state as the compositor tells it; false with *error where it cannot
    // be read or does not hold (then invalidReply is set).
    bool ReadState(State* st, std::string* error)
    {
        invalidReply = false;
        GErrorPtr e;
        const Variant reply = Call("GetCurrentState", nullptr, kStateType, kReadTimeoutMs, &e);
        if (!reply) {
            *error = std::string("GetCurrentState: ") + (e ? e->message : "no reply");
            return false;
        }
        std::string why;
        std::optional<State> parsed = ParseState(reply.get(), &why);
        if (!parsed) {
            *error = std::string("GetCurrentState: ") + service.busName +
                     " sent a state that cannot be: " + why;
            invalidReply = true;
            return false;
        }
        *st = std::move(*parsed);
        return true;
    }
};

MutterDisplaySettings::MutterDisplaySettings(const char* busAddress,
                                             const DisplayConfigService& service)
    : bus_(std::make_unique<Bus>(service))
{
    if (!bus_->Connect(busAddress, &error_)) return;
    State st;
    if (!bus_->ReadState(&st, &error_)) {
        // Whoever owns the name sent it; not a session without the compositor.
        if (bus_->invalidReply) std::fprintf(stderr, "tavrimo: %s\n", error_.c_str());
        return;
    }
    const LogicalMonitor* primary = PrimaryOf(st);
    const Monitor* monitor =
        primary && !primary->connectors.empty() ? st.FindMonitor(primary->connectors.front())
                                                : nullptr;
    if (monitor == nullptr) {
        error_ = std::string(service.busName) + " shows no monitor";
        return;
    }
    connector_ = monitor->connector;
    for (const MonitorMode& mode : monitor->modes) {
        modeIds_.push_back(mode.id);
        modes_.push_back(dsp::CompositorMode(connector_, mode.width, mode.height, mode.refresh,
                                             primary->transform, mode.interlaced,
                                             static_cast<uint32_t>(modeIds_.size())));
    }
}

MutterDisplaySettings::~MutterDisplaySettings() = default;

int32_t MutterDisplaySettings::EnumDisplaySettingsA(const char* deviceName, int32_t modeNum,
                                                    DspMode* devMode)
{
    return dsp::ServeMode(modes_, connector_, deviceName, modeNum, devMode);
}

int32_t MutterDisplaySettings::ChangeDisplaySettingsA(const DspMode* devMode, int32_t flags)
{
    if (devMode == nullptr) return dsp::kDispChangeBadParam;
    if ((flags & ~dsp::kUpdateRegistry) != 0) return dsp::kDispChangeBadFlags;
    if (!bus_->connection || connector_.empty()) return dsp::kDispChangeFailed;
    const uint32_t key = dsp::LoadModeKey(*devMode);
    if (key == 0 || key > modeIds_.size()) return dsp::kDispChangeBadMode;
    const bool persistent = (flags & dsp::kUpdateRegistry) != 0;
    const int32_t result =
        Apply(modeIds_[key - 1], persistent ? kMethodPersistent : kMethodTemporary);
    // GNOME and Cinnamon restore their own store at login; an older entry
    // of ours would set another mode over it.
    if (result == dsp::kDispChangeSuccessful && persistent) RemoveLoginEntry();
    return result;
}

// Sends the whole current configuration with one monitor's mode changed, on
// a fresh serial. A refusal for a stale serial is sent again, rebuilt, only
// while a fresh read shows the serial moved; Mutter also refuses with
// AccessDenied when configuring over D-Bus is off, and that is final.
int32_t MutterDisplaySettings::Apply(const std::string& modeId, uint32_t method)
{
    constexpr int kAttempts = 3;
    State st;
    applyError_.clear();
    const auto fail = [this](int32_t code, const std::string& why) {
        applyError_ = why;
        std::fprintf(stderr, "tavrimo: mutter: %s\n", why.c_str());
        return code;
    };
    if (!bus_->ReadState(&st, &applyError_)) return fail(dsp::kDispChangeFailed, applyError_);
    for (int attempt = 1;; ++attempt) {
        Config config = BuildConfig(st, connector_, modeId, method);
        if (!config.params) return fail(config.refusal, config.why);
        GErrorPtr e;
        if (bus_->Call("ApplyMonitorsConfig", config.params.get(), nullptr, kApplyTimeoutMs, &e))
            return dsp::kDispChangeSuccessful;
        const std::string name = e ? RemoteErrorName(e.get()) : "";
        const std::string why = "ApplyMonitorsConfig: " + (e ? RemoteMessage(e.get()) : "no reply");
        if (name == "org.freedesktop.DBus.Error.InvalidArgs")
            return fail(dsp::kDispChangeBadMode, why);
        if (name != "org.freedesktop.DBus.Error.AccessDenied")
            return fail(dsp::kDispChangeFailed, why);
        const uint32_t sent = st.serial;
        std::string error;
        if (attempt == kAttempts || !bus_->ReadState(&st, &error) || st.serial == sent)
            return fail(dsp::kDispChangeFailed, why);
    }
}

namespace {

// Its one read of the state also tells whether the compositor owns its name at all.
template <const DisplayConfigService& Service>
std::unique_ptr<DisplaySettings> OpenService(bool forced, std::string* why)
{
    auto settings = std::make_unique<MutterDisplaySettings>(nullptr, Service);
    *why = settings->Error();
    if (!forced && !why->empty()) return nullptr;
    return settings;
}

}  // namespace

extern const DisplayBackend kMutterBackend;
const DisplayBackend kMutterBackend{kMutterService.backend, &OpenService<kMutterService>};
// Cinnamon's muffin, tried right after Mutter.
extern const DisplayBackend kMuffinBackend;
const DisplayBackend kMuffinBackend{kMuffinService.backend, &OpenService<kMuffinService>};
