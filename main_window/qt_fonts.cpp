#include "qt_fonts.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <set>

#include "form_layout.h"

namespace {

struct PatternDeleter {
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
struct FontSetDeleter {
    void operator()(FcFontSet* s) const { FcFontSetDestroy(s); }
};
struct ObjectSetDeleter {
    void operator()(FcObjectSet* s) const { FcObjectSetDestroy(s); }
};
struct ConfigDeleter {
    void operator()(FcConfig* c) const { FcConfigDestroy(c); }
};
using Pattern = std::unique_ptr<FcPattern, PatternDeleter>;
using FontSet = std::unique_ptr<FcFontSet, FontSetDeleter>;

// Qt's own default family, which the title bar Qt draws on Wayland uses.
constexpr const char* kQtDefaultFamily = "Sans Serif";

std::string File(const FcPattern* font)
{
    FcChar8* file = nullptr;
    if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch) return {};
    return reinterpret_cast<const char*>(file);
}

// The files of config's fonts whose family (in any language) is family.
std::set<std::string> FilesOfFamily(FcConfig* config, const std::string& family)
{
    const Pattern pattern(FcPatternCreate());
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    const std::unique_ptr<FcObjectSet, ObjectSetDeleter> objects(FcObjectSetBuild(FC_FILE, nullptr));
    const FontSet fonts(FcFontList(config, pattern.get(), objects.get()));
    std::set<std::string> files;
    for (int i = 0; fonts && i < fonts->nfont; ++i)
        if (std::string file = File(fonts->fonts[i]); !file.empty()) files.insert(file);
    return files;
}

// The file of the font fontconfig picks for name, as Qt asks for a family
// its database does not hold.
std::string MatchedFile(FcConfig* config, const std::string& name)
{
    const Pattern pattern(FcPatternCreate());
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
    FcConfigSubstitute(config, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    const Pattern match(FcFontMatch(config, pattern.get(), &result));
    return match ? File(match.get()) : std::string();
}

std::string XmlEscaped(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// Whether config holds a file of some family of each of fonts.
bool HoldsEach(FcConfig* config, const std::vector<FontFamilies>& fonts)
{
    for (const FontFamilies& families : fonts) {
        bool found = false;
        for (const std::string& family : families)
            found = found || !FilesOfFamily(config, family).empty();
        if (!found) return false;
    }
    return true;
}

}  // namespace

std::vector<FontFamilies> WindowFonts()
{
    std::vector<FontFamilies> fonts;
    for (const form::Font* font : {&form::kWindowFont, &form::kButtonFont, &form::kListFont}) {
        FontFamilies families;
        for (const char* family : font->families)
            if (family != nullptr) families.emplace_back(family);
        fonts.push_back(std::move(families));
    }
    return fonts;
}

bool KeepOnlyFontsOf(FcConfig* config, const std::vector<FontFamilies>& fonts,
                     const std::vector<std::string>& matched)
{
    // Listing goes through every installed font: once for each family.
    std::map<std::string, std::set<std::string>> filesOf;
    std::set<std::string> keep;
    for (const FontFamilies& families : fonts) {
        bool found = false;
        for (const std::string& family : families) {
            auto known = filesOf.find(family);
            if (known == filesOf.end())
                known = filesOf.emplace(family, FilesOfFamily(config, family)).first;
            found = found || !known->second.empty();
            keep.insert(known->second.begin(), known->second.end());
        }
        if (!found) return false;
    }
    for (const std::string& name : matched)
        if (std::string file = MatchedFile(config, name); !file.empty()) keep.insert(file);

    // fontconfig's own font selection, by each font's file name. Not by
    // <glob>: fontconfig 2.15 and later take a glob as a path against the
    // working folder, and started from / Debian testing's accepted no font.
    std::string xml = "<?xml version=\"1.0\"?><fontconfig><selectfont><acceptfont>";
    for (const std::string& file : keep)
        xml += "<pattern><patelt name=\"file\"><string>" + XmlEscaped(file) +
               "</string></patelt></pattern>";
    xml += "</acceptfont><rejectfont><pattern/></rejectfont></selectfont></fontconfig>";
    return FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8*>(xml.c_str()),
                                          FcTrue) &&
           FcConfigBuildFonts(config);
}

void UseWindowFontsOnly(bool qtDrawsTitle)
{
    const char* own = std::getenv("FONTCONFIG_FILE");
    if (own != nullptr && *own != '\0') return;
    std::unique_ptr<FcConfig, ConfigDeleter> config(FcInitLoadConfigAndFonts());
    if (!config) return;
    // Matching a family against every font takes a few milliseconds: only
    // where the face is drawn.
    const std::vector<FontFamilies> fonts = WindowFonts();
    const bool narrowed = KeepOnlyFontsOf(config.get(), fonts,
                                          qtDrawsTitle ? std::vector<std::string>{kQtDefaultFamily}
                                                       : std::vector<std::string>{});
    // A set that lost the window's fonts would have Qt draw every character
    // as an empty box: Qt gets every font instead.
    if (narrowed && !HoldsEach(config.get(), fonts)) {
        config.reset(FcInitLoadConfigAndFonts());
        if (!config) return;
    }
    // Kept whole or narrowed, it is the one Qt would have loaded: Qt's own
    // start of fontconfig then finds it ready. The library holds a reference.
    FcConfigSetCurrent(config.get());
}
