#include "wlr_kanshi_config.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include <dirent.h>
#include <fnmatch.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <wordexp.h>

#include "unix_socket.h"
#include "wlr_command_line.h"
#include "xdg_paths.h"

namespace {

constexpr int kReloadTimeoutMs = 2000;
constexpr int kMaxIncludeDepth = 16;

// A word of the configuration: its value with quotes and escapes taken off,
// and where it lies in its file's text.
struct Word {
    std::string text;
    size_t begin = 0;
    size_t end = 0;
};

// One line of the configuration, with the block that follows it, if any.
struct Directive {
    std::vector<Word> words;
    bool block = false;
    std::vector<Directive> children;
    size_t close = 0;  // where its block's } is
};

// Reads kanshi's grammar: both the one of kanshi 1.3 (its own reader) and
// the scfg files of kanshi 1.4 and later. Words are separated by blanks and
// may be quoted ("..." with backslash escapes, or '...'); a word that starts
// with # starts a comment to the end of the line; a bare { opens a block,
// which a bare } closes, on the same line or another (${HOME} in an exec
// line is a word).
class Reader {
public:
    explicit Reader(const std::string& text) : text_(text) {}

    std::optional<std::vector<Directive>> Parse(std::string* error)
    {
        std::vector<Directive> top;
        size_t close = 0;
        if (!Block(&top, false, 0, &close)) {
            *error = error_ + " (byte " + std::to_string(pos_) + ")";
            return std::nullopt;
        }
        return top;
    }

private:
    enum class Token { Word, Open, Close, Newline, End, Bad };

    Token Next(Word* word)
    {
        for (;;) {
            if (pos_ >= text_.size()) return Token::End;
            const char c = text_[pos_];
            if (c == '\n') {
                ++pos_;
                return Token::Newline;
            }
            if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
                ++pos_;
                continue;
            }
            if (c == '#') {
                while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
                continue;
            }
            if (!ReadWord(word)) return Token::Bad;
            const bool bare = word->end - word->begin == 1;
            if (bare && word->text == "{") return Token::Open;
            if (bare && word->text == "}") return Token::Close;
            return Token::Word;
        }
    }

    bool ReadWord(Word* word)
    {
        word->text.clear();
        word->begin = pos_;
        char quote = 0;
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (quote == 0 && (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' ||
                               c == '\v'))
                break;
            ++pos_;
            if (c == '\\' && quote != '\'') {
                if (pos_ >= text_.size()) break;
                word->text += text_[pos_++];
            } else if (quote == 0 && (c == '"' || c == '\'')) {
                quote = c;
            } else if (c == quote) {
                quote = 0;
            } else {
                word->text += c;
            }
        }
        word->end = pos_;
        if (quote != 0) error_ = "a quote that is never closed";
        return quote == 0;
    }

    bool Block(std::vector<Directive>* out, bool inBlock, int depth, size_t* close)
    {
        if (depth > 8) return error_ = "blocks nested too deep", false;
        Directive d;
        Word w;
        for (;;) {
            switch (Next(&w)) {
            case Token::Word:
                d.words.push_back(w);
                break;
            case Token::Open:
                d.block = true;
                if (!Block(&d.children, true, depth + 1, &d.close)) return false;
                out->push_back(std::move(d));
                d = Directive{};
                break;
            case Token::Newline:
                if (!d.words.empty()) out->push_back(std::move(d));
                d = Directive{};
                break;
            case Token::Close:
                if (!inBlock) return error_ = "a } without its {", false;
                if (!d.words.empty()) out->push_back(std::move(d));
                *close = w.begin;
                return true;
            case Token::End:
                if (inBlock) return error_ = "a { without its }", false;
                if (!d.words.empty()) out->push_back(std::move(d));
                return true;
            case Token::Bad:
                return false;
            }
        }
    }

    const std::string& text_;
    size_t pos_ = 0;
    std::string error_;
};

