// fontconfig made ready before Qt starts: Qt builds its font database from
// every font fontconfig lists, so it is given the window's fonts only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <fontconfig/fontconfig.h>

// One font of the window: its families in order of preference.
using FontFamilies = std::vector<std::string>;

struct FontConfigDeleter {
    void operator()(FcConfig* c) const { FcConfigDestroy(c); }
};
using FontConfig = std::unique_ptr<FcConfig, FontConfigDeleter>;

// The window's fonts, from form_layout.h.
std::vector<FontFamilies> WindowFonts();

// A new configuration under the system's rules whose fonts are those of a
// family of one of fonts, and the files fontconfig picks for each name of
// matched out of every font; *narrowed then says so. When some font has
// none of its families installed, every font instead. Null when fontconfig
// cannot load its configuration.
FontConfig WindowFontConfig(const std::vector<FontFamilies>& fonts,
                            const std::vector<std::string>& matched, bool* narrowed);

// Makes fontconfig's current configuration the one it would load by itself,
// holding only the window's fonts where they are all installed, and the face
// of Qt's default family where Qt draws the window's title itself (on
// Wayland). A configuration the user names in FONTCONFIG_FILE is left for Qt
// to load as it is.
void UseWindowFontsOnly(bool qtDrawsTitle);
