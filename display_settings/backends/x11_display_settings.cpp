#include "x11_display_settings.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include "backend_registry.h"
#include "x11_autostart.h"

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeDeleter>;

// Waits for the reply to a request; an X error comes back as an empty reply.
template <class T, class Cookie>
Reply<T> Wait(xcb_connection_t* c, Cookie cookie,
              T* (*fetch)(xcb_connection_t*, Cookie, xcb_generic_error_t**))
{
    xcb_generic_error_t* error = nullptr;
    Reply<T> reply(fetch(c, cookie, &error));
    std::free(error);
    return reply;
}

bool Succeeded(xcb_connection_t* c, xcb_void_cookie_t cookie)
{
    Reply<xcb_generic_error_t> error(xcb_request_check(c, cookie));
    return error == nullptr;
}

// Holds the server for the life of the object, so that no other client
// changes the configuration between reading it and setting it.
class ServerGrab {
public:
    explicit ServerGrab(xcb_connection_t* c) : c_(c) { xcb_grab_server(c_); }
    ServerGrab(const ServerGrab&) = delete;
    ServerGrab& operator=(const ServerGrab&) = delete;
    ~ServerGrab()
    {
        xcb_ungrab_server(c_);
        xcb_flush(c_);
    }

private:
    xcb_connection_t* c_;
};

struct Mode {
    xcb_randr_mode_info_t info;
    std::string name;
};

struct Resources {
    xcb_timestamp_t configTimestamp = 0;
    std::vector<xcb_randr_crtc_t> crtcs;
    std::vector<xcb_randr_output_t> outputs;
    std::unordered_map<uint32_t, Mode> modes;
};

struct CurrentResources {
    using ReplyType = xcb_randr_get_screen_resources_current_reply_t;
    static ReplyType* Get(xcb_connection_t* c, xcb_window_t root)
    {
        xcb_generic_error_t* error = nullptr;
        auto* r = xcb_randr_get_screen_resources_current_reply(
            c, xcb_randr_get_screen_resources_current(c, root), &error);
        std::free(error);
        return r;
    }
    static auto Crtcs(const ReplyType* r) { return xcb_randr_get_screen_resources_current_crtcs(r); }
    static auto Outputs(const ReplyType* r) { return xcb_randr_get_screen_resources_current_outputs(r); }
    static auto Modes(const ReplyType* r) { return xcb_randr_get_screen_resources_current_modes(r); }
    static auto Names(const ReplyType* r) { return xcb_randr_get_screen_resources_current_names(r); }
    static int NamesLength(const ReplyType* r) { return xcb_randr_get_screen_resources_current_names_length(r); }
};

struct FullResources {
    using ReplyType = xcb_randr_get_screen_resources_reply_t;
    static ReplyType* Get(xcb_connection_t* c, xcb_window_t root)
    {
        xcb_generic_error_t* error = nullptr;
        auto* r = xcb_randr_get_screen_resources_reply(c, xcb_randr_get_screen_resources(c, root),
                                                       &error);
        std::free(error);
        return r;
    }
    static auto Crtcs(const ReplyType* r) { return xcb_randr_get_screen_resources_crtcs(r); }
    static auto Outputs(const ReplyType* r) { return xcb_randr_get_screen_resources_outputs(r); }
    static auto Modes(const ReplyType* r) { return xcb_randr_get_screen_resources_modes(r); }
    static auto Names(const ReplyType* r) { return xcb_randr_get_screen_resources_names(r); }
    static int NamesLength(const ReplyType* r) { return xcb_randr_get_screen_resources_names_length(r); }
};