// An output line of a profile, and where its mode value lies, if it has one.
struct OutputLine {
    size_t file = 0;
    std::string criteria;
    bool variadic = false;  // "...output": any number of outputs
    bool hasMode = false;
    size_t modeBegin = 0;  // the mode's value (with --custom), when hasMode
    size_t modeEnd = 0;
    size_t insertAt = 0;  // else where a mode directive goes, between these
    std::string before;
    std::string after;
};

struct Profile {
    std::vector<OutputLine> outputs;
};

struct Config {
    std::vector<std::string> paths;
    std::vector<std::string> texts;
    std::vector<Profile> profiles;
    std::map<std::string, std::string> aliases;  // $name: the criteria it stands for
};

// The mode in words (from `from` on) of an output line or of its block:
// keys, all but enable and disable with a value, as kanshi reads them.
bool FindMode(const std::vector<Word>& words, size_t from, OutputLine* line)
{
    for (size_t i = from; i < words.size();) {
        const std::string& key = words[i].text;
        if (key == "enable" || key == "disable") {
            ++i;
            continue;
        }
        if (key == "mode" && i + 1 < words.size()) {
            size_t last = i + 1;
            if (words[last].text == "--custom" && last + 1 < words.size()) ++last;
            line->hasMode = true;
            line->modeBegin = words[i + 1].begin;
            line->modeEnd = words[last].end;
            i = last + 1;
            continue;
        }
        i += 2;
    }
    return line->hasMode;
}

size_t LineStart(const std::string& text, size_t pos)
{
    const size_t newline = pos == 0 ? std::string::npos : text.rfind('\n', pos - 1);
    return newline == std::string::npos ? 0 : newline + 1;
}

// The blanks that a line starts with, up to pos on it.
std::string LineIndent(const std::string& text, size_t pos)
{
    const size_t from = LineStart(text, pos);
    const size_t end = text.find_first_not_of(" \t", from);
    return text.substr(from, std::min(end, pos) - from);
}

OutputLine ReadOutputLine(const Directive& d, size_t file, const std::string& text)
{
    OutputLine line;
    line.file = file;
    line.criteria = d.words[1].text;
    line.variadic = d.words[0].text == "...output";
    if (FindMode(d.words, 2, &line)) return line;
    if (!d.block) {
        line.insertAt = d.words.back().end;
        line.before = " ";
        return line;
    }
    // kanshi 1.6 and later: `output NAME {`, a directive a line.
    for (const Directive& c : d.children)
        if (FindMode(c.words, 0, &line)) return line;
    const std::string closeIndent = LineIndent(text, d.close);
    const bool closeAlone = LineStart(text, d.close) + closeIndent.size() == d.close;
    const std::string indent = d.children.empty()
                                   ? closeIndent + "\t"
                                   : LineIndent(text, d.children.front().words[0].begin);
    if (closeAlone) {
        line.insertAt = d.close - closeIndent.size();
        line.before = indent;
        line.after = "\n";
    } else {
        line.insertAt = d.close;
        line.after = "\n";
    }
    return line;
}

// The paths an include line names, expanded as kanshi expands them
// (wordexp(3), here without running commands); relative ones from cwd.
std::optional<std::vector<std::string>> IncludedPaths(const std::string& argument,
                                                      const std::string& cwd)
{
    std::string word = argument;
    // wordexp(3) globs from this process's folder; kanshi's is cwd.
    if (!word.empty() && word[0] != '/' && word[0] != '~' && word[0] != '$') {
        std::string base;
        for (const char c : cwd) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '/' && c != '-' &&
                c != '_' && c != '.')
                base += '\\';
            base += c;
        }
        word = base + "/" + word;
    }
    wordexp_t words{};
    const int result = ::wordexp(word.c_str(), &words, WRDE_NOCMD | WRDE_UNDEF);
    if (result == WRDE_NOSPACE) ::wordfree(&words);
    if (result != 0) return std::nullopt;
    std::vector<std::string> paths;
    for (size_t i = 0; i < words.we_wordc; ++i) paths.emplace_back(words.we_wordv[i]);
    ::wordfree(&words);
    return paths;
}

