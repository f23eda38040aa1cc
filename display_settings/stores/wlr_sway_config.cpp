#include "wlr_sway_config.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

#include <fnmatch.h>
#include <glob.h>
#include <poll.h>
#include <wordexp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "unix_socket.h"
#include "wlr_command_line.h"
#include "xdg_paths.h"

namespace {

constexpr char kIpcMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr uint32_t kIpcGetOutputs = 3;
constexpr uint32_t kIpcGetConfig = 9;
constexpr uint32_t kIpcMaxReply = 16u << 20;  // far more than any configuration

using Clock = std::chrono::steady_clock;


// Moves all of len bytes through the socket before deadline.
bool Transfer(int fd, char* buf, size_t len, bool sending, Clock::time_point deadline)
{
    while (len > 0) {
        pollfd pfd{fd, static_cast<short>(sending ? POLLOUT : POLLIN), 0};
        const int ready = ::poll(&pfd, 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        const ssize_t n = sending ? ::send(fd, buf, len, MSG_NOSIGNAL) : ::recv(fd, buf, len, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return false;
        buf += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

// word with every unquoted glob character escaped, so that wordexp(3)
// expands names and variables but leaves the globs for fnmatch: the file a
// glob should cover may not exist yet, and would not be listed.
std::string GlobsEscaped(const std::string& word)
{
    std::string out;
    char quote = 0;
    for (size_t i = 0; i < word.size(); ++i) {
        const char c = word[i];
        if (quote != '\'' && c == '\\' && i + 1 < word.size()) {
            out += c;
            out += word[++i];
            continue;
        }
        if (quote == 0 && (c == '*' || c == '?' || c == '[')) out += '\\';
        if ((c == '\'' || c == '"') && (quote == 0 || quote == c)) quote = quote == 0 ? c : 0;
        out += c;
    }
    return out;
}

// The paths an include line's argument names, expanded by wordexp(3) as
// sway expands it, with no command run; nothing when it does not expand.
std::optional<std::vector<std::string>> IncludedPaths(const std::string& argument)
{
    wordexp_t words{};
    const int result = ::wordexp(GlobsEscaped(argument).c_str(), &words, WRDE_NOCMD);
    if (result == WRDE_NOSPACE) ::wordfree(&words);
    if (result != 0) return std::nullopt;
    std::vector<std::string> paths(words.we_wordv, words.we_wordv + words.we_wordc);
    ::wordfree(&words);
    return paths;
}

std::string Normal(const std::string& path)
{
    return std::filesystem::path(path).lexically_normal().string();
}

// The folder of the configuration of the sway at the other end of fd, read
// from its command line; empty when that cannot be read.
std::string PeerConfigDir(int fd)
{
    ucred peer{};
    socklen_t len = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 || peer.pid <= 0) return {};
    const std::string proc = "/proc/" + std::to_string(peer.pid);
    std::ifstream cmdline(proc + "/cmdline", std::ios::binary);
    std::vector<std::string> args;
    for (std::string arg; std::getline(cmdline, arg, '\0');) args.push_back(arg);
    if (args.empty()) return SwayConfigDir({"sway"}, "");  // as sway started without -c
    std::error_code ec;
    const std::string cwd = std::filesystem::read_symlink(proc + "/cwd", ec).string();
    return SwayConfigDir(args, ec ? std::string() : cwd);
}

}  // namespace

std::optional<std::string> JsonStringMember(const std::string& json, const std::string& key)
{
    const auto value = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
    if (!value.is_object()) return std::nullopt;
    const auto member = value.find(key);
    if (member == value.end() || !member->is_string()) return std::nullopt;
    return member->get<std::string>();
}

namespace {

// Sends sway's IPC message type with no payload and returns its answer's
// payload; *peerDir (where not null) gets the folder of sway's configuration.
std::optional<std::string> IpcRequest(const std::string& socketPath, uint32_t type, int timeoutMs,
                                      std::string* error, std::string* peerDir)
{
    const auto fail = [&](const std::string& why) -> std::optional<std::string> {
        *error = socketPath + ": " + why;
        return std::nullopt;
    };
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof addr.sun_path)
        return fail("not a socket path");
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const UniqueFd sock(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (sock.get() < 0) return fail(std::strerror(errno));
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (::connect(sock.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno != EINPROGRESS) return fail(std::strerror(errno));
        pollfd pfd{sock.get(), POLLOUT, 0};
        int soError = 0;
        socklen_t len = sizeof soError;
        if (::poll(&pfd, 1, RemainingMs(deadline)) <= 0 ||
            ::getsockopt(sock.get(), SOL_SOCKET, SO_ERROR, &soError, &len) != 0 || soError != 0)
            return fail("cannot connect");
    }
    char header[sizeof kIpcMagic + 8];
    std::memcpy(header, kIpcMagic, sizeof kIpcMagic);
    const uint32_t request[2] = {0, type};
    std::memcpy(header + sizeof kIpcMagic, request, sizeof request);
    if (!Transfer(sock.get(), header, sizeof header, true, deadline))
        return fail("sway did not take the request");
    if (!Transfer(sock.get(), header, sizeof header, false, deadline) ||
        std::memcmp(header, kIpcMagic, sizeof kIpcMagic) != 0)
        return fail("sway did not answer");
    uint32_t reply[2];
    std::memcpy(reply, header + sizeof kIpcMagic, sizeof reply);
    if (reply[1] != type || reply[0] > kIpcMaxReply) return fail("an unexpected answer");
    std::string payload(reply[0], '\0');
    if (!Transfer(sock.get(), payload.data(), payload.size(), false, deadline))
        return fail("sway's answer was cut short");
    if (peerDir != nullptr) *peerDir = PeerConfigDir(sock.get());
    return payload;
}

// A configuration line's words as sway splits them: by blanks, with quoted
// words taken whole and their quotes off.
std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote != 0) {
            if (c == '\\' && quote == '"' && i + 1 < line.size()) {
                word += line[++i];
            } else if (c == quote) {
                quote = 0;
            } else {
                word += c;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

// True when the words after `output NAME` set a mode.
bool SetsMode(const std::vector<std::string>& words, size_t from)
{
    for (size_t i = from; i < words.size(); ++i)
        if (words[i] == "mode" || words[i] == "resolution" || words[i] == "res") return true;
    return false;
}

struct Walk {
    std::string target;
    std::vector<std::string> names;
    std::vector<std::string> visited;
    std::map<std::string, std::string> variables;  // of `set $name value` lines
    SwayReading reading;
    int depth = 0;

    // Reads text, the file in folder dir, line by line as sway does.
    void File(const std::string& text, const std::string& dir)
    {
        std::istringstream lines(text);
        std::string line;
        std::string block;  // the output a `output NAME {` block is about
        while (std::getline(lines, line)) {
            std::vector<std::string> words = Words(line);
            if (words.empty() || words[0].starts_with("#")) continue;
            if (words[0] == "set" && words.size() >= 3 && words[1].starts_with("$")) {
                std::string value = words[2];
                for (size_t i = 3; i < words.size(); ++i) value += " " + words[i];
                variables[words[1]] = value;
                continue;
            }
            if (!block.empty()) {
                if (words[0] == "}") {
                    block.clear();
                    continue;
                }
                words.insert(words.begin(), {"output", block});
            } else if (words[0] == "output" && words.size() >= 3 && words.back() == "{") {
                block = Expanded(words[1]);
                continue;
            }
            if (words[0] == "include" && words.size() >= 2) {
                Include(line, dir);
                continue;
            }
            if (reading.included && reading.overriddenBy.empty() && words[0] == "output" &&
                words.size() >= 3 &&
                std::find(names.begin(), names.end(), Expanded(words[1])) != names.end() &&
                SetsMode(words, 2)) {
                std::string own = line.substr(line.find_first_not_of(" \t"));
                own.erase(own.find_last_not_of(" \t\r") + 1);
                reading.overriddenBy = block.empty() ? own : "output " + block + " { " + own + " }";
            }
        }
    }

    // word with a variable of a `set` line before it put in, as sway does.
    std::string Expanded(const std::string& word) const
    {
        const auto v = variables.find(word);
        return v != variables.end() ? v->second : word;
    }

    // Follows an include line of a file in folder dir.
    void Include(const std::string& line, const std::string& dir)
    {
        const size_t start = line.find_first_not_of(" \t");
        size_t arg = line.find_first_not_of(" \t", start + 7);
        if (arg == std::string::npos) return;
        std::string argument = line.substr(arg);
        argument.erase(argument.find_last_not_of(" \t\r") + 1);
        // sway takes the quotes around its argument off before expanding it.
        if (argument.size() >= 2 && (argument.front() == '"' || argument.front() == '\'') &&
            argument.back() == argument.front())
            argument = argument.substr(1, argument.size() - 2);
        const auto patterns = IncludedPaths(argument);
        if (!patterns) return;
        for (std::string pattern : *patterns) {
            if (pattern.empty()) continue;
            if (pattern[0] != '/') {
                if (dir.empty()) continue;
                pattern = dir + "/" + pattern;
            }
            pattern = Normal(pattern);
            // What the glob covers now, and the mode file where it would
            // cover it, in the sorted order sway loads them in.
            std::vector<std::string> files;
            glob_t found{};
            if (::glob(pattern.c_str(), GLOB_NOSORT, nullptr, &found) == 0)
                for (size_t i = 0; i < found.gl_pathc; ++i) files.push_back(Normal(found.gl_pathv[i]));
            ::globfree(&found);
            if (::fnmatch(pattern.c_str(), target.c_str(), FNM_PATHNAME | FNM_PERIOD) == 0)
                files.push_back(target);
            std::sort(files.begin(), files.end());
            files.erase(std::unique(files.begin(), files.end()), files.end());
            for (const std::string& file : files) Load(file);
        }
    }

    void Load(const std::string& file)
    {
        std::error_code ec;
        const std::string real =
            file == target ? target : std::filesystem::canonical(file, ec).string();
        if (ec || std::find(visited.begin(), visited.end(), real) != visited.end()) return;
        visited.push_back(real);
        if (real == target) {
            reading.included = true;
            return;
        }
        if (depth >= 16 || !std::filesystem::is_regular_file(real, ec)) return;
        std::ifstream in(real);
        std::ostringstream text;
        text << in.rdbuf();
        ++depth;
        File(text.str(), std::filesystem::path(real).parent_path().string());
        --depth;
    }
};

}  // namespace

std::optional<SwayConfig> SwayCurrentConfig(const std::string& socketPath, int timeoutMs,
                                            std::string* error)
{
    std::string dir;
    const auto payload = IpcRequest(socketPath, kIpcGetConfig, timeoutMs, error, &dir);
    if (!payload) return std::nullopt;
    auto text = JsonStringMember(*payload, "config");
    if (!text) {
        *error = socketPath + ": an answer without the configuration";
        return std::nullopt;
    }
    return SwayConfig{std::move(*text), dir};
}

std::optional<std::vector<SwayOutput>> SwayOutputs(const std::string& socketPath, int timeoutMs,
                                                   std::string* error)
{
    const auto payload = IpcRequest(socketPath, kIpcGetOutputs, timeoutMs, error, nullptr);
    if (!payload) return std::nullopt;
    auto outputs = SwayOutputsFromJson(*payload);
    if (!outputs) *error = socketPath + ": an answer without the outputs";
    return outputs;
}

std::optional<std::vector<SwayOutput>> SwayOutputsFromJson(const std::string& json)
{
    const auto value = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
    if (!value.is_array()) return std::nullopt;
    const auto text = [](const nlohmann::json& o, const char* key) {
        const auto m = o.find(key);
        return m != o.end() && m->is_string() ? m->get<std::string>() : std::string();
    };
    std::vector<SwayOutput> outputs;
    for (const auto& o : value) {
        if (!o.is_object()) return std::nullopt;
        const auto focused = o.find("focused");
        outputs.push_back({text(o, "name"), text(o, "make"), text(o, "model"), text(o, "serial"),
                           focused != o.end() && focused->is_boolean() && focused->get<bool>()});
    }
    return outputs;
}

std::string SwayIdentity(const SwayOutput& output, const std::vector<SwayOutput>& outputs)
{
    const auto reported = [](const std::string& s) { return !s.empty() && s != "Unknown"; };
    if (!reported(output.make) || !reported(output.model) || !reported(output.serial)) return {};
    for (const SwayOutput& o : outputs)
        if (o.name != output.name && o.make == output.make && o.model == output.model &&
            o.serial == output.serial)
            return {};
    return output.make + " " + output.model + " " + output.serial;
}

SwayReading SwayConfigReads(const SwayConfig& config, const std::string& path,
                            const std::vector<std::string>& names)
{
    Walk walk;
    walk.target = Normal(path);
    walk.names = names;
    walk.File(config.text, config.dir);
    return walk.reading;
}

bool SwayConfigIncludes(const SwayConfig& config, const std::string& path)
{
    return SwayConfigReads(config, path, {}).included;
}

std::string SwayConfigDir(const std::vector<std::string>& args, const std::string& cwd)
{
    std::string named = ConfigOption(args);
    if (!named.empty()) {
        if (named[0] != '/') {
            if (cwd.empty()) return {};
            named = cwd + "/" + named;
        }
        return std::filesystem::path(Normal(named)).parent_path().string();
    }
    const char* home = std::getenv("HOME");
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const std::string h = home != nullptr ? home : "";
    const std::string configHome = xdg != nullptr && *xdg != '\0' ? xdg : h + "/.config";
    // sway's own order of places for its configuration.
    const std::string candidates[] = {h + "/.sway",    configHome + "/sway", h + "/.i3",
                                      configHome + "/i3", "/etc/sway",       "/etc/i3"};
    for (const std::string& dir : candidates)
        if ((home != nullptr || dir[0] == '/') && ::access((dir + "/config").c_str(), R_OK) == 0)
            return dir;
    return {};
}

std::string SwayModeDir()
{
    const std::string base = ConfigHome();
    return base.empty() ? base : base + "/sway/config.d";
}

std::string SwayModeLine(const std::string& output, int32_t width, int32_t height,
                         int32_t refreshMilliHz, bool byIdentity)
{
    if (output.empty() || width <= 0 || height <= 0 || refreshMilliHz < 0) return {};
    // Connector names are letters, digits and dashes; an identity is quoted,
    // and nothing in it may end the quotes or name a variable.
    for (const char c : output) {
        const auto u = static_cast<unsigned char>(c);
        const bool ok = byIdentity ? (u >= 0x20 && u != 0x7f && c != '"' && c != '\\' && c != '$')
                                   : (std::isalnum(u) || c == '-' || c == '_' || c == '.');
        if (!ok) return {};
    }
    std::string line = "output " + (byIdentity ? "\"" + output + "\"" : output) + " mode " +
                       std::to_string(width) + "x" + std::to_string(height);
    if (refreshMilliHz > 0) {
        char fraction[4];
        std::snprintf(fraction, sizeof fraction, "%03d", refreshMilliHz % 1000);
        line += "@" + std::to_string(refreshMilliHz / 1000) + "." + fraction + "Hz";
    }
    return line + "\n";
}

std::string SwayModeFileWith(const std::string& current, const std::vector<std::string>& names,
                             const std::string& line)
{
    std::string out;
    bool placed = false;
    std::istringstream lines(current);
    for (std::string l; std::getline(lines, l);) {
        const std::vector<std::string> words = Words(l);
        if (words.size() >= 2 && words[0] == "output" &&
            std::find(names.begin(), names.end(), words[1]) != names.end()) {
            if (!placed) out += line;
            placed = true;
            continue;
        }
        out += l + "\n";
    }
    if (!placed) out += line;
    return out;
}