template <class Access>
bool ReadResources(xcb_connection_t* c, xcb_window_t root, Resources* out)
{
    Reply<typename Access::ReplyType> r(Access::Get(c, root));
    if (!r) return false;
    out->configTimestamp = r->config_timestamp;
    const auto* crtcs = Access::Crtcs(r.get());
    out->crtcs.assign(crtcs, crtcs + r->num_crtcs);
    const auto* outputs = Access::Outputs(r.get());
    out->outputs.assign(outputs, outputs + r->num_outputs);
    const auto* modes = Access::Modes(r.get());
    const auto* names = reinterpret_cast<const char*>(Access::Names(r.get()));
    const size_t namesLength = static_cast<size_t>(std::max(Access::NamesLength(r.get()), 0));
    size_t offset = 0;
    out->modes.clear();
    out->modes.reserve(r->num_modes);
    for (int i = 0; i < r->num_modes; ++i) {
        const size_t length = std::min<size_t>(modes[i].name_len, namesLength - offset);
        out->modes[modes[i].id] = Mode{modes[i], std::string(names + offset, length)};
        offset += length;
    }
    return true;
}

// The screen resources without probing the hardware; the probing request only
// when the cheap one knows of no outputs or CRTCs yet.
bool ReadResources(xcb_connection_t* c, xcb_window_t root, Resources* out)
{
    if (ReadResources<CurrentResources>(c, root, out) && !out->outputs.empty() &&
        !out->crtcs.empty())
        return true;
    return ReadResources<FullResources>(c, root, out);
}

bool IsSideways(uint16_t rotation)
{
    const unsigned r = rotation & 0x0F;
    return r == XCB_RANDR_ROTATION_ROTATE_90 || r == XCB_RANDR_ROTATION_ROTATE_270;
}

double RefreshHz(const xcb_randr_mode_info_t& m)
{
    double vtotal = m.vtotal;
    if (m.mode_flags & XCB_RANDR_MODE_FLAG_DOUBLE_SCAN) vtotal *= 2;
    if (m.mode_flags & XCB_RANDR_MODE_FLAG_INTERLACE) vtotal /= 2;
    if (m.htotal == 0 || vtotal == 0) return 0;
    return m.dot_clock / (m.htotal * vtotal);
}

DspMode Describe(const Mode& mode, bool sideways, int16_t bitsPerPel, const std::string& output)
{
    DspMode m{};
    std::strncpy(m.dmDeviceName, output.c_str(), sizeof m.dmDeviceName - 1);
    m.dmSpecVersion = dsp::kSpecVersion;
    m.dmSize = sizeof(DspMode);
    m.dmFields = dsp::kFieldBitsPerPel | dsp::kFieldPelsWidth | dsp::kFieldPelsHeight |
                 dsp::kFieldDisplayFlags | dsp::kFieldDisplayFrequency;
    dsp::StoreModeKey(&m, mode.info.id);  // the RandR mode XID
    m.dmBitsPerPel = bitsPerPel;
    m.dmPelsWidth = sideways ? mode.info.height : mode.info.width;
    m.dmPelsHeight = sideways ? mode.info.width : mode.info.height;
    m.dmDisplayFlags =
        (mode.info.mode_flags & XCB_RANDR_MODE_FLAG_INTERLACE) ? dsp::kDisplayInterlaced : 0;
    m.dmDisplayFrequency = static_cast<int32_t>(std::lround(RefreshHz(mode.info)));
    return m;
}

const xcb_screen_t* ScreenOf(xcb_connection_t* c, int number)
{
    auto it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; it.rem > 0 && i < number; ++i) xcb_screen_next(&it);
    return it.rem > 0 ? it.data : nullptr;
}

int16_t BitsPerPixel(xcb_connection_t* c, uint8_t depth)
{
    auto it = xcb_setup_pixmap_formats_iterator(xcb_get_setup(c));
    for (; it.rem > 0; xcb_format_next(&it))
        if (it.data->depth == depth) return it.data->bits_per_pixel;
    return depth;
}

bool HasMode(const xcb_randr_get_output_info_reply_t& output, uint32_t id)
{
    const auto* modes = xcb_randr_get_output_info_modes(&output);
    return std::find(modes, modes + output.num_modes, id) != modes + output.num_modes;
}

