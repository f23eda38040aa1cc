// fontconfig made ready before Qt starts: Qt builds its font database from
// every font fontconfig lists, so it is given the window's fonts only.
#pragma once

#include <string>
#include <vector>

#include <fontconfig/fontconfig.h>

// One font of the window: its families in order of preference.
using FontFamilies = std::vector<std::string>;

// The window's fonts, from form_layout.h.
std::vector<FontFamilies> WindowFonts();

// Leaves in config only the font files that hold a family of one of fonts,
// and the one fontconfig picks for each name of matched, under the rules
// config already has. When some font has none of its families installed,
// config keeps every font (so that font falls back as before) and the
// result is false.
bool KeepOnlyFontsOf(FcConfig* config, const std::vector<FontFamilies>& fonts,
                     const std::vector<std::string>& matched);

// Makes fontconfig's current configuration the one it would load by itself,
// holding only the window's fonts where they are all installed, and the face
// of Qt's default family where Qt draws the window's title itself (on
// Wayland). A configuration the user names in FONTCONFIG_FILE is left for Qt
// to load as it is.
void UseWindowFontsOnly(bool qtDrawsTitle);
