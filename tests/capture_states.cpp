// Writes the GetCurrentState reply, as GVariant's serialized bytes, of every
// kind of session that the installed Mutter offers and of muffin, into
// FOLDER: the fuzzer's seeds in tests/fuzz/corpus/mutter_state.
//   capture_states FOLDER
#include <cstdio>
#include <fstream>
#include <regex>
#include <string>

#include <gio/gio.h>

#include "compositor.h"
#include "desktop_daemons.h"
#include "gio_bus.h"
#include "mutter_display_settings.h"

namespace {

// The version a program prints with --version ("mutter 43.8": "43.8").
std::string MajorVersion(const char* program)
{
    const CommandResult r = RunCommand({program, "--version"});
    std::smatch m;
    return std::regex_search(r.out, m, std::regex(R"(\d+\.\d+)")) ? m[0].str() : "unknown";
}

bool Capture(const std::string& bus, const DisplayConfigService& service, const std::string& file)
{
    const auto c = gio_bus::Connect(bus);
    GError* e = nullptr;
    const gio_bus::Variant reply(
        c ? g_dbus_connection_call_sync(c.get(), service.busName, service.objectPath,
                                        service.busName, "GetCurrentState", nullptr, nullptr,
                                        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &e)
          : nullptr);
    if (!reply) {
        std::fprintf(stderr, "%s: %s\n", file.c_str(), e ? e->message : "no bus");
        if (e != nullptr) g_error_free(e);
        return false;
    }
    std::ofstream(file, std::ios::binary)
        .write(static_cast<const char*>(g_variant_get_data(reply.get())),
               static_cast<std::streamsize>(g_variant_get_size(reply.get())));
    std::printf("%s\n", file.c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: capture_states FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    bool ok = true;
    const std::string mutter = "mutter-" + MajorVersion("mutter");
    const struct {
        MutterSession::Kind kind;
        bool offered;
        const char* name;
    } kinds[] = {{MutterSession::Kind::Nested, InstalledMutter().nested, "nested"},
                 {MutterSession::Kind::X11, InstalledMutter().x11, "x11"},
                 {MutterSession::Kind::Headless, InstalledMutter().headless, "headless"}};
    for (const auto& k : kinds) {
        if (!k.offered) continue;
        XvncServer x;
        MutterSession session(x, k.kind,
                              k.kind == MutterSession::Kind::Headless ? kVirtualMonitors
                                                                      : kDummyModes);
        ok = session.Running() &&
             Capture(session.BusAddress(), kMutterService, folder + "/" + mutter + "-" + k.name) &&
             ok;
    }
    if (RunCommand({"sh", "-c", "command -v muffin"}).status == 0) {
        XvncServer x;
        MuffinSession muffin(x);
        ok = muffin.Running() &&
             Capture(muffin.BusAddress(), kMuffinService,
                     folder + "/muffin-" + MajorVersion("muffin") + "-x11") &&
             ok;
    }
    return ok ? 0 : 1;
}