std::string NameOf(const xcb_randr_get_output_info_reply_t& info)
{
    return std::string(reinterpret_cast<const char*>(xcb_randr_get_output_info_name(&info)),
                       static_cast<size_t>(xcb_randr_get_output_info_name_length(&info)));
}

struct Size {
    uint32_t width;
    uint32_t height;
    bool operator==(const Size&) const = default;
};

}  // namespace

void X11DisplaySettings::ConnectionCloser::operator()(xcb_connection_t* c) const
{
    xcb_disconnect(c);
}

X11DisplaySettings::X11DisplaySettings(const char* displayName,
                                       std::unique_ptr<X11ModeStore> store)
    : store_(store ? std::move(store) : LoginEntryStore())
{
    int screen = 0;
    conn_.reset(xcb_connect(displayName, &screen));
    if (xcb_connection_has_error(conn_.get())) {
        error_ = "cannot open the X display";
        return;
    }
    screen_ = ScreenOf(conn_.get(), screen);
    if (screen_ == nullptr) {
        error_ = "the X display has no such screen";
        return;
    }
    if (!Load()) modes_.clear();
}

X11DisplaySettings::~X11DisplaySettings() = default;

bool X11DisplaySettings::Load()
{
    xcb_connection_t* c = conn_.get();
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_randr_id);
    auto version = ext && ext->present
                       ? Wait(c, xcb_randr_query_version(c, 1, 3), xcb_randr_query_version_reply)
                       : nullptr;
    if (!version || version->major_version < 1 ||
        (version->major_version == 1 && version->minor_version < 3)) {
        error_ = "the X server lacks RandR 1.3";
        return false;
    }
    // Xwayland's RandR is a picture of the compositor's outputs: its modes are
    // made up and setting one changes no monitor.
    static constexpr char kXwayland[] = "XWAYLAND";
    auto xwayland = Wait(c, xcb_query_extension(c, sizeof kXwayland - 1, kXwayland),
                         xcb_query_extension_reply);
    if (xwayland && xwayland->present) {
        xwayland_ = true;
        error_ = "the X server is Xwayland, whose modes are not the monitor's";
        return false;
    }
    const auto primaryCookie = xcb_randr_get_output_primary(c, screen_->root);
    Resources res;
    if (!ReadResources(c, screen_->root, &res)) {
        xcb_discard_reply(c, primaryCookie.sequence);
        error_ = "cannot read the screen resources";
        return false;
    }
    auto primary = Wait(c, primaryCookie, xcb_randr_get_output_primary_reply);

    std::vector<xcb_randr_get_output_info_cookie_t> cookies;
    cookies.reserve(res.outputs.size());
    for (const auto output : res.outputs)
        cookies.push_back(xcb_randr_get_output_info(c, output, res.configTimestamp));
    Reply<xcb_randr_get_output_info_reply_t> chosen;
    for (size_t i = 0; i < cookies.size(); ++i) {
        auto info = Wait(c, cookies[i], xcb_randr_get_output_info_reply);
        if (info && NameOf(*info).starts_with(kXwayland)) xwayland_ = true;
        if (!info || info->connection != XCB_RANDR_CONNECTION_CONNECTED ||
            info->crtc == XCB_NONE)
            continue;
        const bool isPrimary = primary && primary->output == res.outputs[i];
        if (!chosen || isPrimary) {
            chosen = std::move(info);
            output_ = res.outputs[i];
        }
    }
    if (xwayland_) {
        output_ = 0;
        error_ = "the X server is Xwayland, whose modes are not the monitor's";
        return false;
    }
    if (!chosen) {
        error_ = "no connected output drives a CRTC";
        return false;
    }
    outputName_ = NameOf(*chosen);

    auto crtc = Wait(c, xcb_randr_get_crtc_info(c, chosen->crtc, res.configTimestamp),
                     xcb_randr_get_crtc_info_reply);
    const bool sideways = crtc && IsSideways(crtc->rotation);
    const int16_t bitsPerPel = BitsPerPixel(c, screen_->root_depth);

    const auto* ids = xcb_randr_get_output_info_modes(chosen.get());
    modes_.reserve(chosen->num_modes);
    for (int i = 0; i < chosen->num_modes; ++i) {
        const auto mode = res.modes.find(ids[i]);
        if (mode != res.modes.end())
            modes_.push_back(Describe(mode->second, sideways, bitsPerPel, outputName_));
    }
    return true;
}

