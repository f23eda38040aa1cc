#include "x11_mate_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <glib.h>

#include <sys/stat.h>
#include <unistd.h>

#include "xdg_paths.h"

namespace {

// An element of the file, or (raw) a comment or processing instruction kept
// as it was read.
struct Node {
    bool raw = false;
    std::string name;  // the raw text for a raw node
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text;
    std::vector<std::unique_ptr<Node>> children;

    Node* Child(const std::string& n) const
    {
        for (const auto& c : children)
            if (!c->raw && c->name == n) return c.get();
        return nullptr;
    }
    const std::string* Attribute(const std::string& n) const
    {
        for (const auto& [k, v] : attributes)
            if (k == n) return &v;
        return nullptr;
    }
    Node* Add(const std::string& n, const std::string& t = {})
    {
        auto node = std::make_unique<Node>();
        node->name = n;
        node->text = t;
        children.push_back(std::move(node));
        return children.back().get();
    }
    // Sets the text of child n, adding it where missing.
    void Set(const std::string& n, const std::string& t)
    {
        Node* c = Child(n);
        (c ? c : Add(n))->text = t;
    }
};

struct ParseState {
    Node document;  // its children: the top-level nodes
    std::vector<Node*> open{&document};
};

const GMarkupParser kParser = {
    [](GMarkupParseContext*, const gchar* name, const gchar** names, const gchar** values,
       gpointer data, GError**) {
        auto* s = static_cast<ParseState*>(data);
        Node* node = s->open.back()->Add(name);
        for (int i = 0; names[i] != nullptr; ++i) node->attributes.emplace_back(names[i], values[i]);
        s->open.push_back(node);
    },
    [](GMarkupParseContext*, const gchar*, gpointer data, GError**) {
        static_cast<ParseState*>(data)->open.pop_back();
    },
    [](GMarkupParseContext*, const gchar* text, gsize length, gpointer data, GError**) {
        static_cast<ParseState*>(data)->open.back()->text.append(text, length);
    },
    [](GMarkupParseContext*, const gchar* text, gsize length, gpointer data, GError**) {
        auto node = std::make_unique<Node>();
        node->raw = true;
        node->name.assign(text, length);
        static_cast<ParseState*>(data)->open.back()->children.push_back(std::move(node));
    },
    nullptr,
};

bool IsBlank(const std::string& s)
{
    return s.find_first_not_of(" \t\r\n") == std::string::npos;
}

std::string Escape(const std::string& s)
{
    gchar* e = g_markup_escape_text(s.c_str(), static_cast<gssize>(s.size()));
    std::string out = e;
    g_free(e);
    return out;
}

void Write(const Node& node, int depth, std::string* out)
{
    const std::string indent(static_cast<size_t>(depth) * 2, ' ');
    if (node.raw) {
        *out += indent + node.name + "\n";
        return;
    }
    *out += indent + "<" + node.name;
    for (const auto& [k, v] : node.attributes) *out += " " + k + "=\"" + Escape(v) + "\"";
    if (node.children.empty()) {
        // Layout of the file, not a value: an element holding only line breaks is empty.
        const bool empty = node.text.empty() ||
                           (IsBlank(node.text) && node.text.find('\n') != std::string::npos);
        *out += empty ? "/>\n" : ">" + Escape(node.text) + "</" + node.name + ">\n";
        return;
    }
    *out += ">\n";
    if (!IsBlank(node.text)) *out += indent + "  " + Escape(node.text) + "\n";
    for (const auto& c : node.children) Write(*c, depth + 1, out);
    *out += indent + "</" + node.name + ">\n";
}

// An output as MATE tells monitors apart: by name, and by the maker, product
// and serial of its EDID ("???", 0, 0 without one); disconnected, by name.
struct Identity {
    std::string name;
    bool connected = false;
    std::string vendor;
    long product = 0;
    unsigned long serial = 0;
    bool operator==(const Identity&) const = default;
};

// The EDID as mate-settings-daemon reads it: EDID, or EDID_DATA where that
// is missing or empty; only its first 400 bytes, and none unless they are
// whole 128-byte blocks.
std::vector<uint8_t> MateEdid(const X11OutputState& o)
{
    constexpr size_t kLimit = 400;
    const std::vector<uint8_t>& e = o.edid.empty() ? o.edidData : o.edid;
    const size_t n = std::min(e.size(), kLimit);
    if (n == 0 || n % 128 != 0) return {};
    return {e.begin(), e.begin() + static_cast<std::ptrdiff_t>(n)};
}

Identity IdentityOf(const X11OutputState& o)
{
    Identity id{o.name, o.connected, "", 0, 0};
    if (!o.connected) return id;
    static constexpr uint8_t kHeader[] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
    const std::vector<uint8_t> e = MateEdid(o);
    if (e.size() < 128 || std::memcmp(e.data(), kHeader, sizeof kHeader) != 0) {
        id.vendor = "???";
        return id;
    }
    const auto letter = [](unsigned v) { return static_cast<char>('A' + v - 1); };
    id.vendor = {letter((e[8] >> 2) & 0x1F), letter(((e[8] & 0x3) << 3) | (e[9] >> 5)),
                 letter(e[9] & 0x1F)};
    id.product = e[10] | (e[11] << 8);
    id.serial = e[12] | (e[13] << 8) | (e[14] << 16) | (static_cast<unsigned long>(e[15]) << 24);
    return id;
}

Identity IdentityOf(const Node& output)
{
    Identity id;
    if (const std::string* name = output.Attribute("name")) id.name = *name;
    // MATE counts an output as connected when any of the three has a value.
    for (const char* key : {"vendor", "product", "serial"}) {
        const Node* c = output.Child(key);
        if (c == nullptr || c->text.empty()) continue;
        id.connected = true;
        if (std::strcmp(key, "vendor") == 0) id.vendor = c->text.substr(0, 3);
        else if (std::strcmp(key, "product") == 0) id.product = std::strtol(c->text.c_str(), nullptr, 0);
        else id.serial = std::strtoul(c->text.c_str(), nullptr, 0);
    }
    return id;
}

// True when MATE would apply configuration to outputs: every output it names
// is one of them, the same monitor in the same state of connection.
bool Matches(const Node& configuration, const std::vector<X11OutputState>& outputs)
{
    for (const auto& c : configuration.children) {
        if (c->raw || c->name != "output") continue;
        const Identity stored = IdentityOf(*c);
        bool found = false;
        for (const X11OutputState& o : outputs)
            if (o.name == stored.name) found = IdentityOf(o) == stored;
        if (!found) return false;
    }
    return true;
}

const char* RotationName(uint16_t rotation)
{
    switch (rotation & 0x0F) {
    case 2: return "left";
    case 4: return "upside_down";
    case 8: return "right";
    default: return "normal";
    }
}

const char* YesNo(bool b) { return b ? "yes" : "no"; }

// Fills output with what MATE keeps of o; with onlyMissing, only the fields
// the element lacks, and the mode itself always.
void Describe(Node* output, const X11OutputState& o, bool onlyMissing)
{
    const auto put = [&](const char* key, const std::string& value) {
        if (!onlyMissing || output->Child(key) == nullptr) output->Set(key, value);
    };
    const Identity id = IdentityOf(o);
    if (!o.connected) return;
    char product[16], serial[16];
    std::snprintf(product, sizeof product, "0x%04lx", id.product);
    std::snprintf(serial, sizeof serial, "0x%08lx", id.serial);
    put("vendor", id.vendor);
    put("product", product);
    put("serial", serial);
    if (!o.on) return;
    output->Set("width", std::to_string(o.width));
    output->Set("height", std::to_string(o.height));
    output->Set("rate", std::to_string(MateRate(o)));
    put("x", std::to_string(o.x));
    put("y", std::to_string(o.y));
    put("rotation", RotationName(o.rotation));
    put("reflect_x", YesNo(o.rotation & 0x10));
    put("reflect_y", YesNo(o.rotation & 0x20));
    put("primary", YesNo(o.primary));
}

bool ReadWhole(const std::string& path, std::string* content, std::string* error)
{
    gchar* data = nullptr;
    gsize length = 0;
    GError* e = nullptr;
    if (g_file_get_contents(path.c_str(), &data, &length, &e)) {
        content->assign(data, length);
        g_free(data);
        return true;
    }
    const bool missing = g_error_matches(e, G_FILE_ERROR, G_FILE_ERROR_NOENT);
    if (!missing) *error = e->message;
    g_error_free(e);
    content->clear();
    return missing;
}

// MATE's display settings keep the one before an unconfirmed change here;
// mate-settings-daemon puts it back in place of the file at its start.
constexpr const char* kMateBackupFile = "monitors.xml.backup";

class MonitorsXml final : public X11ModeStore {
public:
    bool Save(const X11Layout& layout, std::string* error) override
    {
        const std::string dir = ConfigHome();
        std::string existing;
        if (dir.empty() || !ReadWhole(dir + "/" + kMateMonitorsFile, &existing, error))
            return false;
        const std::optional<std::string> content = MateMonitorsXml(existing, layout, error);
        // A file MATE's daemon could not use (GNOME's version 2 has the same
        // name) stays as it is; the login entry brings the mode back instead.
        if (!content) return LoginEntryStore()->Save(layout, error);
        if (!ReplaceFile(dir, kMateMonitorsFile, *content, error, FileMode::KeepExisting))
            return false;
        if (!SaveInBackup(dir, layout, error)) return false;
        // The daemon brings back the first mode of that size and whole-hertz
        // rate; the login entry, run after it, sets the chosen one where that
        // is another. Otherwise an older entry of ours would set its mode over it.
        if (!MateNamesMode(layout)) return LoginEntryStore()->Save(layout, error);
        RemoveLoginEntry();
        return true;
    }

private:
    // A backup the daemon would restore at start takes the mode too; one it
    // cannot read, which it would delete instead of applying the file, goes.
    static bool SaveInBackup(const std::string& dir, const X11Layout& layout, std::string* error)
    {
        const std::string path = dir + "/" + kMateBackupFile;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return true;
        std::string backup, why;
        const std::optional<std::string> content =
            ReadWhole(path, &backup, &why) && !IsBlank(backup)
                ? MateMonitorsXml(backup, layout, &why)
                : std::nullopt;
        if (content)
            return ReplaceFile(dir, kMateBackupFile, *content, error, FileMode::KeepExisting);
        if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
        *error = path + ": " + std::strerror(errno);
        return false;
    }
};

}  // namespace