std::optional<std::string> ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return s.str();
}

// Reads the file at path into config, its profiles in kanshi's order: as
// they stand, each included file's where its include line is.
bool Load(const std::string& path, const std::string& cwd, int depth, Config* config,
          std::string* error)
{
    if (depth > kMaxIncludeDepth) return *error = path + ": includes nested too deep", false;
    auto text = ReadWhole(path);
    if (!text) return *error = path + ": " + std::strerror(errno), false;
    const size_t file = config->paths.size();
    config->paths.push_back(path);
    config->texts.push_back(std::move(*text));
    std::string why;
    const auto top = Reader(config->texts[file]).Parse(&why);
    if (!top) return *error = path + ": " + why, false;
    for (const Directive& d : *top) {
        const std::string first = d.words.empty() ? "" : d.words[0].text;
        if ((first == "profile" && d.words.size() <= 2 && d.block) ||
            (d.words.empty() && d.block)) {
            // "profile [NAME] {", or kanshi 1.3's older bare "{".
            Profile p;
            for (const Directive& c : d.children)
                if (c.words.size() >= 2 &&
                    (c.words[0].text == "output" || c.words[0].text == "...output"))
                    p.outputs.push_back(ReadOutputLine(c, file, config->texts[file]));
            config->profiles.push_back(std::move(p));
        } else if (first == "include" && d.words.size() == 2) {
            const auto paths = IncludedPaths(d.words[1].text, cwd);
            if (!paths) return *error = path + ": cannot expand " + d.words[1].text, false;
            for (const std::string& p : *paths)
                if (!Load(p, cwd, depth + 1, config, error)) return false;
        } else if (first == "output" && d.words.size() >= 2) {
            // An alias, on the line or in its block.
            const auto alias = [&](const std::vector<Word>& words, size_t from) {
                for (size_t i = from; i + 1 < words.size(); ++i)
                    if (words[i].text == "alias" && words[i + 1].text.starts_with("$"))
                        config->aliases[words[i + 1].text] = d.words[1].text;
            };
            alias(d.words, 2);
            for (const Directive& c : d.children) alias(c.words, 0);
        }
    }
    return true;
}

std::string Identifier(const KanshiOutput& o)
{
    const auto known = [](const std::string& s) { return s.empty() ? std::string("Unknown") : s; };
    return known(o.make) + " " + known(o.model) + " " + known(o.serial);
}

bool Matches(const Config& config, const KanshiRules& rules, const std::string& criteria,
             const KanshiOutput& head)
{
    if (criteria.starts_with("$")) {
        const auto alias = config.aliases.find(criteria);
        return alias != config.aliases.end() && Matches(config, rules, alias->second, head);
    }
    if (criteria == "*" || criteria == head.name) return true;
    return rules.globs ? ::fnmatch(criteria.c_str(), Identifier(head).c_str(), 0) == 0
                       : criteria == Identifier(head);
}

