// What both windows share, written once: the place of every control in
// pixels at 96 dots per inch, the colours, captions, accessible texts and
// fonts. Texts are UTF-8.
#pragma once

#include <cstdint>

namespace form {

struct Box {
    int left, top, width, height;
};

struct Rgb {
    uint8_t red, green, blue;
};

struct Font {
    // Families in order of preference; the first is the one the platform
    // names, the rest stand in where it is missing (all cover Big5).
    const char* families[3];
    int hundredthsOfPoint;
};

inline constexpr int kClientWidth = 420;
inline constexpr int kClientHeight = 241;

inline constexpr Box kDspList{168, 4, 249, 196};
inline constexpr Box kSetDSP{336, 212, 81, 25};
// Lab, index 0 the dark copy, index 1 the light one drawn over it.
inline constexpr Box kLab[2] = {{8, 216, 281, 17}, {9, 217, 281, 17}};
inline constexpr Box kWrkLogo{0, 0, 164, 205};
inline constexpr int kLine1Top = 205;  // dark
inline constexpr int kLine2Top = 206;  // light

inline constexpr Rgb kBackground{3, 0, 67};

inline constexpr const char* kCaption = "Tavrimo";  // the window's and both labels'
inline constexpr const char* kButtonCaption = "確定 (&O)";
inline constexpr const char* kListName = "顯示模式清單";
inline constexpr const char* kListDescription =
    "目前顯示器的所有模式，每行一種：寬度、高度與色彩深度";
inline constexpr const char* kButtonName = "確定";
inline constexpr const char* kButtonDescription = "切換至選定的顯示模式，並於下次登入時沿用";

inline constexpr Font kWindowFont{{"新細明體", "PMingLiU", "AR PL UMing TW"}, 1125};
inline constexpr Font kButtonFont{{"新細明體", "PMingLiU", "AR PL UMing TW"}, 900};
// The list's columns line up only where a CJK character takes two columns.
inline constexpr Font kListFont{{"Fixedsys", "Unifont", nullptr}, 1200};

}  // namespace form