int MateRate(const X11ModeTiming& mode)
{
    // As MATE computes it, step by step: thousandths of a hertz, rounded to
    // the nearest hertz; MATE applies a stored rate only where it equals this.
    if (mode.hTotal == 0 || mode.vTotal == 0) return 0;
    const double hz = double(mode.dotClock) / mode.hTotal / mode.vTotal;
    const int milli = static_cast<int>((hz + 0.5) * 1000);
    return milli / 1000;
}

int MateRate(const X11OutputState& output)
{
    return MateRate({output.width, output.height, output.dotClock, output.hTotal, output.vTotal});
}

bool MateNamesMode(const X11Layout& layout)
{
    const X11OutputState* o = layout.Chosen();
    if (o == nullptr || o->mode < 0 || static_cast<size_t>(o->mode) >= o->modes.size()) return true;
    const X11ModeTiming& chosen = o->modes[static_cast<size_t>(o->mode)];
    // MATE takes the first mode of the stored size and rate.
    for (int i = 0; i < o->mode; ++i) {
        const X11ModeTiming& m = o->modes[static_cast<size_t>(i)];
        if (m.width == chosen.width && m.height == chosen.height && MateRate(m) == MateRate(chosen))
            return false;
    }
    return true;
}

std::optional<std::string> MateMonitorsXml(const std::string& existing, const X11Layout& layout,
                                           std::string* error)
{
    const X11OutputState* chosen = layout.Chosen();
    if (chosen == nullptr || !chosen->on) {
        *error = "the switched output is not on the screen";
        return std::nullopt;
    }
    ParseState s;
    Node* monitors = nullptr;
    if (IsBlank(existing)) {
        monitors = s.document.Add("monitors");
        monitors->attributes.emplace_back("version", "1");
    } else {
        GMarkupParseContext* context = g_markup_parse_context_new(&kParser, G_MARKUP_TREAT_CDATA_AS_TEXT, &s, nullptr);
        GError* e = nullptr;
        const bool parsed = g_markup_parse_context_parse(context, existing.data(),
                                                         static_cast<gssize>(existing.size()), &e) &&
                            g_markup_parse_context_end_parse(context, &e);
        g_markup_parse_context_free(context);
        if (!parsed) {
            *error = std::string(kMateMonitorsFile) + ": " + (e ? e->message : "does not parse");
            if (e != nullptr) g_error_free(e);
            return std::nullopt;
        }
        for (const auto& n : s.document.children) {
            if (n->raw) continue;
            const std::string* version = n->Attribute("version");
            if (monitors != nullptr || n->name != "monitors" || version == nullptr ||
                *version != "1") {
                *error = std::string(kMateMonitorsFile) +
                         " is not MATE's version-1 file (GNOME's version 2 has the same name)";
                return std::nullopt;
            }
            monitors = n.get();
        }
        if (monitors == nullptr) {
            *error = std::string(kMateMonitorsFile) + " holds no monitors element";
            return std::nullopt;
        }
    }

    Node* configuration = nullptr;
    for (const auto& c : monitors->children)
        if (!c->raw && c->name == "configuration" && Matches(*c, layout.outputs)) {
            configuration = c.get();
            break;
        }
    if (configuration == nullptr) {
        configuration = monitors->Add("configuration");
        configuration->Add("clone", "no");
        for (const X11OutputState& o : layout.outputs) {
            Node* output = configuration->Add("output");
            output->attributes.emplace_back("name", o.name);
            Describe(output, o, false);
        }
    } else {
        Node* output = nullptr;
        for (const auto& c : configuration->children)
            if (!c->raw && c->name == "output" && c->Attribute("name") &&
                *c->Attribute("name") == chosen->name)
                output = c.get();
        if (output == nullptr) {
            output = configuration->Add("output");
            output->attributes.emplace_back("name", chosen->name);
        }
        Describe(output, *chosen, true);
    }

    std::string out;
    for (const auto& n : s.document.children) Write(*n, 0, &out);
    return out;
}

std::unique_ptr<X11ModeStore> MateStore() { return std::make_unique<MonitorsXml>(); }