// The line of output in the first profile whose lines match the connected
// heads one to one, as kanshi matches them: each line in turn takes the first
// head left that it matches (there is no second try), then "...output" lines
// take the heads left over; null when no profile matches.
const OutputLine* LineFor(const Config& config, const KanshiRules& rules,
                          const std::vector<KanshiOutput>& connected, const KanshiOutput& output)
{
    const std::vector<KanshiOutput> heads(connected.rbegin(), connected.rend());  // newest first
    for (const Profile& p : config.profiles) {
        std::vector<const OutputLine*> lines;
        std::vector<const OutputLine*> variadic;
        for (const OutputLine& l : p.outputs) {
            if (l.variadic)
                variadic.push_back(&l);
            else if (l.criteria != "*")
                lines.insert(rules.fileOrder ? lines.end() : lines.begin(), &l);
        }
        for (const OutputLine& l : p.outputs)
            if (!l.variadic && l.criteria == "*") lines.push_back(&l);
        if (lines.size() > heads.size() || (variadic.empty() && lines.size() != heads.size()))
            continue;
        std::vector<const OutputLine*> lineOf(heads.size(), nullptr);
        const auto take = [&](const OutputLine* line) {
            for (size_t h = 0; h < heads.size(); ++h)
                if (lineOf[h] == nullptr && Matches(config, rules, line->criteria, heads[h]))
                    return lineOf[h] = line, true;
            return false;
        };
        if (!std::all_of(lines.begin(), lines.end(), take)) continue;
        bool all = true;
        for (size_t h = 0; h < heads.size() && all; ++h) {
            for (const OutputLine* v : variadic)
                if (lineOf[h] == nullptr && Matches(config, rules, v->criteria, heads[h]))
                    lineOf[h] = v;
            all = lineOf[h] != nullptr;
        }
        if (!all) continue;
        for (size_t h = 0; h < heads.size(); ++h)
            if (heads[h].name == output.name) return lineOf[h];
        return nullptr;
    }
    return nullptr;
}

std::string EnvOf(const std::vector<std::string>& env, const std::string& name)
{
    for (const std::string& e : env)
        if (e.size() > name.size() && e.compare(0, name.size(), name) == 0 && e[name.size()] == '=')
            return e.substr(name.size() + 1);
    return {};
}

std::vector<std::string> ReadNulList(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> items;
    for (std::string item; std::getline(in, item, '\0');) items.push_back(item);
    return items;
}

std::vector<std::string> OwnEnv()
{
    std::vector<std::string> env;
    for (const char* name : {"XDG_CONFIG_HOME", "HOME"})
        if (const char* v = std::getenv(name)) env.push_back(std::string(name) + "=" + v);
    return env;
}

std::string Getenv(const char* name)
{
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

using Clock = std::chrono::steady_clock;


std::string IpcPath()
{
    const std::string runtime = Getenv("XDG_RUNTIME_DIR");
    const std::string display = Getenv("WAYLAND_DISPLAY");
    if (runtime.empty() || display.empty()) return {};
    return runtime + "/fr.emersion.kanshi." + display;
}

// A connection to kanshi's varlink socket; -1 when nothing answers there.
int ConnectIpc(const std::string& path, Clock::time_point deadline)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) return -1;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return fd;
    if (errno == EINPROGRESS || errno == EAGAIN) {
        pollfd pfd{fd, POLLOUT, 0};
        int soError = 0;
        socklen_t len = sizeof soError;
        if (::poll(&pfd, 1, RemainingMs(deadline)) > 0 &&
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) == 0 && soError == 0)
            return fd;
    }
    ::close(fd);
    return -1;
}

// Asks kanshi over varlink to read its configuration again; its answer,
// or an empty string when none came.
std::string IpcReload(const std::string& path)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(kReloadTimeoutMs);
    const UniqueFd fd(ConnectIpc(path, deadline));
    if (fd.get() < 0) return {};
    static const char kCall[] = "{\"method\":\"fr.emersion.kanshi.Reload\",\"parameters\":{}}";
    const char* p = kCall;
    size_t left = sizeof kCall;  // with the NUL that ends a varlink message
    while (left > 0) {
        pollfd pfd{fd.get(), POLLOUT, 0};
        if (::poll(&pfd, 1, RemainingMs(deadline)) <= 0) return {};
        const ssize_t n = ::send(fd.get(), p, left, MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return {};
        p += n;
        left -= static_cast<size_t>(n);
    }
    std::string reply;
    while (reply.find('\0') == std::string::npos && reply.size() < 65536) {
        pollfd pfd{fd.get(), POLLIN, 0};
        if (::poll(&pfd, 1, RemainingMs(deadline)) <= 0) return {};
        char buf[4096];
        const ssize_t n = ::recv(fd.get(), buf, sizeof buf, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;
        reply.append(buf, static_cast<size_t>(n));
    }
    return reply.substr(0, reply.find('\0'));
}

// Which of words the program file at path holds: what a kanshi can do, read
// from its program (Debian 13's kanshi 1.5 has no IPC, nor a version to ask).
std::vector<bool> ProgramHolds(const std::string& path, const std::vector<std::string>& words)
{
    std::vector<bool> found(words.size(), false);
    std::ifstream in(path, std::ios::binary);
    std::string carry;
    std::vector<char> buf(1 << 16);
    for (size_t total = 0; in && total < (64u << 20); total += buf.size()) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        const std::string chunk = carry + std::string(buf.data(), static_cast<size_t>(in.gcount()));
        for (size_t i = 0; i < words.size(); ++i)
            found[i] = found[i] || chunk.find(words[i]) != std::string::npos;
        carry = chunk.substr(chunk.size() - std::min<size_t>(chunk.size(), 31));
    }
    return found;
}

