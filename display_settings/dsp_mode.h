// One display mode as the platform describes it, laid out byte for byte like
// the head of DEVMODEA (up to and including dmDisplayFrequency).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

struct DspMode {
    char dmDeviceName[32];
    int16_t dmSpecVersion;
    int16_t dmDriverVersion;
    int16_t dmSize;
    int16_t dmDriverExtra;
    int32_t dmFields;
    int16_t dmOrientation;
    int16_t dmPaperSize;
    int16_t dmPaperLength;
    int16_t dmPaperWidth;
    int16_t dmScale;
    int16_t dmCopies;
    int16_t dmDefaultSource;
    int16_t dmPrintQuality;
    int16_t dmColor;
    int16_t dmDuplex;
    int16_t dmYResolution;
    int16_t dmTTOption;
    int16_t dmCollate;
    char dmFormName[32];
    int16_t dmLogPixels;
    // Low half of the platform's 32-bit member; the high half is the padding
    // that follows, carried unchanged by whole-record copies.
    int16_t dmBitsPerPel;
    int32_t dmPelsWidth;
    int32_t dmPelsHeight;
    int32_t dmDisplayFlags;
    int32_t dmDisplayFrequency;
};

static_assert(std::is_standard_layout_v<DspMode>);
static_assert(std::is_trivially_copyable_v<DspMode>);
static_assert(sizeof(DspMode) == 124);
static_assert(offsetof(DspMode, dmSpecVersion) == 32);
static_assert(offsetof(DspMode, dmSize) == 36);
static_assert(offsetof(DspMode, dmDriverExtra) == 38);
static_assert(offsetof(DspMode, dmFields) == 40);
static_assert(offsetof(DspMode, dmOrientation) == 44);
static_assert(offsetof(DspMode, dmCollate) == 68);
static_assert(offsetof(DspMode, dmFormName) == 70);
static_assert(offsetof(DspMode, dmLogPixels) == 102);
static_assert(offsetof(DspMode, dmBitsPerPel) == 104);
static_assert(offsetof(DspMode, dmPelsWidth) == 108);
static_assert(offsetof(DspMode, dmPelsHeight) == 112);
static_assert(offsetof(DspMode, dmDisplayFlags) == 116);
static_assert(offsetof(DspMode, dmDisplayFrequency) == 120);

// Values of the platform's contract. They carry their own names so that this
// header can sit beside the platform's, whose names for them are macros.
namespace dsp {

inline constexpr int32_t kEnumOk = 1;               // EnumDisplaySettingsA: mode exists
inline constexpr int32_t kUpdateRegistry = 1;       // CDS_UPDATEREGISTRY
inline constexpr int16_t kSpecVersion = 0x0401;     // DM_SPECVERSION

inline constexpr int32_t kDispChangeSuccessful = 0;
inline constexpr int32_t kDispChangeRestart = 1;
inline constexpr int32_t kDispChangeFailed = -1;
inline constexpr int32_t kDispChangeBadMode = -2;
inline constexpr int32_t kDispChangeNotUpdated = -3;
inline constexpr int32_t kDispChangeBadFlags = -4;
inline constexpr int32_t kDispChangeBadParam = -5;

inline constexpr int32_t kFieldBitsPerPel = 0x00040000;
inline constexpr int32_t kFieldPelsWidth = 0x00080000;
inline constexpr int32_t kFieldPelsHeight = 0x00100000;
inline constexpr int32_t kFieldDisplayFlags = 0x00200000;
inline constexpr int32_t kFieldDisplayFrequency = 0x00400000;

inline constexpr int32_t kDisplayInterlaced = 0x00000002;  // DM_INTERLACED

// A layer's own key for a mode, kept in the first four bytes of dmFormName,
// which a display mode leaves unused: the record then names exactly its mode
// when it comes back to be applied, whatever other mode shares its size.
inline void StoreModeKey(DspMode* m, uint32_t key) { std::memcpy(m->dmFormName, &key, sizeof key); }
inline uint32_t LoadModeKey(const DspMode& m)
{
    uint32_t key = 0;
    std::memcpy(&key, m.dmFormName, sizeof key);
    return key;
}

}  // namespace dsp
