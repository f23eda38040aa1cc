#include "x11_xfce_store.h"

#include <cstring>
#include <set>

#include "xdg_paths.h"

namespace {

constexpr const char* kXfconf = "org.xfce.Xfconf";
constexpr const char* kXfconfPath = "/org/xfce/Xfconf";
constexpr const char* kChannel = "displays";
constexpr const char* kDefault = "Default";
// xfconfd's errors for a channel, or a property under it, that holds nothing.
constexpr const char* kChannelNotFound = "org.xfce.Xfconf.Error.ChannelNotFound";
constexpr const char* kPropertyNotFound = "org.xfce.Xfconf.Error.PropertyNotFound";
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
    explicit Xfconf(XfconfBus openBus) : openBus_(std::move(openBus)) {}

    bool Save(const X11Layout& layout, std::string* error) override
    {
        if (layout.Chosen() == nullptr || !layout.Chosen()->on) {
            *error = "the switched output is not on the screen";
            return false;
        }
        const std::unique_ptr<GDBusConnection, decltype(&g_object_unref)> bus(openBus_(error),
                                                                             &g_object_unref);
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
            gchar* name = e != nullptr ? g_dbus_error_get_remote_error(e) : nullptr;
            const bool empty = name != nullptr && (std::strcmp(name, kChannelNotFound) == 0 ||
                                                   std::strcmp(name, kPropertyNotFound) == 0);
            g_free(name);
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

    XfconfBus openBus_;
};

// An output's EDID as xfsettingsd names it in profiles: the SHA-1 of its
// first block, or empty without one.
std::string EdidSum(const X11OutputState& o)
{
    if (o.edid.size() < 128) return {};
    gchar* sum = g_compute_checksum_for_data(G_CHECKSUM_SHA1, o.edid.data(), 128);
    std::string out = sum;
    g_free(sum);
    return out;
}

// The parts of a property name: "/Profile/Output/Key" gives Profile, Output, Key.
std::vector<std::string> PathOf(const std::string& property)
{
    std::vector<std::string> parts;
    if (property.empty() || property[0] != '/') return parts;
    size_t start = 1;
    for (size_t slash; (slash = property.find('/', start)) != std::string::npos; start = slash + 1)
        parts.push_back(property.substr(start, slash - start));
    parts.push_back(property.substr(start));
    return parts;
}

// Whether xfsettingsd applies a matching profile of the user's at start, by
// /AutoEnableProfiles: true or absent; as a number, its "on connect" bit.
bool AutoEnablesProfiles(const XfconfProperties& current)
{
    const auto it = current.find("/AutoEnableProfiles");
    if (it == current.end()) return true;
    if (const auto* b = std::get_if<bool>(&it->second)) return *b;
    if (const auto* i = std::get_if<int32_t>(&it->second)) return (*i & 1) != 0;
    return true;
}

}  // namespace

std::string XfceLoginProfile(const X11Layout& layout, const XfconfProperties& current)
{
    if (!AutoEnablesProfiles(current)) return {};
    std::multiset<std::string> connected;
    for (const X11OutputState& o : layout.outputs)
        if (o.connected) connected.insert(EdidSum(o));
    // Each profile's outputs (the properties /Profile/Output) by their EDID
    // sums; an output without one leaves the profile out.
    std::map<std::string, std::multiset<std::string>> profiles;
    std::set<std::string> incomplete;
    for (const auto& [property, value] : current) {
        const std::vector<std::string> path = PathOf(property);
        if (path.size() != 2 || path[0] == kDefault) continue;
        const auto edid = current.find(property + "/EDID");
        const auto* sum = edid != current.end() ? std::get_if<std::string>(&edid->second) : nullptr;
        if (sum == nullptr) incomplete.insert(path[0]);
        else profiles[path[0]].insert(*sum);
    }
    std::string chosen;
    int matching = 0;
    for (const auto& [name, sums] : profiles) {
        if (incomplete.contains(name) || sums.size() != connected.size()) continue;
        bool all = true;
        for (const std::string& sum : sums) all = all && connected.contains(sum);
        if (all) {
            chosen = name;
            ++matching;
        }
    }
    // With more than one, xfsettingsd chooses none of them.
    return matching == 1 ? chosen : std::string();
}

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
            if (const std::string sum = EdidSum(*out); !sum.empty()) set[base + "/EDID"] = sum;
        }
        set[base + "/Active"] = true;
        set[base + "/Resolution"] = resolution;
        set[base + "/RefreshRate"] = out->RefreshHz();
    };
    write(kDefault);
    // Profiles of the user's that xfsettingsd may apply in place of Default:
    // the active one, and the one it picks for these monitors at login.
    const auto writeProfile = [&](const std::string& profile) {
        if (!profile.empty() && profile != kDefault && profile.find('/') == std::string::npos &&
            current.contains("/" + profile + "/" + name))
            write(profile);
    };
    const auto active = current.find("/ActiveProfile");
    if (active != current.end())
        if (const auto* profile = std::get_if<std::string>(&active->second)) writeProfile(*profile);
    writeProfile(XfceLoginProfile(layout, current));
    return set;
}

std::unique_ptr<X11ModeStore> XfceStore(XfconfBus openBus)
{
    return std::make_unique<Xfconf>(std::move(openBus));
}
