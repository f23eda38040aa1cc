// Display modes of KDE Plasma's primary output, read and set through KWin's
// kde_output_device_v2 and kde_output_management_v2 Wayland protocols.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "display_settings.h"

class KdeDisplaySettings final : public DisplaySettings {
public:
    // Connects to socket (null: $WAYLAND_DISPLAY) and reads the outputs once.
    // A layer that cannot read them enumerates nothing and applies nothing;
    // Error() then says why.
    explicit KdeDisplaySettings(const char* socket = nullptr);
    ~KdeDisplaySettings() override;
    KdeDisplaySettings(const KdeDisplaySettings&) = delete;
    KdeDisplaySettings& operator=(const KdeDisplaySettings&) = delete;

    const std::string& Error() const { return error_; }
    const std::string& OutputName() const { return outputName_; }

    int32_t EnumDisplaySettingsA(const char* deviceName, int32_t modeNum,
                                 DspMode* devMode) override;
    int32_t ChangeDisplaySettingsA(const DspMode* devMode, int32_t flags) override;

private:
    struct Session;

    std::unique_ptr<Session> session_;
    std::string outputName_;
    // What a record stands for: the serial this layer gave the mode object
    // when the compositor announced it, which stays that object's own for the
    // connection's life, and the size and rate (millihertz) it had then.
    struct Listed {
        uint64_t serial = 0;
        int32_t width = 0;
        int32_t height = 0;
        int32_t refresh = 0;
    };
    // Each record's mode key is 1 + its position here.
    std::vector<Listed> listed_;
    std::vector<DspMode> modes_;
    std::string error_;
};
