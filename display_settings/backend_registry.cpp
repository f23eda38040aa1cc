#include "backend_registry.h"

ChosenBackend ChooseBackend(std::span<const DisplayBackend> backends, const char* choice)
{
    ChosenBackend chosen;
    const std::shared_ptr<void> shared = ShareLookups();
    const std::string wanted = choice != nullptr ? choice : "";
    std::string reasons;
    bool known = wanted.empty();
    for (const DisplayBackend& backend : backends) {
        if (!wanted.empty() && wanted != backend.name) continue;
        known = true;
        std::string why;
        if (auto settings = backend.open(!wanted.empty(), &why)) {
            chosen.settings = std::move(settings);
            chosen.name = backend.name;
            if (!why.empty()) chosen.diagnostic = backend.name + (": " + why);
            return chosen;
        }
        reasons += (reasons.empty() ? "" : "; ") + (backend.name + (": " + why));
    }
    chosen.settings = std::make_unique<NoDisplaySettings>();
    if (!known) {
        std::string names;
        for (const DisplayBackend& backend : backends)
            names += (names.empty() ? "" : ", ") + std::string(backend.name);
        chosen.diagnostic = "TAVRIMO_DISPLAY_BACKEND=" + wanted +
                            " names no display backend of this build (it has: " + names + ")";
    } else {
        chosen.diagnostic = "this session offers no way to set display modes (" + reasons + ")";
    }
    return chosen;
}
