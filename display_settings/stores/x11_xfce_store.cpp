#include "x11_xfce_store.h"


#include <gio/gio.h>

#include "backend_registry.h"
#include "x11_desktop_session.h"
#include "x11_display_settings.h"
#include "xdg_paths.h"

namespace {

constexpr const char* kXfconf = "org.xfce.Xfconf";
constexpr const char* kXfconfPath = "/org/xfce/Xfconf";
constexpr const char* kChannel = "displays";
constexpr const char* kDefault = "Default";
constexpr int kTimeoutMs = 5000;

const char* ReflectionName(uint16_t rotation)
{
    switch (rotation & 0x30) {
    case 0x10: return "X";
    case 0x20: return "Y";
    case 0x30: return "XY";
    default: return "0";
    }
}

int32_t RotationDegrees(uint16_t rotation)
{
    switch (rotation & 0x0F) {
    case 2: return 90;
    case 4: return 180;
    case 8: return 270;
    default: return 0;
    }
}

GVariant* ToVariant(const XfconfValue& v)
{
    return std::visit(
        [](const auto& x) -> GVariant* {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, bool>) return g_variant_new_boolean(x);
            else if constexpr (std::is_same_v<T, int32_t>) return g_variant_new_int32(x);
            else if constexpr (std::is_same_v<T, double>) return g_variant_new_double(x);
            else return g_variant_new_string(x.c_str());
        },
        v);
}

class Xfconf final : public X11ModeStore {
public:
    explicit Xfconf(const char* busAddress) : address_(busAddress ? busAddress : "") {}

    bool Save(const X11Layout& layout, std::string* error) override
    {
        if (layout.Chosen() == nullptr || !layout.Chosen()->on) {
            *error = "the switched output is not on the screen";
            return false;
        }
        const BusConnection bus =
            OpenBus(address_.empty() ? nullptr : address_.c_str(), kTimeoutMs, error);
        if (!bus) return false;
        XfconfProperties current;
        if (!ReadChannel(bus.get(), &current, error)) return false;
        for (const auto& [property, value] : XfconfChanges(layout, current)) {
            GError* e = nullptr;
            GVariant* reply = g_dbus_connection_call_sync(
                bus.get(), kXfconf, kXfconfPath, kXfconf, "SetProperty",
                g_variant_new("(ssv)", kChannel, property.c_str(), ToVariant(value)), nullptr,
                G_DBUS_CALL_FLAGS_NONE, kTimeoutMs, nullptr, &e);
            if (reply == nullptr) {
                *error = "xfconf " + property + ": " + (e ? e->message : "no reply");
                if (e != nullptr) g_error_free(e);
                return false;
            }
            g_variant_unref(reply);
        }
        g_dbus_connection_close_sync(bus.get(), nullptr, nullptr);
        // xfsettingsd re-applies the channel at login; an older entry of ours
        // would then set its mode over it.
        RemoveLoginEntry();
        return true;
    }

private:
    // The channel's properties of the kinds this store reads; others are left be.
    static bool ReadChannel(GDBusConnection* bus, XfconfProperties* out, std::string* error)
    {
        GError* e = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            bus, kXfconf, kXfconfPath, kXfconf, "GetAllProperties",
            g_variant_new("(ss)", kChannel, "/"), G_VARIANT_TYPE("(a{sv})"),
            G_DBUS_CALL_FLAGS_NONE, kTimeoutMs, nullptr, &e);
        if (reply == nullptr) {
            // A channel that was never written is no error: it is empty.
            const bool empty = e != nullptr && g_dbus_error_is_remote_error(e) &&
                               std::string(e->message).find("does not exist") != std::string::npos;
            if (!empty) *error = std::string("xfconf: ") + (e ? e->message : "no reply");
            if (e != nullptr) g_error_free(e);
            return empty;
        }
        GVariantIter* it = nullptr;
        g_variant_get(reply, "(a{sv})", &it);
        const gchar* name = nullptr;
        GVariant* value = nullptr;
        while (g_variant_iter_next(it, "{&sv}", &name, &value)) {
            if (g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN))
                (*out)[name] = g_variant_get_boolean(value) != FALSE;
            else if (g_variant_is_of_type(value, G_VARIANT_TYPE_INT32))
                (*out)[name] = g_variant_get_int32(value);
            else if (g_variant_is_of_type(value, G_VARIANT_TYPE_DOUBLE))
                (*out)[name] = g_variant_get_double(value);
            else if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
                (*out)[name] = std::string(g_variant_get_string(value, nullptr));
            else
                (*out)[name] = std::string();  // known to exist; its value is not ours to read
            g_variant_unref(value);
        }
        g_variant_iter_free(it);
        g_variant_unref(reply);
        return true;
    }

    std::string address_;
};

std::unique_ptr<DisplaySettings> OpenXfce(bool forced, std::string* why)
{
    if (!forced && DetectX11Desktop(why) != X11Desktop::Xfce) {
        if (why->empty()) *why = "xfsettingsd does not run on the session bus";
        return nullptr;
    }
    why->clear();
    return OpenRandR(XfceStore(), why);
}

}  // namespace

std::string XfconfOutputName(const std::string& output)
{
    std::string name = output;
    for (char& c : name)
        if (!g_ascii_isalnum(c) && c != '-' && c != '_' && c != '<' && c != '>') c = '_';
    return name;
}

XfconfProperties XfconfChanges(const X11Layout& layout, const XfconfProperties& current)
{
    XfconfProperties set;
    const X11OutputState* out = layout.Chosen();
    if (out == nullptr || !out->on) return set;
    const std::string name = XfconfOutputName(out->name);
    const std::string resolution = std::to_string(out->width) + "x" + std::to_string(out->height);
    const auto write = [&](const std::string& scheme) {
        const std::string base = "/" + scheme + "/" + name;
        if (!current.contains(base)) {
            set[base] = out->name;
            set[base + "/Rotation"] = RotationDegrees(out->rotation);
            set[base + "/Reflection"] = std::string(ReflectionName(out->rotation));
            set[base + "/Primary"] = out->primary;
            set[base + "/Position/X"] = out->x;
            set[base + "/Position/Y"] = out->y;
            if (out->edid.size() >= 128) {
                gchar* sum = g_compute_checksum_for_data(G_CHECKSUM_SHA1, out->edid.data(), 128);
                set[base + "/EDID"] = std::string(sum);
                g_free(sum);
            }
        }
        set[base + "/Active"] = true;
        set[base + "/Resolution"] = resolution;
        set[base + "/RefreshRate"] = out->RefreshHz();
    };
    write(kDefault);
    // A profile of the user's that xfsettingsd may apply in place of Default.
    const auto active = current.find("/ActiveProfile");
    if (active != current.end()) {
        const auto* profile = std::get_if<std::string>(&active->second);
        if (profile && !profile->empty() && *profile != kDefault &&
            profile->find('/') == std::string::npos &&
            current.contains("/" + *profile + "/" + name))
            write(*profile);
    }
    return set;
}

std::unique_ptr<X11ModeStore> XfceStore(const char* busAddress)
{
    return std::make_unique<Xfconf>(busAddress);
}

// RandR in a session where xfsettingsd keeps the displays.
extern const DisplayBackend kXfceBackend;
const DisplayBackend kXfceBackend{"xfce", &OpenXfce};
