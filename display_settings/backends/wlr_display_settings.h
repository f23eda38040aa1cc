// Display modes of the output a wlroots compositor opens a window on (on
// sway the focused one, elsewhere the first enabled one), read and set
// through the zwlr_output_manager_v1 Wayland protocol; the chosen mode is
// kept in kanshi's profile, or on sway in a file of sway's own configuration.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "display_settings.h"

class WlrDisplaySettings final : public DisplaySettings {
public:
    // Connects to socket (null: $WAYLAND_DISPLAY) and reads the heads once.
    // A layer that cannot read them enumerates nothing and applies nothing;
    // Error() then says why. swaySocket (null: $SWAYSOCK) is where sway is
    // asked for its focused output and its configuration.
    explicit WlrDisplaySettings(const char* socket = nullptr, const char* swaySocket = nullptr);
    ~WlrDisplaySettings() override;
    WlrDisplaySettings(const WlrDisplaySettings&) = delete;
    WlrDisplaySettings& operator=(const WlrDisplaySettings&) = delete;

    const std::string& Error() const { return error_; }
    const std::string& OutputName() const { return outputName_; }

    int32_t EnumDisplaySettingsA(const char* deviceName, int32_t modeNum,
                                 DspMode* devMode) override;
    int32_t ChangeDisplaySettingsA(const DspMode* devMode, int32_t flags) override;

    // What a record stands for: the mode object the compositor announced as
    // serial (0: a head without mode objects, set by its size and rate).
    struct Choice {
        uint64_t serial = 0;
        int32_t width = 0;
        int32_t height = 0;
        int32_t refresh = 0;  // millihertz
    };

private:
    struct Session;
    int32_t Apply(const Choice& choice, Choice* shown);
    int32_t ReadBack(const Choice& choice, Choice* shown);
    int32_t Store(const Choice& choice) const;
    int32_t StoreInSway(const Choice& choice) const;

    std::unique_ptr<Session> session_;
    std::string swaySocket_;
    std::string outputName_;
    // Each record's mode key is 1 + its position here.
    std::vector<Choice> choices_;
    std::vector<DspMode> modes_;
    std::string error_;
};
