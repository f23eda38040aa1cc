// GIO handles for the tests' own D-Bus calls.
#pragma once

#include <memory>
#include <string>

#include <gio/gio.h>

namespace gio_bus {

struct Unref {
    void operator()(void* p) const { g_object_unref(p); }
};
struct VariantUnref {
    void operator()(GVariant* v) const { g_variant_unref(v); }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;

// A private, synchronous connection to the bus at address; null when none answers.
inline std::unique_ptr<GDBusConnection, Unref> Connect(const std::string& address)
{
    return std::unique_ptr<GDBusConnection, Unref>(g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr));
}

}  // namespace gio_bus
