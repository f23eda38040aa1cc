#include "qt_fonts.h"

#include <cstdlib>
#include <memory>
#include <set>
#include <utility>

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

// Whether config holds a font whose family (in any language) is family.
bool HasFamily(FcConfig* config, const std::string& family)
{
    const Pattern pattern(FcPatternCreate());
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    const std::unique_ptr<FcObjectSet, ObjectSetDeleter> objects(FcObjectSetBuild(FC_FILE, nullptr));
    const FontSet fonts(FcFontList(config, pattern.get(), objects.get()));
    return fonts && fonts->nfont > 0;
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

// Whether config holds a font of some family of each of fonts.
bool HoldsEach(FcConfig* config, const std::vector<FontFamilies>& fonts)
{
    for (const FontFamilies& families : fonts) {
        bool found = false;
        for (const std::string& family : families)
            found = found || HasFamily(config, family);
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

FontConfig WindowFontConfig(const std::vector<FontFamilies>& fonts,
                            const std::vector<std::string>& matched, bool* narrowed)
{
    *narrowed = false;
    // The face fontconfig picks for a name is known only from every font.
    std::set<std::string> files;
    FontConfig every;
    if (!matched.empty()) {
        every.reset(FcInitLoadConfigAndFonts());
        if (!every) return nullptr;
        for (const std::string& name : matched)
            if (std::string file = MatchedFile(every.get(), name); !file.empty())
                files.insert(std::move(file));
    }
    // fontconfig's own font selection, applied as it reads its caches: one
    // pass over every installed font. Files by name, not by <glob>:
    // fontconfig 2.15 and later take a glob as a path against the working
    // folder, and started from / Debian testing's accepted no font.
    std::string xml = "<?xml version=\"1.0\"?><fontconfig><selectfont><acceptfont>";
    for (const FontFamilies& families : fonts)
        for (const std::string& family : families)
            xml += "<pattern><patelt name=\"family\"><string>" + XmlEscaped(family) +
                   "</string></patelt></pattern>";
    for (const std::string& file : files)
        xml += "<pattern><patelt name=\"file\"><string>" + XmlEscaped(file) +
               "</string></patelt></pattern>";
    xml += "</acceptfont><rejectfont><pattern/></rejectfont></selectfont></fontconfig>";
    FontConfig config(FcInitLoadConfig());
    if (config &&
        FcConfigParseAndLoadFromMemory(config.get(), reinterpret_cast<const FcChar8*>(xml.c_str()),
                                       FcTrue) &&
        FcConfigBuildFonts(config.get()) && HoldsEach(config.get(), fonts)) {
        *narrowed = true;
        return config;
    }
    // A set that lost one of the window's fonts would have Qt draw its
    // characters as empty boxes: Qt gets every font instead.
    return every ? std::move(every) : FontConfig(FcInitLoadConfigAndFonts());
}

void UseWindowFontsOnly(bool qtDrawsTitle)
{
    const char* own = std::getenv("FONTCONFIG_FILE");
    if (own != nullptr && *own != '\0') return;
    bool narrowed = false;
    const FontConfig config = WindowFontConfig(
        WindowFonts(),
        qtDrawsTitle ? std::vector<std::string>{kQtDefaultFamily} : std::vector<std::string>{},
        &narrowed);
    // Narrowed or whole, it is the one Qt would have loaded: Qt's own start
    // of fontconfig then finds it ready. The library takes a reference.
    if (config) FcConfigSetCurrent(config.get());
}
