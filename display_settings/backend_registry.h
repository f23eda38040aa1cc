// The choice of display-settings layer, made once at start among the layers
// this build carries.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "display_settings.h"

struct DisplayBackend {
    const char* name;  // as TAVRIMO_DISPLAY_BACKEND names it
    // Opens the layer when this session offers what it needs; null otherwise,
    // with *why saying what is missing. forced: the user named this layer.
    std::unique_ptr<DisplaySettings> (*open)(bool forced, std::string* why);
};

// The open function of a layer T that reads its session when made and says in
// Error() what it found missing: T where it could read it, or where named.
template <class T>
std::unique_ptr<DisplaySettings> OpenLayer(bool forced, std::string* why)
{
    auto settings = std::make_unique<T>();
    *why = settings->Error();
    if (!forced && !why->empty()) return nullptr;
    return settings;
}

// The layers this build carries, most specific first.
std::span<const DisplayBackend> CompiledBackends();

// What the layers' look-ups share while ChooseBackend holds it: the session
// bus, which they then open once between them.
std::shared_ptr<void> ShareLookups();

struct ChosenBackend {
    std::unique_ptr<DisplaySettings> settings;  // never null
    std::string name;                           // empty when none could be used
    std::string diagnostic;                     // one line for stderr, or empty
};

// The first of backends that opens, or the one named by choice (the value of
// TAVRIMO_DISPLAY_BACKEND; null or empty for the automatic choice). Without a
// usable layer the settings enumerate nothing and apply nothing.
ChosenBackend ChooseBackend(std::span<const DisplayBackend> backends, const char* choice);

// A layer that offers no modes, for sessions where none can be set.
class NoDisplaySettings final : public DisplaySettings {
public:
    int32_t EnumDisplaySettingsA(const char*, int32_t, DspMode*) override { return 0; }
    int32_t ChangeDisplaySettingsA(const DspMode*, int32_t) override
    {
        return dsp::kDispChangeFailed;
    }
};
