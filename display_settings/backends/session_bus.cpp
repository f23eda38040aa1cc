#include "session_bus.h"

BusConnection OpenBus(const char* address, int timeoutMs, std::string* error)
{
    // With neither an address nor a user bus, GLib would run dbus-launch
    // (and might start a new bus with it), where no desktop's daemon is.
    const char* env = g_getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address == nullptr && (env == nullptr || *env == '\0')) {
        gchar* userBus = g_build_filename(g_get_user_runtime_dir(), "bus", nullptr);
        const bool exists = g_file_test(userBus, G_FILE_TEST_EXISTS);
        g_free(userBus);
        if (!exists) {
            *error = "no session bus: DBUS_SESSION_BUS_ADDRESS is not set";
            return nullptr;
        }
    }
    GError* raw = nullptr;
    gchar* found = address != nullptr
                       ? g_strdup(address)
                       : g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &raw);
    if (found == nullptr) {
        *error = std::string("no session bus: ") + (raw ? raw->message : "unknown");
        if (raw != nullptr) g_error_free(raw);
        return nullptr;
    }
    // Made in a context of its own, so that a bus that never answers costs
    // timeoutMs and no more.
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    struct Pending {
        GDBusConnection* connection = nullptr;
        GError* error = nullptr;
        bool done = false;
    } pending;
    GCancellable* cancel = g_cancellable_new();
    g_dbus_connection_new_for_address(
        found,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, cancel,
        [](GObject*, GAsyncResult* result, gpointer data) {
            auto* p = static_cast<Pending*>(data);
            p->connection = g_dbus_connection_new_for_address_finish(result, &p->error);
            p->done = true;
        },
        &pending);
    GSource* timeout = g_timeout_source_new(static_cast<guint>(timeoutMs));
    g_source_set_callback(
        timeout,
        [](gpointer c) {
            g_cancellable_cancel(static_cast<GCancellable*>(c));
            return G_SOURCE_REMOVE;
        },
        cancel, nullptr);
    g_source_attach(timeout, context);
    while (!pending.done) g_main_context_iteration(context, TRUE);
    g_source_destroy(timeout);
    g_source_unref(timeout);
    g_object_unref(cancel);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    g_free(found);
    BusConnection bus(pending.connection);
    if (!bus) *error = std::string("cannot connect to the session bus: ") +
                       (pending.error ? pending.error->message : "unknown");
    if (pending.error != nullptr) g_error_free(pending.error);
    if (bus) g_dbus_connection_set_exit_on_close(bus.get(), FALSE);
    return bus;
}
