// A scripted Wayland compositor for the display layers' tests: it shows
// outputs given on its command line through KWin's output-device protocols
// and wlroots output management, applies what it is sent, and produces the
// faults that real compositors here do not (refusals, cancelled
// configurations, modes that vanish, a death in mid-answer).
//
//   test_compositor --socket NAME [--log FILE] [--no-kde] [--no-wlr]
//                   [--registry VERSION [--device-globals]] [--order NAME,...]
//                   [--fail] [--cancel N] [--die-on-apply] [--late MS | --late-answer MS]
//                   [--vanish K | --off | --remove | --resize K:WxH@mHz] OUTPUT...
//   OUTPUT: NAME/WxH@mHz,WxH@mHz,.../key=value,...  with keys current (a
//   mode's index), transform, x, y, scale, and the words disabled and
//   standin (one mode object that a custom mode resizes in place, as
//   wlroots 0.18 gives an output without modes of its own).
//
// KWin's devices are globals of their own (version 2), or with --registry
// come from kde_output_device_registry_v2 at that version, as on Plasma 6.7,
// each sending every event of its version. Each applied configuration is
// written to the log, a line per output; on SIGUSR1 mode K of the first
// output goes away (with --off, the output is turned off; with --remove, its
// KWin device is removed; with --resize, mode K of the first output changes
// its size in place) and "vanished" is logged. With --late the first
// configuration is applied and answered MS ms after it comes; with
// --late-answer it is applied at once and answered MS ms later.
#include <wayland-server.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "kde-output-device-v2-server-protocol.h"
#include "kde-output-management-v2-server-protocol.h"
#include "kde-output-order-v1-server-protocol.h"
#include "wlr-output-management-unstable-v1-server-protocol.h"

namespace {

constexpr auto kIgnore = [](auto...) {};

struct ModeSpec {
    int width = 0;
    int height = 0;
    int refresh = 0;
    bool gone = false;
};

struct OutputSpec {
    std::string name;
    std::vector<ModeSpec> modes;
    int current = 0;
    bool enabled = true;
    bool standin = false;
    int x = 0;
    int y = 0;
    int transform = 0;
    double scale = 1;
};

// What a mode resource stands for; null data once the mode is gone.
struct ModeRef {
    size_t output;
    size_t mode;
    bool kde;  // else wlroots'
};

struct Server {
    wl_display* display = nullptr;
    std::vector<OutputSpec> outputs;
    std::vector<std::string> order;
    std::string logPath;
    bool fail = false;
    bool dieOnApply = false;
    int late = 0;        // ms before a configuration is applied and answered
    int lateAnswer = 0;  // ms before an applied configuration is answered
    int cancel = 0;
    int vanish = -1;
    bool off = false;
    bool remove = false;
    int resize = -1;
    ModeSpec resized;
    std::vector<wl_global*> deviceGlobals;
    uint32_t serial = 1;
    // Live resources, by kind, with the output a device or head stands for.
    std::vector<std::pair<wl_resource*, size_t>> devices, heads;
    std::vector<std::pair<wl_resource*, ModeRef>> modes;
    std::set<wl_resource*> managers;

