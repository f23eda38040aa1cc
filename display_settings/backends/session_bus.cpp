#include "session_bus.h"

#include <cstdlib>

namespace {

struct Share {
    Share* outer = nullptr;
    bool tried = false;
    BusConnection bus;
    std::string error;
};
thread_local Share* t_share = nullptr;

// Runs context until *done or until the deadline (monotonic, in µs) has passed.
void IterateUntil(GMainContext* context, const bool* done, gint64 deadline)
{
    const gint64 left = (deadline - g_get_monotonic_time()) / 1000;
    if (left <= 0) return;
    bool expired = false;
    GSource* timeout = g_timeout_source_new(static_cast<guint>(left));
    g_source_set_callback(
        timeout,
        [](gpointer flag) {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &expired, nullptr);
    g_source_attach(timeout, context);
    while (!*done && !expired) g_main_context_iteration(context, TRUE);
    g_source_destroy(timeout);
    g_source_unref(timeout);
}

struct Pending {
    GDBusConnection* connection = nullptr;
    GVariant* reply = nullptr;
    GError* error = nullptr;
    bool done = false;
};

// Authenticates to the bus at address and sends it Hello, both within
// timeoutMs; *late tells whether the bus let the time run out.
BusConnection Connect(const char* address, int timeoutMs, std::string* error, bool* late)
{
    const gint64 deadline = g_get_monotonic_time() + gint64{timeoutMs} * 1000;
    const std::string within = " within " + std::to_string(timeoutMs) + " ms";
    // In a context of its own, so that only this connection's work runs here.
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    GCancellable* cancel = g_cancellable_new();
    // Without MESSAGE_BUS_CONNECTION: GDBus would send Hello itself and wait
    // 25 s for the answer whatever the cancellable says.
    Pending connecting;
    g_dbus_connection_new_for_address(
        address, G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT, nullptr, cancel,
        [](GObject*, GAsyncResult* result, gpointer data) {
            auto* p = static_cast<Pending*>(data);
            p->connection = g_dbus_connection_new_for_address_finish(result, &p->error);
            p->done = true;
        },
        &connecting);
    IterateUntil(context, &connecting.done, deadline);
    if (!connecting.done) {
        *late = true;
        g_cancellable_cancel(cancel);
        // The callback still comes, once authentication sees the cancel.
        while (!connecting.done) g_main_context_iteration(context, TRUE);
    }
    BusConnection bus(connecting.connection);
    if (*late && bus) {
        // Made as the time ran out: too late all the same.
        g_dbus_connection_close_sync(bus.get(), nullptr, nullptr);
        bus.reset();
    }
    if (*late) *error = "the session bus did not take the connection" + within;
    else if (!bus) *error = std::string("cannot connect to the session bus: ") +
                            (connecting.error ? connecting.error->message : "unknown");
    if (connecting.error != nullptr) g_error_free(connecting.error);

    if (bus) {
        g_dbus_connection_set_exit_on_close(bus.get(), FALSE);
        const gint64 left = (deadline - g_get_monotonic_time()) / 1000;
        Pending hello;
        g_dbus_connection_call(
            bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "Hello", nullptr, G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE,
            static_cast<int>(left > 1 ? left : 1), nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                auto* p = static_cast<Pending*>(data);
                p->reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result,
                                                         &p->error);
                p->done = true;
            },
            &hello);
        // The call's own timeout ends it, so the callback always comes.
        while (!hello.done) g_main_context_iteration(context, TRUE);
        if (hello.reply != nullptr) {
            g_variant_unref(hello.reply);
        } else {
            *late = g_error_matches(hello.error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT);
            *error = *late ? "the session bus did not answer Hello" + within
                           : std::string("the session bus refused Hello: ") +
                                 (hello.error ? hello.error->message : "unknown");
            g_dbus_connection_close_sync(bus.get(), nullptr, nullptr);
            bus.reset();
        }
        if (hello.error != nullptr) g_error_free(hello.error);
    }
    g_object_unref(cancel);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    return bus;
}

// The session bus, as OpenBus opens it; *giveUp tells whether there is none
// or it let the time run out.
BusConnection OpenSessionBus(int timeoutMs, std::string* error, bool* giveUp)
{
    // With neither an address nor a user bus, GLib would run dbus-launch
    // (and might start a new bus with it), where no desktop's daemon is.
    const char* env = g_getenv("DBUS_SESSION_BUS_ADDRESS");
    if (env == nullptr || *env == '\0') {
        gchar* userBus = g_build_filename(g_get_user_runtime_dir(), "bus", nullptr);
        const bool exists = g_file_test(userBus, G_FILE_TEST_EXISTS);
        g_free(userBus);
        if (!exists) {
            *error = "no session bus: DBUS_SESSION_BUS_ADDRESS is not set";
            *giveUp = true;
            return nullptr;
        }
    }
    GError* raw = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &raw);
    if (address == nullptr) {
        *error = std::string("no session bus: ") + (raw ? raw->message : "unknown");
        if (raw != nullptr) g_error_free(raw);
        return nullptr;
    }
    BusConnection bus = Connect(address, timeoutMs, error, giveUp);
    g_free(address);
    return bus;
}

// A session bus that let the look-ups' time run out, or that is not there, is
// given up for the rest of the process: its other clients (Qt's accessibility
// bridge, through libdbus) would each wait 25 s for their own Hello, or run
// dbus-launch, which starts a bus that outlives the program. An address of a
// kind that neither GDBus nor libdbus knows fails at once in both.
void GiveUpSessionBus() { setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1); }

}  // namespace

BusConnection OpenBus(const char* address, int timeoutMs, std::string* error)
{
    bool giveUp = false;
    return address != nullptr ? Connect(address, timeoutMs, error, &giveUp)
                              : OpenSessionBus(timeoutMs, error, &giveUp);
}

std::shared_ptr<void> ShareSessionBus()
{
    auto* share = new Share;
    share->outer = t_share;
    t_share = share;
    return std::shared_ptr<void>(share, [](void* p) {
        auto* s = static_cast<Share*>(p);
        t_share = s->outer;
        delete s;
    });
}

BusConnection SessionBus(std::string* error)
{
    Share* share = t_share;
    if (share != nullptr && share->tried) {
        *error = share->error;
        if (!share->bus) return nullptr;
        return BusConnection(static_cast<GDBusConnection*>(g_object_ref(share->bus.get())));
    }
    bool giveUp = false;
    BusConnection bus = OpenSessionBus(kLookupBusTimeoutMs, error, &giveUp);
    if (giveUp) GiveUpSessionBus();
    if (share != nullptr) {
        share->tried = true;
        share->error = *error;
        if (bus) share->bus.reset(static_cast<GDBusConnection*>(g_object_ref(bus.get())));
    }
    return bus;
}