int32_t X11DisplaySettings::EnumDisplaySettingsA(const char* deviceName, int32_t modeNum,
                                                 DspMode* devMode)
{
    return dsp::ServeMode(modes_, outputName_, deviceName, modeNum, devMode);
}

int32_t X11DisplaySettings::ChangeDisplaySettingsA(const DspMode* devMode, int32_t flags)
{
    if (devMode == nullptr) return dsp::kDispChangeBadParam;
    if ((flags & ~dsp::kUpdateRegistry) != 0) return dsp::kDispChangeBadFlags;
    if (output_ == 0) return dsp::kDispChangeFailed;
    const uint32_t modeId = dsp::LoadModeKey(*devMode);
    if (modeId == 0) return dsp::kDispChangeBadMode;

    X11Layout layout;
    const int32_t result = Switch(modeId, &layout.loginCommand);
    if (result != dsp::kDispChangeSuccessful || (flags & dsp::kUpdateRegistry) == 0)
        return result;
    layout.chosen = outputName_;
    layout.outputs = ReadOutputs();
    std::string error;
    return store_->Save(layout, &error) ? dsp::kDispChangeSuccessful
                                        : dsp::kDispChangeNotUpdated;
}

std::vector<X11OutputState> X11DisplaySettings::ReadOutputs()
{
    xcb_connection_t* c = conn_.get();
    std::vector<X11OutputState> states;
    Resources res;
    const auto primaryCookie = xcb_randr_get_output_primary(c, screen_->root);
    static constexpr char kEdid[] = "EDID";
    static constexpr char kEdidData[] = "EDID_DATA";
    const auto edidCookie = xcb_intern_atom(c, 1, sizeof kEdid - 1, kEdid);
    const auto edidDataCookie = xcb_intern_atom(c, 1, sizeof kEdidData - 1, kEdidData);
    const bool read = ReadResources(c, screen_->root, &res);
    auto primary = Wait(c, primaryCookie, xcb_randr_get_output_primary_reply);
    auto edidAtom = Wait(c, edidCookie, xcb_intern_atom_reply);
    auto edidDataAtom = Wait(c, edidDataCookie, xcb_intern_atom_reply);
    // The bytes of an 8-bit INTEGER property, as the desktops' daemons take an EDID.
    const auto readEdid = [&](xcb_randr_output_t id, const Reply<xcb_intern_atom_reply_t>& atom) {
        std::vector<uint8_t> bytes;
        if (!atom || atom->atom == XCB_NONE) return bytes;
        // An EDID block is 128 bytes; with extensions, up to 1024 are read.
        auto prop = Wait(c, xcb_randr_get_output_property(c, id, atom->atom, XCB_ATOM_ANY, 0,
                                                          256, 0, 0),
                         xcb_randr_get_output_property_reply);
        if (prop && prop->format == 8 && prop->type == XCB_ATOM_INTEGER) {
            const uint8_t* data = xcb_randr_get_output_property_data(prop.get());
            bytes.assign(data, data + xcb_randr_get_output_property_data_length(prop.get()));
        }
        return bytes;
    };
    if (!read) return states;
    for (const auto id : res.outputs) {
        auto info = Wait(c, xcb_randr_get_output_info(c, id, res.configTimestamp),
                         xcb_randr_get_output_info_reply);
        if (!info) continue;
        X11OutputState o;
        uint32_t currentMode = XCB_NONE;
        o.name = NameOf(*info);
        o.connected = info->connection == XCB_RANDR_CONNECTION_CONNECTED;
        o.primary = primary && primary->output == id;
        if (info->crtc != XCB_NONE) {
            auto crtc = Wait(c, xcb_randr_get_crtc_info(c, info->crtc, res.configTimestamp),
                             xcb_randr_get_crtc_info_reply);
            const auto mode = crtc ? res.modes.find(crtc->mode) : res.modes.end();
            if (mode != res.modes.end()) {
                o.on = true;
                currentMode = crtc->mode;
                o.x = crtc->x;
                o.y = crtc->y;
                o.rotation = crtc->rotation;
                o.width = mode->second.info.width;
                o.height = mode->second.info.height;
                o.dotClock = mode->second.info.dot_clock;
                o.hTotal = mode->second.info.htotal;
                o.vTotal = mode->second.info.vtotal;
            }
        }
        o.edid = readEdid(id, edidAtom);
        o.edidData = readEdid(id, edidDataAtom);
        const auto* ids = xcb_randr_get_output_info_modes(info.get());
        for (int i = 0; i < info->num_modes; ++i) {
            const auto m = res.modes.find(ids[i]);
            if (m == res.modes.end()) continue;
            if (o.on && m->second.info.id == currentMode) o.mode = static_cast<int>(o.modes.size());
            o.modes.push_back({m->second.info.width, m->second.info.height,
                               m->second.info.dot_clock, m->second.info.htotal,
                               m->second.info.vtotal});
        }
        states.push_back(std::move(o));
    }
    return states;
}

