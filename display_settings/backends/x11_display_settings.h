// Display modes of the current X output, read and set through RandR.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "display_settings.h"
#include "x11_mode_store.h"

struct xcb_connection_t;
struct xcb_screen_t;

class X11DisplaySettings final : public DisplaySettings {
public:
    // Connects to displayName (null: $DISPLAY) and reads the current output's
    // modes once. A layer that finds no usable output enumerates nothing and
    // applies nothing; Error() then says why. A persistent switch is kept in
    // store (null: the login entry).
    explicit X11DisplaySettings(const char* displayName = nullptr,
                                std::unique_ptr<X11ModeStore> store = nullptr);
    ~X11DisplaySettings() override;
    X11DisplaySettings(const X11DisplaySettings&) = delete;
    X11DisplaySettings& operator=(const X11DisplaySettings&) = delete;

    const std::string& Error() const { return error_; }
    const std::string& OutputName() const { return outputName_; }
    // True on Xwayland, where the layer offers no modes and applies nothing.
    bool OnXwayland() const { return xwayland_; }

    int32_t EnumDisplaySettingsA(const char* deviceName, int32_t modeNum,
                                 DspMode* devMode) override;
    int32_t ChangeDisplaySettingsA(const DspMode* devMode, int32_t flags) override;

private:
    struct ConnectionCloser {
        void operator()(xcb_connection_t* c) const;
    };

    bool Load();
    int32_t Switch(uint32_t modeId, std::vector<std::string>* loginCommand);
    // Every output of the screen as it is now.
    std::vector<X11OutputState> ReadOutputs();

    std::unique_ptr<xcb_connection_t, ConnectionCloser> conn_;
    std::unique_ptr<X11ModeStore> store_;
    const xcb_screen_t* screen_ = nullptr;  // owned by the connection
    uint32_t output_ = 0;
    std::string outputName_;
    std::vector<DspMode> modes_;
    std::string error_;
    bool xwayland_ = false;
};

// The layer on $DISPLAY keeping persistent switches in store (null: the login
// entry); null with *why where $DISPLAY is unset or the server is Xwayland.
std::unique_ptr<DisplaySettings> OpenRandR(std::unique_ptr<X11ModeStore> store, std::string* why);