// Writes text over the file at path in one step, through a symlink to the
// file it names, keeping its permissions.
bool WriteOver(const std::string& path, const std::string& text, std::string* error)
{
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::canonical(path, ec);
    if (ec) return *error = path + ": " + ec.message(), false;
    struct stat st {};
    const bool known = ::stat(real.c_str(), &st) == 0;
    if (!ReplaceFile(real.parent_path().string(), real.filename().string(), text, error))
        return false;
    if (known) ::chmod(real.c_str(), st.st_mode & 07777);
    return true;
}

}  // namespace

std::string KanshiModeValue(int32_t width, int32_t height, int32_t refreshMilliHz, bool custom)
{
    std::string value = (custom ? "--custom " : "") + std::to_string(width) + "x" +
                        std::to_string(height);
    if (refreshMilliHz > 0) {
        char fraction[4];
        std::snprintf(fraction, sizeof fraction, "%03d", refreshMilliHz % 1000);
        value += "@" + std::to_string(refreshMilliHz / 1000) + "." + fraction + "Hz";
    }
    return value;
}

KanshiEdit KanshiEditMode(const std::string& configPath, const std::string& cwd,
                          const KanshiRules& rules, const std::vector<KanshiOutput>& connected,
                          const KanshiOutput& output, const std::string& modeValue)
{
    KanshiEdit edit;
    Config config;
    if (!Load(configPath, cwd, 0, &config, &edit.error)) return edit;
    const OutputLine* line = LineFor(config, rules, connected, output);
    if (line == nullptr) {
        edit.result = KanshiStoreResult::NoProfile;
        return edit;
    }
    std::string text = config.texts[line->file];
    if (line->variadic) {
        edit.error = "the profile's line for " + output.name + " sets other outputs too";
        return edit;
    }
    if (line->hasMode)
        text.replace(line->modeBegin, line->modeEnd - line->modeBegin, modeValue);
    else
        text.insert(line->insertAt, line->before + "mode " + modeValue + line->after);
    edit.result = KanshiStoreResult::Stored;
    edit.path = config.paths[line->file];
    edit.text = std::move(text);
    return edit;
}

std::string KanshiConfigPath(const std::vector<std::string>& args, const std::string& cwd,
                             const std::vector<std::string>& env)
{
    const std::string named = ConfigOption(args);
    if (!named.empty()) return named[0] == '/' || cwd.empty() ? named : cwd + "/" + named;
    const std::string xdg = EnvOf(env, "XDG_CONFIG_HOME");
    if (!xdg.empty() && xdg[0] == '/') return xdg + "/kanshi/config";
    const std::string home = EnvOf(env, "HOME");
    return home.empty() ? std::string() : home + "/.config/kanshi/config";
}

