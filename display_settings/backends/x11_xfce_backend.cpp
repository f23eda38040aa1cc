// RandR in a session where xfsettingsd keeps the displays, with Xfce's own
// store reached over the session bus.
#include "backend_registry.h"
#include "session_bus.h"
#include "x11_desktop_session.h"
#include "x11_display_settings.h"
#include "x11_xfce_store.h"

namespace {

constexpr int kBusTimeoutMs = 5000;

std::unique_ptr<DisplaySettings> OpenXfce(bool forced, std::string* why)
{
    if (!forced && DetectX11Desktop(why) != X11Desktop::Xfce) {
        if (why->empty()) *why = "xfsettingsd does not run on the session bus";
        return nullptr;
    }
    why->clear();
    return OpenRandR(XfceStore([](std::string* error) {
                         return OpenBus(nullptr, kBusTimeoutMs, error).release();
                     }),
                     why);
}

}  // namespace

extern const DisplayBackend kXfceBackend;
const DisplayBackend kXfceBackend{"xfce", &OpenXfce};