// Switches the output's CRTC to the mode, resizing the screen around it, all
// under a server grab; restores the previous configuration on any failure.
int32_t X11DisplaySettings::Switch(uint32_t modeId, std::vector<std::string>* loginCommand)
{
    xcb_connection_t* c = conn_.get();
    ServerGrab grab(c);

    Resources res;
    if (!ReadResources(c, screen_->root, &res)) return dsp::kDispChangeFailed;
    auto output = Wait(c, xcb_randr_get_output_info(c, output_, res.configTimestamp),
                       xcb_randr_get_output_info_reply);
    if (!output || output->connection != XCB_RANDR_CONNECTION_CONNECTED ||
        output->crtc == XCB_NONE)
        return dsp::kDispChangeFailed;
    const auto mode = res.modes.find(modeId);
    if (!HasMode(*output, modeId) || mode == res.modes.end()) return dsp::kDispChangeBadMode;

    const auto sizeCookie = xcb_randr_get_screen_size_range(c, screen_->root);
    const auto geometryCookie = xcb_get_geometry(c, screen_->root);
    std::vector<xcb_randr_get_crtc_info_cookie_t> cookies;
    for (const auto crtc : res.crtcs)
        cookies.push_back(xcb_randr_get_crtc_info(c, crtc, res.configTimestamp));
    Reply<xcb_randr_get_crtc_info_reply_t> ours;
    Size need{0, 0};
    // Every reply is read, even after a failed one, so that none is left
    // queued on the connection for the rest of the run.
    bool complete = true;
    for (size_t i = 0; i < cookies.size(); ++i) {
        auto info = Wait(c, cookies[i], xcb_randr_get_crtc_info_reply);
        if (!info) {
            complete = false;
            continue;
        }
        if (res.crtcs[i] == output->crtc) {
            ours = std::move(info);
        } else if (info->mode != XCB_NONE) {
            need.width = std::max<uint32_t>(need.width, info->x + info->width);
            need.height = std::max<uint32_t>(need.height, info->y + info->height);
        }
    }
    auto range = Wait(c, sizeCookie, xcb_randr_get_screen_size_range_reply);
    auto geometry = Wait(c, geometryCookie, xcb_get_geometry_reply);
    if (!complete || !ours || !range || !geometry) return dsp::kDispChangeFailed;

    const bool sideways = IsSideways(ours->rotation);
    const uint32_t width = sideways ? mode->second.info.height : mode->second.info.width;
    const uint32_t height = sideways ? mode->second.info.width : mode->second.info.height;
    need.width = std::max<uint32_t>({need.width, ours->x + width, range->min_width});
    need.height = std::max<uint32_t>({need.height, ours->y + height, range->min_height});
    if (need.width > range->max_width || need.height > range->max_height)
        return dsp::kDispChangeBadMode;
    std::vector<double> namesakes;  // the output's other modes of this name
    const auto* ids = xcb_randr_get_output_info_modes(output.get());
    for (int i = 0; i < output->num_modes; ++i) {
        const auto other = res.modes.find(ids[i]);
        if (ids[i] != modeId && other != res.modes.end() && other->second.name == mode->second.name)
            namesakes.push_back(RefreshHz(other->second.info));
    }
    *loginCommand =
        XrandrArgs(outputName_, mode->second.name, RefreshHz(mode->second.info), namesakes);

    // Screen sizes in millimetres keep the density the server started with.
    const auto setScreen = [&](Size s) {
        const auto mm = [](uint32_t px, uint16_t basePx, uint16_t baseMm) {
            const double perPx = basePx && baseMm ? double(baseMm) / basePx : 25.4 / 96;
            return static_cast<uint32_t>(std::max(1L, std::lround(px * perPx)));
        };
        return Succeeded(c, xcb_randr_set_screen_size_checked(
                                c, screen_->root, static_cast<uint16_t>(s.width),
                                static_cast<uint16_t>(s.height),
                                mm(s.width, screen_->width_in_pixels, screen_->width_in_millimeters),
                                mm(s.height, screen_->height_in_pixels,
                                   screen_->height_in_millimeters)));
    };
    const auto setCrtc = [&](uint32_t id) {
        auto reply = Wait(c,
                          xcb_randr_set_crtc_config(
                              c, output->crtc, XCB_CURRENT_TIME, res.configTimestamp, ours->x,
                              ours->y, id, ours->rotation, ours->num_outputs,
                              xcb_randr_get_crtc_info_outputs(ours.get())),
                          xcb_randr_set_crtc_config_reply);
        return reply && reply->status == XCB_RANDR_SET_CONFIG_SUCCESS;
    };

    const Size before{geometry->width, geometry->height};
    const Size grown{std::max(before.width, need.width), std::max(before.height, need.height)};
    if (grown != before && !setScreen(grown)) return dsp::kDispChangeFailed;
    if (setCrtc(modeId) && (need == grown || setScreen(need)))
        return dsp::kDispChangeSuccessful;

    // Back to where we started: the old mode fits the grown screen, and the
    // screen then shrinks to its old size around it.
    setScreen(grown);
    setCrtc(ours->mode);
    if (grown != before) setScreen(before);
    return dsp::kDispChangeFailed;
}

std::unique_ptr<DisplaySettings> OpenRandR(std::unique_ptr<X11ModeStore> store, std::string* why)
{
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        *why = "$DISPLAY is not set";
        return nullptr;
    }
    auto settings = std::make_unique<X11DisplaySettings>(display, std::move(store));
    *why = settings->Error();
    // On Xwayland RandR is never used, even when asked for by name.
    if (settings->OnXwayland()) return nullptr;
    return settings;
}

namespace {

std::unique_ptr<DisplaySettings> OpenX11(bool /*forced*/, std::string* why)
{
    return OpenRandR(nullptr, why);
}

}  // namespace

extern const DisplayBackend kX11Backend;
const DisplayBackend kX11Backend{"x11", &OpenX11};