KanshiDaemon FindKanshi()
{
    KanshiDaemon daemon;
    const std::string runtime = Getenv("XDG_RUNTIME_DIR");
    const std::string display = Getenv("WAYLAND_DISPLAY").empty() ? std::string("wayland-0")
                                                                   : Getenv("WAYLAND_DISPLAY");
    {
        const UniqueFd fd(ConnectIpc(IpcPath(), Clock::now() + std::chrono::milliseconds(500)));
        daemon.ipc = fd.get() >= 0;
    }
    // Its process: a kanshi with this session's runtime folder and Wayland
    // display, which only its own user (or root) can read.
    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* e = ::readdir(proc)) {
            const std::string pid = e->d_name;
            if (pid.empty() || !std::all_of(pid.begin(), pid.end(), ::isdigit)) continue;
            const std::string dir = "/proc/" + pid;
            std::ifstream comm(dir + "/comm");
            std::string name;
            if (!std::getline(comm, name) || name != "kanshi") continue;
            const auto env = ReadNulList(dir + "/environ");
            const std::string theirDisplay = EnvOf(env, "WAYLAND_DISPLAY");
            if (runtime.empty() || EnvOf(env, "XDG_RUNTIME_DIR") != runtime ||
                (theirDisplay.empty() ? std::string("wayland-0") : theirDisplay) != display)
                continue;
            std::error_code ec;
            const std::string cwd = std::filesystem::read_symlink(dir + "/cwd", ec).string();
            daemon.pid = std::atoi(pid.c_str());
            // kanshi 1.3 knows no custom modes; kanshi 1.9 matches globs, and
            // its lines in file order.
            const auto holds = ProgramHolds(dir + "/exe", {"--custom", "fnmatch"});
            daemon.customModes = holds[0];
            daemon.rules = {holds[1], holds[1]};
            daemon.cwd = ec ? std::string() : cwd;
            daemon.configPath = KanshiConfigPath(ReadNulList(dir + "/cmdline"), daemon.cwd, env);
            break;
        }
        ::closedir(proc);
    }
    daemon.running = daemon.ipc || daemon.pid > 0;
    // The IPC socket came after custom modes.
    daemon.customModes = daemon.customModes || daemon.ipc;
    if (daemon.pid == 0 && daemon.ipc) daemon.rules = {true, true};
    if (daemon.running && daemon.pid == 0) {
        // Its process is out of sight: as kanshi started in this environment.
        daemon.configPath = KanshiConfigPath({"kanshi"}, "", OwnEnv());
        std::error_code ec;
        daemon.cwd = std::filesystem::current_path(ec).string();
    }
    return daemon;
}

KanshiStoreResult KanshiStoreMode(const std::vector<KanshiOutput>& connected,
                                  const KanshiOutput& output, int32_t width, int32_t height,
                                  int32_t refreshMilliHz, std::string* error)
{
    const KanshiDaemon kanshi = FindKanshi();
    if (!kanshi.running) return KanshiStoreResult::NotRunning;
    const auto fail = [error](const std::string& why) {
        if (error != nullptr) *error = why;
        return KanshiStoreResult::Failed;
    };
    if (width <= 0 || height <= 0 || refreshMilliHz < 0) return fail("not a mode");
    if (kanshi.configPath.empty()) return fail("kanshi's configuration file is not known");
    if (output.customMode && !kanshi.customModes)
        return fail("this kanshi cannot set a custom mode, which " + output.name + " needs");
    KanshiEdit edit =
        KanshiEditMode(kanshi.configPath, kanshi.cwd.empty() ? "/" : kanshi.cwd, kanshi.rules,
                       connected, output, KanshiModeValue(width, height, refreshMilliHz, output.customMode));
    if (edit.result == KanshiStoreResult::Failed) return fail(edit.error);
    if (edit.result != KanshiStoreResult::Stored) return edit.result;
    std::string why;
    if (!WriteOver(edit.path, edit.text, &why)) return fail(why);
    if (kanshi.ipc) {
        const std::string reply = IpcReload(IpcPath());
        if (reply.empty() || reply.find("\"error\"") != std::string::npos)
            if (error != nullptr) *error = "kanshi did not reload: " + reply;
    } else if (kanshi.pid > 0) {
        ::kill(kanshi.pid, SIGHUP);
    }
    return KanshiStoreResult::Stored;
}
