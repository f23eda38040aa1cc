// RandR in a session where mate-settings-daemon keeps the displays, with
// MATE's own store.
#include "backend_registry.h"
#include "x11_desktop_session.h"
#include "x11_display_settings.h"
#include "x11_mate_store.h"

namespace {

std::unique_ptr<DisplaySettings> OpenMate(bool forced, std::string* why)
{
    if (!forced && DetectX11Desktop(why) != X11Desktop::Mate) {
        if (why->empty()) *why = "mate-settings-daemon does not run on the session bus";
        return nullptr;
    }
    why->clear();
    return OpenRandR(MateStore(), why);
}

}  // namespace

extern const DisplayBackend kMateBackend;
const DisplayBackend kMateBackend{"mate", &OpenMate};
