// Where the RandR layer keeps a mode it switched to: the login entry, or the
// display store of the desktop whose daemon re-applies it (Xfce, MATE).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A mode in an output's list, as RandR describes it.
struct X11ModeTiming {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t dotClock = 0;
    uint16_t hTotal = 0;
    uint16_t vTotal = 0;
};

// One output of the screen as RandR shows it after a switch.
struct X11OutputState {
    std::string name;
    bool connected = false;
    bool on = false;  // drives a CRTC that has a mode
    int32_t x = 0;
    int32_t y = 0;
    uint32_t width = 0;  // the mode's, before rotation
    uint32_t height = 0;
    uint32_t dotClock = 0;
    uint16_t hTotal = 0;
    uint16_t vTotal = 0;
    uint16_t rotation = 1;  // RandR's rotation and reflection bits
    bool primary = false;
    // The output properties EDID and, as older drivers name it, EDID_DATA, each
    // where it holds 8-bit INTEGER items (up to 1024 bytes); else empty.
    std::vector<uint8_t> edid;
    std::vector<uint8_t> edidData;
    std::vector<X11ModeTiming> modes;  // the output's modes, in RandR's order
    int mode = -1;                     // the index in modes of the one it shows, or -1

    // The rate as the desktops' daemons compute it, without scan flags.
    double RefreshHz() const
    {
        return hTotal && vTotal ? double(dotClock) / (double(hTotal) * double(vTotal)) : 0;
    }
};

struct X11Layout {
    std::vector<X11OutputState> outputs;
    std::string chosen;                     // the output that was switched
    std::vector<std::string> loginCommand;  // xrandr's arguments that re-apply its mode

    const X11OutputState* Chosen() const
    {
        for (const X11OutputState& o : outputs)
            if (o.name == chosen) return &o;
        return nullptr;
    }
};

class X11ModeStore {
public:
    virtual ~X11ModeStore() = default;
    // Keeps the chosen output's mode where it comes back at the next login;
    // false with *error saying why when it could not.
    virtual bool Save(const X11Layout& layout, std::string* error) = 0;
};

// The login entry of x11_autostart.h, for X11 sessions without a desktop store.
std::unique_ptr<X11ModeStore> LoginEntryStore();
