// GetCurrentState's reply of Mutter's DisplayConfig (and muffin's) as plain
// records, checked before use, and the ApplyMonitorsConfig call that changes
// one monitor's mode in it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gio/gio.h>

#include "display_settings.h"

namespace mutter_state {

inline constexpr const char* kStateType =
    "(ua((ssss)a(siiddada{sv})a{sv})a(iiduba(ssss)a{sv})a{sv})";
inline constexpr uint32_t kMethodTemporary = 1;
inline constexpr uint32_t kMethodPersistent = 2;
inline constexpr uint32_t kLayoutLogical = 1;

struct VariantUnref {
    void operator()(GVariant* v) const { g_variant_unref(v); }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;

struct MonitorMode {
    std::string id;
    int32_t width = 0;
    int32_t height = 0;
    double refresh = 0;
    double preferredScale = 1;
    std::vector<double> scales;
    bool current = false;
    bool interlaced = false;
};

struct Monitor {
    std::string connector;
    std::string vendor;
    std::string product;
    std::string serial;
    std::vector<MonitorMode> modes;
    Variant properties;  // a{sv}, as GetCurrentState announced them

    const MonitorMode* Find(const std::string& id) const
    {
        for (const MonitorMode& m : modes)
            if (m.id == id) return &m;
        return nullptr;
    }
    const MonitorMode* Current() const
    {
        for (const MonitorMode& m : modes)
            if (m.current) return &m;
        return nullptr;
    }
};

struct LogicalMonitor {
    int32_t x = 0;
    int32_t y = 0;
    double scale = 1;
    uint32_t transform = 0;
    bool primary = false;
    std::vector<std::string> connectors;
};

struct State {
    uint32_t serial = 0;
    std::vector<Monitor> monitors;
    std::vector<LogicalMonitor> logical;
    uint32_t layoutMode = kLayoutLogical;  // what Mutter assumes when it says nothing
    bool layoutModeChangeable = false;
    bool globalScaleRequired = false;

    const Monitor* FindMonitor(const std::string& connector) const
    {
        for (const Monitor& m : monitors)
            if (m.connector == connector) return &m;
        return nullptr;
    }
};

// The records of reply, a GetCurrentState reply of kStateType; nothing, with
// *error saying what does not hold, where it is not a state that Mutter
// could be in (a monitor or mode listed twice or referenced but not listed,
// an empty logical monitor, sizes, scales or places out of range).
std::optional<State> ParseState(GVariant* reply, std::string* error);

// The logical monitor GNOME calls primary (the first one when none says so).
const LogicalMonitor* PrimaryOf(const State& st);

// The parameters of ApplyMonitorsConfig that set connector's mode modeId and
// keep everything else Mutter announced; a DISP_CHANGE code and *why when
// there is no such configuration.
struct Config {
    int32_t refusal = dsp::kDispChangeSuccessful;
    std::string why;
    Variant params;
};

// That configuration of st, applied by method (temporary or persistent).
Config BuildConfig(const State& st, const std::string& connector, const std::string& modeId,
                   uint32_t method);

}  // namespace mutter_state