    void Log(const std::string& line) const
    {
        if (logPath.empty()) return;
        std::ofstream(logPath, std::ios::app) << line << "\n";
    }
};

Server g;

std::string Describe(const OutputSpec& o)
{
    if (!o.enabled) return o.name + " disabled";
    std::ostringstream s;
    const ModeSpec& m = o.modes.empty() ? ModeSpec{} : o.modes[static_cast<size_t>(o.current)];
    s << o.name << " " << m.width << "x" << m.height << "@" << m.refresh << " mode " << o.current
      << " at " << o.x << "," << o.y << " transform " << o.transform << " scale " << o.scale;
    return s.str();
}

void Forget(std::vector<std::pair<wl_resource*, size_t>>* list, wl_resource* r)
{
    std::erase_if(*list, [r](const auto& e) { return e.first == r; });
}

void ForgetMode(wl_resource* r)
{
    std::erase_if(g.modes, [r](const auto& e) { return e.first == r; });
}

wl_resource* ModeResource(wl_client* client, const wl_interface* iface, int version, size_t output,
                          size_t mode)
{
    wl_resource* r = wl_resource_create(client, iface, version, 0);
    g.modes.push_back({r, {output, mode, iface == &kde_output_device_mode_v2_interface}});
    wl_resource_set_implementation(r, nullptr, nullptr, ForgetMode);
    return r;
}

wl_resource* FindMode(wl_resource* owner, size_t output, size_t mode, bool kde)
{
    for (const auto& [r, ref] : g.modes)
        if (ref.output == output && ref.mode == mode && ref.kde == kde &&
            wl_resource_get_client(r) == wl_resource_get_client(owner))
            return r;
    return nullptr;
}

const ModeRef* RefOf(wl_resource* mode)
{
    for (const auto& [r, ref] : g.modes)
        if (r == mode) return &ref;
    return nullptr;
}

// ---- KWin's output devices -------------------------------------------------

// Every other event a device of r's version has, as KWin sends them on bind:
// a client must hear each one of them.
void SendDeviceDetails(wl_resource* r, const OutputSpec& o)
{
    const int v = wl_resource_get_version(r);
    kde_output_device_v2_send_edid(r, "");
    kde_output_device_v2_send_uuid(r, ("uuid-" + o.name).c_str());
    kde_output_device_v2_send_serial_number(r, "1");
    kde_output_device_v2_send_eisa_id(r, "TAV");
    kde_output_device_v2_send_capabilities(r, 0);
    kde_output_device_v2_send_overscan(r, 0);
    kde_output_device_v2_send_vrr_policy(r, 0);
    kde_output_device_v2_send_rgb_range(r, 0);
    if (v >= 2) kde_output_device_v2_send_name(r, o.name.c_str());
    if (v >= 3) {
        kde_output_device_v2_send_high_dynamic_range(r, 0);
        kde_output_device_v2_send_sdr_brightness(r, 200);
        kde_output_device_v2_send_wide_color_gamut(r, 0);
    }
    if (v >= 4) kde_output_device_v2_send_auto_rotate_policy(r, 0);
    if (v >= 5) kde_output_device_v2_send_icc_profile_path(r, "");
    if (v >= 6) {
        kde_output_device_v2_send_brightness_metadata(r, 300, 300, 5000);
        kde_output_device_v2_send_brightness_overrides(r, -1, -1, -1);
        kde_output_device_v2_send_sdr_gamut_wideness(r, 0);
    }
    if (v >= 7) kde_output_device_v2_send_color_profile_source(r, 0);
    if (v >= 8) kde_output_device_v2_send_brightness(r, 10000);
    if (v >= 10) kde_output_device_v2_send_color_power_tradeoff(r, 0);
    if (v >= 11) kde_output_device_v2_send_dimming(r, 10000);
    if (v >= 13) kde_output_device_v2_send_replication_source(r, "");
    if (v >= 14) kde_output_device_v2_send_ddc_ci_allowed(r, 1);
    if (v >= 15) {
        kde_output_device_v2_send_max_bits_per_color(r, 0);
        kde_output_device_v2_send_max_bits_per_color_range(r, 8, 10);
        kde_output_device_v2_send_automatic_max_bits_per_color_limit(r, 0);
    }
    if (v >= 16) kde_output_device_v2_send_edr_policy(r, 0);
    if (v >= 17) kde_output_device_v2_send_sharpness(r, 0);
    if (v >= 18) kde_output_device_v2_send_priority(r, 1);
    if (v >= 20) kde_output_device_v2_send_auto_brightness(r, 0);
    if (v >= 22) {
        kde_output_device_v2_send_hdr_icc_profile_path(r, "");
        kde_output_device_v2_send_hdr_color_profile_source(r, 0);
    }
    if (v >= 23) kde_output_device_v2_send_abm_level(r, 0);
}

void SendDevice(wl_resource* r, size_t index, bool initial)
{
    const OutputSpec& o = g.outputs[index];
    wl_client* client = wl_resource_get_client(r);
    kde_output_device_v2_send_geometry(r, o.x, o.y, 0, 0, 0, "Tavrimo", o.name.c_str(), o.transform);
    if (initial) {
        for (size_t m = 0; m < o.modes.size(); ++m) {
            if (o.modes[m].gone) continue;
            wl_resource* mr = ModeResource(client, &kde_output_device_mode_v2_interface,
                                           wl_resource_get_version(r), index, m);
            kde_output_device_v2_send_mode(r, mr);
            kde_output_device_mode_v2_send_size(mr, o.modes[m].width, o.modes[m].height);
            kde_output_device_mode_v2_send_refresh(mr, o.modes[m].refresh);
            if (wl_resource_get_version(mr) >= KDE_OUTPUT_DEVICE_MODE_V2_FLAGS_SINCE_VERSION)
                kde_output_device_mode_v2_send_flags(mr, 0);
        }
    }
    if (wl_resource* cur = FindMode(r, index, static_cast<size_t>(o.current), true))
        kde_output_device_v2_send_current_mode(r, cur);
    kde_output_device_v2_send_scale(r, wl_fixed_from_double(o.scale));
    kde_output_device_v2_send_enabled(r, o.enabled ? 1 : 0);
    if (initial) SendDeviceDetails(r, o);
    kde_output_device_v2_send_done(r);
}

const struct kde_output_device_v2_interface kDeviceImpl{
    [](wl_client*, wl_resource* r) {
        g.Log("released");
        wl_resource_destroy(r);
    },
};

wl_resource* CreateDevice(wl_client* client, uint32_t version, uint32_t id, size_t index)
{
    wl_resource* r = wl_resource_create(client, &kde_output_device_v2_interface,
                                        static_cast<int>(version), id);
    wl_resource_set_implementation(r, &kDeviceImpl, nullptr,
                                   [](wl_resource* res) { Forget(&g.devices, res); });
    g.devices.push_back({r, index});
    return r;
}

void BindDevice(wl_client* client, void* data, uint32_t version, uint32_t id)
{
    g.Log("device global bound at version " + std::to_string(version));
    const auto index = reinterpret_cast<size_t>(data);
    SendDevice(CreateDevice(client, version, id, index), index, true);
}

const struct kde_output_device_registry_v2_interface kRegistryImpl{
    [](wl_client*, wl_resource* r) {
        kde_output_device_registry_v2_send_finished(r);
        wl_resource_destroy(r);
    },
};

void BindRegistry(wl_client* client, void*, uint32_t version, uint32_t id)
{
    wl_resource* r = wl_resource_create(client, &kde_output_device_registry_v2_interface,
                                        static_cast<int>(version), id);
    if (version < 21) {
        wl_resource_post_error(r, KDE_OUTPUT_DEVICE_REGISTRY_V2_ERROR_UNSUPPORTED_VERSION,
                               "unsupported version");
        return;
    }
    wl_resource_set_implementation(r, &kRegistryImpl, nullptr, nullptr);
    g.Log("registry bound at version " + std::to_string(version));
    for (size_t i = 0; i < g.outputs.size(); ++i) {
        // The device takes the registry's version, and an id of the compositor's.
        wl_resource* device = CreateDevice(client, version, 0, i);
        kde_output_device_registry_v2_send_output(r, device);
        SendDevice(device, i, true);
    }
}

struct KdeChange {
    wl_resource* device;
    wl_resource* mode;
};
struct KdeConfiguration {
    std::vector<KdeChange> changes;
};

size_t DeviceIndex(wl_resource* device)
{
    for (const auto& [r, i] : g.devices)
        if (r == device) return i;
    return SIZE_MAX;
}

// Runs run MS ms from now, with r, or null once its client has destroyed r.
struct Deferred {
    wl_listener destroyed{};
    wl_resource* r = nullptr;
    std::function<void(wl_resource*)> run;
    wl_event_source* timer = nullptr;
};

void Defer(wl_resource* r, int ms, std::function<void(wl_resource*)> run)
{
    auto* d = new Deferred;
    d->r = r;
    d->run = std::move(run);
    d->destroyed.notify = [](wl_listener* l, void*) {
        Deferred* self = wl_container_of(l, self, destroyed);
        wl_list_remove(&self->destroyed.link);
        self->r = nullptr;
    };
    wl_resource_add_destroy_listener(r, &d->destroyed);
    d->timer = wl_event_loop_add_timer(
        wl_display_get_event_loop(g.display),
        [](void* data) {
            auto* self = static_cast<Deferred*>(data);
            if (self->r != nullptr) wl_list_remove(&self->destroyed.link);
            self->run(self->r);
            wl_event_source_remove(self->timer);
            delete self;
            return 0;
        },
        d);
    wl_event_source_timer_update(d->timer, ms);
}

// Applies a configuration and answers it through commit(r, apply, answer):
// both at once, or as --late and --late-answer delay them.
void Commit(wl_resource* r, const std::function<void(wl_resource*, bool apply, bool answer)>& commit)
{
    if (g.late > 0) {
        Defer(r, std::exchange(g.late, 0), [commit](wl_resource* res) { commit(res, true, true); });
    } else if (g.lateAnswer > 0) {
        commit(r, true, false);
        Defer(r, std::exchange(g.lateAnswer, 0),
              [commit](wl_resource* res) { commit(res, false, true); });
    } else {
        commit(r, true, true);
    }
}

void ApplyOrDie()
{
    if (g.dieOnApply) {
        g.Log("died");
        _exit(3);
    }
}

// By name: newer releases' protocol files add requests past the version offered here.
const struct kde_output_configuration_v2_interface kKdeConfigurationImpl{
    .enable = kIgnore,
    .mode = [](wl_client*, wl_resource* r, wl_resource* device, wl_resource* mode) {
        static_cast<KdeConfiguration*>(wl_resource_get_user_data(r))->changes.push_back({device, mode});
    },
    .transform = kIgnore,
    .position = kIgnore,
    .scale = kIgnore,
    .apply = [](wl_client*, wl_resource* r) {
        ApplyOrDie();
        auto* c = static_cast<KdeConfiguration*>(wl_resource_get_user_data(r));
        if (g.fail) {
            g.Log("failed");
            kde_output_configuration_v2_send_failed(r);
            return;
        }
        std::vector<size_t> changed;
        for (const KdeChange& ch : c->changes) {
            const size_t index = DeviceIndex(ch.device);
            const ModeRef* ref = RefOf(ch.mode);
            if (index == SIZE_MAX || ref == nullptr || ref->output != index ||
                g.outputs[index].modes[ref->mode].gone) {
                g.Log("refused");
                kde_output_configuration_v2_send_failed(r);
                return;
            }
            changed.push_back(index);
        }
        std::vector<std::pair<size_t, int>> modes;
        for (const KdeChange& ch : c->changes)
            modes.push_back({DeviceIndex(ch.device), static_cast<int>(RefOf(ch.mode)->mode)});
        Commit(r, [modes, changed](wl_resource* res, bool apply, bool answer) {
            if (apply) {
                for (const auto& [index, mode] : modes) g.outputs[index].current = mode;
                for (size_t index : changed) g.Log("kde " + Describe(g.outputs[index]));
            }
            if (answer && res != nullptr) kde_output_configuration_v2_send_applied(res);
            if (apply)
                for (const auto& [dev, index] : g.devices)
                    if (std::find(changed.begin(), changed.end(), index) != changed.end())
                        SendDevice(dev, index, false);
        });
    },
    .destroy = [](wl_client*, wl_resource* r) { wl_resource_destroy(r); },
    .overscan = kIgnore,
    .set_vrr_policy = kIgnore,
    .set_rgb_range = kIgnore,
    .set_primary_output = kIgnore,
    .set_priority = kIgnore,
};

const struct kde_output_management_v2_interface kKdeManagementImpl{
    [](wl_client* client, wl_resource* r, uint32_t id) {
        wl_resource* c = wl_resource_create(client, &kde_output_configuration_v2_interface,
                                            wl_resource_get_version(r), id);
        wl_resource_set_implementation(c, &kKdeConfigurationImpl, new KdeConfiguration,
                                       [](wl_resource* res) {
                                           delete static_cast<KdeConfiguration*>(
                                               wl_resource_get_user_data(res));
                                       });
    },
};

const struct kde_output_order_v1_interface kOrderImpl{
    [](wl_client*, wl_resource* r) { wl_resource_destroy(r); },
};

// ---- wlroots output management ---------------------------------------------

// Tells every client the size and rate mode m of output o has now.
void Resend(size_t o, size_t m)
{
    const ModeSpec& spec = g.outputs[o].modes[m];
    for (const auto& [r, ref] : g.modes) {
        if (ref.output != o || ref.mode != m) continue;
        if (ref.kde) {
            kde_output_device_mode_v2_send_size(r, spec.width, spec.height);
            kde_output_device_mode_v2_send_refresh(r, spec.refresh);
        } else {
            zwlr_output_mode_v1_send_size(r, spec.width, spec.height);
            zwlr_output_mode_v1_send_refresh(r, spec.refresh);
        }
    }
}

const struct zwlr_output_mode_v1_interface kModeImpl{
    [](wl_client*, wl_resource* r) { wl_resource_destroy(r); },
};

void SendHead(wl_resource* head, size_t index, bool initial)
{
    const OutputSpec& o = g.outputs[index];
    wl_client* client = wl_resource_get_client(head);
    if (initial) {
        zwlr_output_head_v1_send_name(head, o.name.c_str());
        zwlr_output_head_v1_send_description(head, ("Tavrimo " + o.name).c_str());
        for (size_t m = 0; m < o.modes.size(); ++m) {
            if (o.modes[m].gone) continue;
            wl_resource* mr = ModeResource(client, &zwlr_output_mode_v1_interface,
                                           wl_resource_get_version(head), index, m);
            wl_resource_set_implementation(mr, &kModeImpl, nullptr, ForgetMode);
            zwlr_output_head_v1_send_mode(head, mr);
            zwlr_output_mode_v1_send_size(mr, o.modes[m].width, o.modes[m].height);
            zwlr_output_mode_v1_send_refresh(mr, o.modes[m].refresh);
        }
    }
    zwlr_output_head_v1_send_enabled(head, o.enabled ? 1 : 0);
    if (!o.enabled) return;
    if (wl_resource* cur = FindMode(head, index, static_cast<size_t>(o.current), false))
        zwlr_output_head_v1_send_current_mode(head, cur);
    zwlr_output_head_v1_send_position(head, o.x, o.y);
    zwlr_output_head_v1_send_transform(head, o.transform);
    zwlr_output_head_v1_send_scale(head, wl_fixed_from_double(o.scale));
}

void SendAllHeads()
{
    for (const auto& [head, index] : g.heads) SendHead(head, index, false);
    for (wl_resource* m : g.managers) zwlr_output_manager_v1_send_done(m, g.serial);
}

struct HeadChange {
    wl_resource* head = nullptr;
    bool enabled = false;
    wl_resource* mode = nullptr;
    bool custom = false;
    int width = 0, height = 0, refresh = 0;
    int x = 0, y = 0, transform = 0;
    double scale = 1;
};
struct WlrConfiguration {
    uint32_t serial = 0;
    std::deque<HeadChange> heads;  // its head objects point into it
};

HeadChange* ChangeOf(wl_resource* configHead)
{
    return static_cast<HeadChange*>(wl_resource_get_user_data(configHead));
}

const struct zwlr_output_configuration_head_v1_interface kConfigHeadImpl{
    [](wl_client*, wl_resource* r, wl_resource* mode) {
        if (HeadChange* c = ChangeOf(r)) c->mode = mode;
    },
    [](wl_client*, wl_resource* r, int32_t width, int32_t height, int32_t refresh) {
        if (HeadChange* c = ChangeOf(r)) {
            c->custom = true;
            c->width = width;
            c->height = height;
            c->refresh = refresh;
        }
    },
    [](wl_client*, wl_resource* r, int32_t x, int32_t y) {
        if (HeadChange* c = ChangeOf(r)) {
            c->x = x;
            c->y = y;
        }
    },
    [](wl_client*, wl_resource* r, int32_t transform) {
        if (HeadChange* c = ChangeOf(r)) c->transform = transform;
    },
    [](wl_client*, wl_resource* r, wl_fixed_t scale) {
        if (HeadChange* c = ChangeOf(r)) c->scale = wl_fixed_to_double(scale);
    },
    kIgnore,  // set_adaptive_sync
};

size_t HeadIndex(wl_resource* head)
{
    for (const auto& [r, i] : g.heads)
        if (r == head) return i;
    return SIZE_MAX;
}

void ApplyWlr(wl_resource* r, WlrConfiguration* c)
{
    ApplyOrDie();
    if (c->serial != g.serial || g.cancel > 0) {
        if (g.cancel > 0) {
            --g.cancel;
            ++g.serial;
            SendAllHeads();
        }
        g.Log("cancelled");
        zwlr_output_configuration_v1_send_cancelled(r);
        return;
    }
    if (g.fail) {
        g.Log("failed");
        zwlr_output_configuration_v1_send_failed(r);
        return;
    }
    std::vector<bool> seen(g.outputs.size(), false);
    std::vector<OutputSpec> next = g.outputs;
    for (const HeadChange& h : c->heads) {
        const size_t index = HeadIndex(h.head);
        if (index == SIZE_MAX) continue;
        seen[index] = true;
        OutputSpec& o = next[index];
        o.enabled = h.enabled;
        if (!h.enabled) continue;
        if (h.mode != nullptr) {
            const ModeRef* ref = RefOf(h.mode);
            if (ref == nullptr || ref->output != index || o.modes[ref->mode].gone) {
                wl_resource_post_error(r, 0, "mode does not belong to the head");
                return;
            }
            o.current = static_cast<int>(ref->mode);
        } else if (h.custom && o.standin) {
            o.modes[static_cast<size_t>(o.current)] = {h.width, h.height, h.refresh, false};
        } else if (h.custom) {
            o.modes.push_back({h.width, h.height, h.refresh, true});  // custom: never announced
            o.current = static_cast<int>(o.modes.size() - 1);
        }
        o.x = h.x;
        o.y = h.y;
        o.transform = h.transform;
        o.scale = h.scale;
    }
    for (size_t i = 0; i < seen.size(); ++i)
        if (!seen[i]) {
            wl_resource_post_error(r, ZWLR_OUTPUT_CONFIGURATION_V1_ERROR_UNCONFIGURED_HEAD,
                                   "head %zu not configured", i);
            return;
        }
    Commit(r, [next](wl_resource* res, bool apply, bool answer) {
        if (apply) {
            g.outputs = next;
            for (size_t i = 0; i < g.outputs.size(); ++i)
                if (g.outputs[i].standin) Resend(i, static_cast<size_t>(g.outputs[i].current));
            for (size_t i = 0; i < g.outputs.size(); ++i) g.Log("wlr " + Describe(g.outputs[i]));
        }
        if (answer && res != nullptr) zwlr_output_configuration_v1_send_succeeded(res);
        if (apply) {
            ++g.serial;
            SendAllHeads();
        }
    });
}

const struct zwlr_output_configuration_v1_interface kConfigurationImpl{
    [](wl_client* client, wl_resource* r, uint32_t id, wl_resource* head) {
        auto* c = static_cast<WlrConfiguration*>(wl_resource_get_user_data(r));
        // As wlroots does: what the client does not set stays as it is.
        HeadChange change{head, true};
        if (const size_t index = HeadIndex(head); index != SIZE_MAX) {
            const OutputSpec& o = g.outputs[index];
            change.x = o.x;
            change.y = o.y;
            change.transform = o.transform;
            change.scale = o.scale;
        }
        c->heads.push_back(change);
        wl_resource* ch = wl_resource_create(client, &zwlr_output_configuration_head_v1_interface,
                                             wl_resource_get_version(r), id);
        wl_resource_set_implementation(ch, &kConfigHeadImpl, &c->heads.back(), nullptr);
    },
    [](wl_client*, wl_resource* r, wl_resource* head) {
        static_cast<WlrConfiguration*>(wl_resource_get_user_data(r))->heads.push_back({head, false});
    },
    [](wl_client*, wl_resource* r) {
        ApplyWlr(r, static_cast<WlrConfiguration*>(wl_resource_get_user_data(r)));
    },
    [](wl_client*, wl_resource* r) { zwlr_output_configuration_v1_send_succeeded(r); },
    [](wl_client*, wl_resource* r) { wl_resource_destroy(r); },
};

const struct zwlr_output_manager_v1_interface kManagerImpl{
    [](wl_client* client, wl_resource* r, uint32_t id, uint32_t serial) {
        wl_resource* c = wl_resource_create(client, &zwlr_output_configuration_v1_interface,
                                            wl_resource_get_version(r), id);
        auto* state = new WlrConfiguration;
        state->serial = serial;
        wl_resource_set_implementation(c, &kConfigurationImpl, state, [](wl_resource* res) {
            delete static_cast<WlrConfiguration*>(wl_resource_get_user_data(res));
        });
    },
    [](wl_client*, wl_resource* r) { zwlr_output_manager_v1_send_finished(r); wl_resource_destroy(r); },
};

const struct zwlr_output_head_v1_interface kHeadImpl{
    [](wl_client*, wl_resource* r) { wl_resource_destroy(r); },
};

void BindManager(wl_client* client, void*, uint32_t version, uint32_t id)
{
    wl_resource* m = wl_resource_create(client, &zwlr_output_manager_v1_interface,
                                        static_cast<int>(version), id);
    wl_resource_set_implementation(m, &kManagerImpl, nullptr,
                                   [](wl_resource* res) { g.managers.erase(res); });
    g.managers.insert(m);
    for (size_t i = 0; i < g.outputs.size(); ++i) {
        wl_resource* head = wl_resource_create(client, &zwlr_output_head_v1_interface,
                                               static_cast<int>(version), 0);
        wl_resource_set_implementation(head, &kHeadImpl, nullptr,
                                       [](wl_resource* res) { Forget(&g.heads, res); });
        g.heads.push_back({head, i});
        zwlr_output_manager_v1_send_head(m, head);
        SendHead(head, i, true);
    }
    zwlr_output_manager_v1_send_done(m, g.serial);
}

// ---- faults ------------------------------------------------------------------

int Vanish(int, void*)
{
    if (g.off && !g.outputs.empty()) {
        g.outputs[0].enabled = false;
        for (const auto& [dev, index] : g.devices)
            if (index == 0) SendDevice(dev, 0, false);
        ++g.serial;
        SendAllHeads();
        wl_display_flush_clients(g.display);
        g.Log("vanished");
        return 0;
    }
    if (g.remove && !g.outputs.empty()) {
        // Plasma 6.7 removes the device; before it, the device's global goes.
        for (const auto& [dev, index] : std::vector(g.devices))
            if (index == 0 && wl_resource_get_version(dev) >= 21) {
                kde_output_device_v2_send_removed(dev);
                Forget(&g.devices, dev);
            }
        if (!g.deviceGlobals.empty()) wl_global_remove(g.deviceGlobals[0]);
        wl_display_flush_clients(g.display);
        g.Log("vanished");
        return 0;
    }
    if (g.resize >= 0 && !g.outputs.empty() &&
        static_cast<size_t>(g.resize) < g.outputs[0].modes.size()) {
        g.outputs[0].modes[static_cast<size_t>(g.resize)] = g.resized;
        Resend(0, static_cast<size_t>(g.resize));
        for (const auto& [dev, index] : g.devices)
            if (index == 0) kde_output_device_v2_send_done(dev);
        ++g.serial;
        for (wl_resource* m : g.managers) zwlr_output_manager_v1_send_done(m, g.serial);
        wl_display_flush_clients(g.display);
        g.Log("vanished");
        return 0;
    }
    if (g.vanish < 0 || g.outputs.empty()) return 0;
    const auto k = static_cast<size_t>(g.vanish);
    OutputSpec& o = g.outputs[0];
    if (k >= o.modes.size()) return 0;
    o.modes[k].gone = true;
    for (auto& [r, ref] : g.modes) {
        if (ref.output != 0 || ref.mode != k) continue;
        if (ref.kde)
            kde_output_device_mode_v2_send_removed(r);
        else
            zwlr_output_mode_v1_send_finished(r);
        ref.output = SIZE_MAX;  // inert from now on
    }
    for (const auto& [dev, index] : g.devices)
        if (index == 0) kde_output_device_v2_send_done(dev);
    ++g.serial;
    for (wl_resource* m : g.managers) zwlr_output_manager_v1_send_done(m, g.serial);
    wl_display_flush_clients(g.display);
    g.Log("vanished");
    return 0;
}

bool ParseOutput(const std::string& arg, OutputSpec* o)
{
    std::stringstream parts(arg);
    std::string modes, options;
    std::getline(parts, o->name, '/');
    std::getline(parts, modes, '/');
    std::getline(parts, options);
    std::stringstream ms(modes);
    std::string spec;
    while (std::getline(ms, spec, ',')) {
        ModeSpec m;
        if (std::sscanf(spec.c_str(), "%dx%d@%d", &m.width, &m.height, &m.refresh) != 3) return false;
        o->modes.push_back(m);
    }
    std::stringstream os(options);
    while (std::getline(os, spec, ',')) {
        const size_t eq = spec.find('=');
        const std::string key = spec.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : spec.substr(eq + 1);
        if (key == "disabled") o->enabled = false;
        else if (key == "standin") o->standin = true;
        else if (key == "current") o->current = std::atoi(value.c_str());
        else if (key == "transform") o->transform = std::atoi(value.c_str());
        else if (key == "x") o->x = std::atoi(value.c_str());
        else if (key == "y") o->y = std::atoi(value.c_str());
        else if (key == "scale") o->scale = std::atof(value.c_str());
        else return false;
    }
    return !o->name.empty();
}

}  // namespace

