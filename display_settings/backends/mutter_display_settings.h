// Display modes of the primary monitor of a Mutter-based desktop, read and set
// through Mutter's DisplayConfig interface on the session bus: GNOME's Mutter,
// and Cinnamon's muffin, which serves the same interface under its own name.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "display_settings.h"

// Where a compositor serves the DisplayConfig interface, and what it is called.
struct DisplayConfigService {
    const char* backend;  // as TAVRIMO_DISPLAY_BACKEND names it
    const char* busName;  // also the interface's name
    const char* objectPath;
    const char* store;  // the file where the compositor keeps an applied layout
};

extern const DisplayConfigService kMutterService;  // GNOME: ~/.config/monitors.xml
extern const DisplayConfigService kMuffinService;  // Cinnamon: ~/.config/cinnamon-monitors.xml

class MutterDisplaySettings final : public DisplaySettings {
public:
    // Connects to the bus at busAddress (null: the session bus) and reads the
    // state of the compositor serving service once. A layer that cannot read
    // it enumerates nothing and applies nothing; Error() then says why.
    explicit MutterDisplaySettings(const char* busAddress = nullptr,
                                   const DisplayConfigService& service = kMutterService);
    ~MutterDisplaySettings() override;
    MutterDisplaySettings(const MutterDisplaySettings&) = delete;
    MutterDisplaySettings& operator=(const MutterDisplaySettings&) = delete;

    const std::string& Error() const { return error_; }
    const std::string& Connector() const { return connector_; }
    // Why the last switch failed, in Mutter's words where Mutter refused it.
    const std::string& ApplyError() const { return applyError_; }

    int32_t EnumDisplaySettingsA(const char* deviceName, int32_t modeNum,
                                 DspMode* devMode) override;
    int32_t ChangeDisplaySettingsA(const DspMode* devMode, int32_t flags) override;

private:
    struct Bus;
    int32_t Apply(const std::string& modeId, uint32_t method);

    std::unique_ptr<Bus> bus_;
    std::string connector_;
    // Each record's mode key is 1 + its position here: Mutter's mode id, the
    // one name that tells apart modes of equal size and rounded rate.
    std::vector<std::string> modeIds_;
    std::vector<DspMode> modes_;
    std::string error_;
    std::string applyError_;
};
