#include "fake_display_config.h"

#include <gio/gio.h>

namespace {

constexpr const char* kInterface = R"xml(
<node>
  <interface name="org.gnome.Mutter.DisplayConfig">
    <method name="GetCurrentState">
      <arg name="serial" direction="out" type="u"/>
      <arg name="monitors" direction="out" type="a((ssss)a(siiddada{sv})a{sv})"/>
      <arg name="logical_monitors" direction="out" type="a(iiduba(ssss)a{sv})"/>
      <arg name="properties" direction="out" type="a{sv}"/>
    </method>
    <method name="ApplyMonitorsConfig">
      <arg name="serial" direction="in" type="u"/>
      <arg name="method" direction="in" type="u"/>
      <arg name="logical_monitors" direction="in" type="a(iiduba(ssa{sv}))"/>
      <arg name="properties" direction="in" type="a{sv}"/>
    </method>
  </interface>
</node>)xml";

GVariant* ParseState(const std::string& state)
{
    return g_variant_parse(
        G_VARIANT_TYPE("(a((ssss)a(siiddada{sv})a{sv})a(iiduba(ssss)a{sv})a{sv})"), state.c_str(),
        nullptr, nullptr, nullptr);
}

}  // namespace

struct FakeDisplayConfig::Shared {
    std::mutex* mutex = nullptr;
    GVariant* state = nullptr;
    guint32 serial = 1;
    int refusals = 0;
    std::string message;
    bool moveSerial = false;
    std::vector<std::string> calls;
    GMainLoop* loop = nullptr;
};

namespace {

void HandleCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                GVariant* params, GDBusMethodInvocation* invocation, gpointer data)
{
    auto* s = static_cast<FakeDisplayConfig::Shared*>(data);
    std::lock_guard<std::mutex> lock(*s->mutex);
    if (g_strcmp0(method, "GetCurrentState") == 0) {
        GVariant *monitors = g_variant_get_child_value(s->state, 0),
                 *logical = g_variant_get_child_value(s->state, 1),
                 *props = g_variant_get_child_value(s->state, 2);
        g_dbus_method_invocation_return_value(
            invocation,
            g_variant_new("(u@a((ssss)a(siiddada{sv})a{sv})@a(iiduba(ssss)a{sv})@a{sv})",
                          s->serial, monitors, logical, props));
        g_variant_unref(monitors);
        g_variant_unref(logical);
        g_variant_unref(props);
        return;
    }
    gchar* printed = g_variant_print(params, TRUE);
    s->calls.emplace_back(printed);
    g_free(printed);
    guint32 serial = 0;
    g_variant_get_child(params, 0, "u", &serial);
    if (s->refusals > 0) {
        --s->refusals;
        if (s->moveSerial) ++s->serial;
        g_dbus_method_invocation_return_dbus_error(
            invocation, "org.freedesktop.DBus.Error.AccessDenied", s->message.c_str());
    } else if (serial != s->serial) {
        g_dbus_method_invocation_return_dbus_error(
            invocation, "org.freedesktop.DBus.Error.AccessDenied",
            "The requested configuration is based on stale information");
    } else {
        ++s->serial;
        g_dbus_method_invocation_return_value(invocation, nullptr);
    }
}

}  // namespace

FakeDisplayConfig::FakeDisplayConfig(const std::string& busAddress, const std::string& state)
{
    thread_ = std::thread(&FakeDisplayConfig::Run, this, busAddress, state);
    std::unique_lock<std::mutex> lock(mutex_);
    started_.wait(lock, [this] { return ready_ || done_; });
}

FakeDisplayConfig::~FakeDisplayConfig()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (shared_ != nullptr && shared_->loop != nullptr) g_main_loop_quit(shared_->loop);
    }
    if (thread_.joinable()) thread_.join();
}

void FakeDisplayConfig::Run(std::string address, std::string state)
{
    Shared shared;
    shared.mutex = &mutex_;
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    GDBusConnection* c = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    shared.state = ParseState(state);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterface, nullptr);
    const GDBusInterfaceVTable vtable = {HandleCall, nullptr, nullptr, {}};
    bool owned = false;
    if (c != nullptr && shared.state != nullptr && node != nullptr &&
        g_dbus_connection_register_object(c, "/org/gnome/Mutter/DisplayConfig",
                                          node->interfaces[0], &vtable, &shared, nullptr,
                                          nullptr) != 0) {
        GVariant* reply = g_dbus_connection_call_sync(
            c, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", "org.gnome.Mutter.DisplayConfig", 4u),
            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        guint32 answer = 0;
        if (reply != nullptr) {
            g_variant_get(reply, "(u)", &answer);
            g_variant_unref(reply);
        }
        owned = answer == 1;  // the primary owner
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (owned) {
            shared.loop = g_main_loop_new(context, FALSE);
            shared_ = &shared;
            ready_ = true;
        }
        done_ = !owned;
    }
    started_.notify_all();
    if (owned) g_main_loop_run(shared.loop);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        shared_ = nullptr;
        done_ = true;
    }
    if (shared.loop) g_main_loop_unref(shared.loop);
    if (node) g_dbus_node_info_unref(node);
    if (shared.state) g_variant_unref(shared.state);
    if (c) {
        g_dbus_connection_close_sync(c, nullptr, nullptr);
        g_object_unref(c);
    }
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
}

void FakeDisplayConfig::Refuse(int count, const std::string& message, bool moveSerial)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (shared_ == nullptr) return;
    shared_->refusals = count;
    shared_->message = message;
    shared_->moveSerial = moveSerial;
}

bool FakeDisplayConfig::SetState(const std::string& state)
{
    GVariant* parsed = ParseState(state);
    std::lock_guard<std::mutex> lock(mutex_);
    if (parsed == nullptr || shared_ == nullptr) {
        if (parsed != nullptr) g_variant_unref(parsed);
        return false;
    }
    g_variant_unref(shared_->state);
    shared_->state = parsed;
    return true;
}

std::vector<std::string> FakeDisplayConfig::Calls()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return shared_ ? shared_->calls : std::vector<std::string>{};
}