int main(int argc, char** argv)
{
    std::string socket;
    bool kde = true, wlr = true, deviceGlobals = false;
    int registry = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto next = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (a == "--socket") socket = next();
        else if (a == "--log") g.logPath = next();
        else if (a == "--no-kde") kde = false;
        else if (a == "--no-wlr") wlr = false;
        else if (a == "--fail") g.fail = true;
        else if (a == "--die-on-apply") g.dieOnApply = true;
        else if (a == "--late") g.late = std::atoi(next().c_str());
        else if (a == "--late-answer") g.lateAnswer = std::atoi(next().c_str());
        else if (a == "--cancel") g.cancel = std::atoi(next().c_str());
        else if (a == "--vanish") g.vanish = std::atoi(next().c_str());
        else if (a == "--off") g.off = true;
        else if (a == "--remove") g.remove = true;
        else if (a == "--registry") registry = std::atoi(next().c_str());
        else if (a == "--device-globals") deviceGlobals = true;
        else if (a == "--resize") {
            const std::string spec = next();
            if (std::sscanf(spec.c_str(), "%d:%dx%d@%d", &g.resize, &g.resized.width,
                            &g.resized.height, &g.resized.refresh) != 4) {
                std::fprintf(stderr, "test_compositor: cannot read --resize %s\n", spec.c_str());
                return 2;
            }
        }
        else if (a == "--order") {
            std::stringstream names(next());
            std::string name;
            while (std::getline(names, name, ',')) g.order.push_back(name);
        } else {
            OutputSpec o;
            if (!ParseOutput(a, &o)) {
                std::fprintf(stderr, "test_compositor: cannot read %s\n", a.c_str());
                return 2;
            }
            g.outputs.push_back(o);
        }
    }
    g.display = wl_display_create();
    if (socket.empty() || wl_display_add_socket(g.display, socket.c_str()) != 0) {
        std::fprintf(stderr, "test_compositor: cannot listen on %s\n", socket.c_str());
        return 1;
    }
    if (kde) {
        if (registry > 0)
            wl_global_create(g.display, &kde_output_device_registry_v2_interface, registry,
                             nullptr, BindRegistry);
        if (registry == 0 || deviceGlobals)
            for (size_t i = 0; i < g.outputs.size(); ++i)
                g.deviceGlobals.push_back(wl_global_create(g.display,
                                                           &kde_output_device_v2_interface, 2,
                                                           reinterpret_cast<void*>(i), BindDevice));
        wl_global_create(g.display, &kde_output_management_v2_interface, 3, nullptr,
                         [](wl_client* client, void*, uint32_t version, uint32_t id) {
                             wl_resource* r = wl_resource_create(
                                 client, &kde_output_management_v2_interface,
                                 static_cast<int>(version), id);
                             wl_resource_set_implementation(r, &kKdeManagementImpl, nullptr, nullptr);
                         });
        if (!g.order.empty())
            wl_global_create(g.display, &kde_output_order_v1_interface, 1, nullptr,
                             [](wl_client* client, void*, uint32_t version, uint32_t id) {
                                 wl_resource* r = wl_resource_create(
                                     client, &kde_output_order_v1_interface,
                                     static_cast<int>(version), id);
                                 wl_resource_set_implementation(r, &kOrderImpl, nullptr, nullptr);
                                 for (const std::string& name : g.order)
                                     kde_output_order_v1_send_output(r, name.c_str());
                                 kde_output_order_v1_send_done(r);
                             });
    }
    if (wlr) wl_global_create(g.display, &zwlr_output_manager_v1_interface, 4, nullptr, BindManager);
    wl_event_loop_add_signal(wl_display_get_event_loop(g.display), SIGUSR1, Vanish, nullptr);
    wl_event_loop_add_signal(wl_display_get_event_loop(g.display), SIGTERM,
                             [](int, void*) {
                                 wl_display_terminate(g.display);
                                 return 0;
                             },
                             nullptr);
    g.Log("ready");
    wl_display_run(g.display);
    wl_display_destroy_clients(g.display);
    wl_display_destroy(g.display);
    return 0;
}
