#include "wlr_sway_config.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include <fnmatch.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "xdg_paths.h"

namespace {

constexpr char kIpcMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr uint32_t kIpcGetConfig = 9;
constexpr uint32_t kIpcMaxReply = 16u << 20;  // far more than any configuration

class Socket {
public:
    explicit Socket(int fd) : fd_(fd) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

using Clock = std::chrono::steady_clock;

int Remaining(Clock::time_point deadline)
{
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return ms > 0 ? static_cast<int>(ms) : 0;
}

// Moves all of len bytes through the socket before deadline.
bool Transfer(int fd, char* buf, size_t len, bool sending, Clock::time_point deadline)
{
    while (len > 0) {
        pollfd pfd{fd, static_cast<short>(sending ? POLLOUT : POLLIN), 0};
        const int ready = ::poll(&pfd, 1, Remaining(deadline));
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

void AppendUtf8(std::string* out, uint32_t cp)
{
    if (cp < 0x80) {
        *out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out += static_cast<char>(0xC0 | (cp >> 6));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out += static_cast<char>(0xE0 | (cp >> 12));
        *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (cp >> 18));
        *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The JSON string that starts at json[*pos] (its opening quote), unescaped;
// *pos ends past its closing quote.
std::optional<std::string> ParseJsonString(const std::string& json, size_t* pos)
{
    if (*pos >= json.size() || json[*pos] != '"') return std::nullopt;
    std::string out;
    const auto hex4 = [&json](size_t at, uint32_t* value) {
        if (at + 4 > json.size()) return false;
        *value = 0;
        for (size_t i = at; i < at + 4; ++i) {
            const char c = json[i];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) return false;
            *value = *value * 16 + static_cast<uint32_t>(digit);
        }
        return true;
    };
    for (size_t i = *pos + 1; i < json.size(); ++i) {
        const char c = json[i];
        if (c == '"') {
            *pos = i + 1;
            return out;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= json.size()) break;
        switch (json[i]) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
            uint32_t cp = 0;
            if (!hex4(i + 1, &cp)) return std::nullopt;
            i += 4;
            uint32_t low = 0;
            if (cp >= 0xD800 && cp < 0xDC00 && i + 6 < json.size() && json[i + 1] == '\\' &&
                json[i + 2] == 'u' && hex4(i + 3, &low) && low >= 0xDC00 && low < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 6;
            } else if (cp >= 0xD800 && cp < 0xE000) {
                cp = 0xFFFD;  // a lone surrogate
            }
            AppendUtf8(&out, cp);
            break;
        }
        default: return std::nullopt;
        }
    }
    return std::nullopt;
}

// path with a leading ~ and every $NAME or ${NAME} replaced from the
// environment, as sway's include expands it.
std::string Expand(const std::string& path)
{
    std::string out;
    size_t i = 0;
    if (!path.empty() && path[0] == '~' && (path.size() == 1 || path[1] == '/')) {
        const char* home = std::getenv("HOME");
        out = home != nullptr ? home : "";
        i = 1;
    }
    while (i < path.size()) {
        if (path[i] != '$') {
            out += path[i++];
            continue;
        }
        size_t start = i + 1;
        size_t end = start;
        const bool braced = start < path.size() && path[start] == '{';
        if (braced) {
            end = path.find('}', start);
            if (end == std::string::npos) return out + path.substr(i);
            ++start;
        } else {
            while (end < path.size() && (std::isalnum(static_cast<unsigned char>(path[end])) ||
                                         path[end] == '_'))
                ++end;
        }
        const std::string name = path.substr(start, end - start);
        if (name.empty()) {
            out += path[i++];
            continue;
        }
        if (const char* value = std::getenv(name.c_str())) out += value;
        i = braced ? end + 1 : end;
    }
    return out;
}

std::string Normal(const std::string& path)
{
    return std::filesystem::path(path).lexically_normal().string();
}

}  // namespace

std::optional<std::string> JsonStringMember(const std::string& json, const std::string& key)
{
    // Only the object's own members count: depth 1, outside strings.
    int depth = 0;
    for (size_t i = 0; i < json.size();) {
        const char c = json[i];
        if (c == '"') {
            size_t end = i;
            const auto text = ParseJsonString(json, &end);
            if (!text) return std::nullopt;
            size_t after = end;
            while (after < json.size() && std::isspace(static_cast<unsigned char>(json[after])))
                ++after;
            if (depth == 1 && *text == key && after < json.size() && json[after] == ':') {
                size_t value = after + 1;
                while (value < json.size() &&
                       std::isspace(static_cast<unsigned char>(json[value])))
                    ++value;
                return ParseJsonString(json, &value);
            }
            i = end;
            continue;
        }
        if (c == '{' || c == '[') ++depth;
        if (c == '}' || c == ']') --depth;
        ++i;
    }
    return std::nullopt;
}

std::optional<std::string> SwayCurrentConfig(const std::string& socketPath, int timeoutMs,
                                             std::string* error)
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
    const Socket sock(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (sock.get() < 0) return fail(std::strerror(errno));
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (::connect(sock.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno != EINPROGRESS) return fail(std::strerror(errno));
        pollfd pfd{sock.get(), POLLOUT, 0};
        int soError = 0;
        socklen_t len = sizeof soError;
        if (::poll(&pfd, 1, Remaining(deadline)) <= 0 ||
            ::getsockopt(sock.get(), SOL_SOCKET, SO_ERROR, &soError, &len) != 0 || soError != 0)
            return fail("cannot connect");
    }
    char header[sizeof kIpcMagic + 8];
    std::memcpy(header, kIpcMagic, sizeof kIpcMagic);
    const uint32_t request[2] = {0, kIpcGetConfig};
    std::memcpy(header + sizeof kIpcMagic, request, sizeof request);
    if (!Transfer(sock.get(), header, sizeof header, true, deadline))
        return fail("sway did not take the request");
    if (!Transfer(sock.get(), header, sizeof header, false, deadline) ||
        std::memcmp(header, kIpcMagic, sizeof kIpcMagic) != 0)
        return fail("sway did not answer");
    uint32_t reply[2];
    std::memcpy(reply, header + sizeof kIpcMagic, sizeof reply);
    if (reply[1] != kIpcGetConfig || reply[0] > kIpcMaxReply) return fail("an unexpected answer");
    std::string payload(reply[0], '\0');
    if (!Transfer(sock.get(), payload.data(), payload.size(), false, deadline))
        return fail("sway's answer was cut short");
    auto config = JsonStringMember(payload, "config");
    if (!config) return fail("an answer without the configuration");
    return config;
}

bool SwayConfigIncludes(const std::string& config, const std::string& path)
{
    const std::string target = Normal(path);
    std::istringstream lines(config);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, 7, "include") != 0) continue;
        size_t arg = start + 7;
        if (arg >= line.size() || (line[arg] != ' ' && line[arg] != '\t')) continue;
        arg = line.find_first_not_of(" \t", arg);
        if (arg == std::string::npos) continue;
        std::string pattern = line.substr(arg);
        pattern.erase(pattern.find_last_not_of(" \t\r") + 1);
        if (pattern.size() >= 2 && (pattern.front() == '"' || pattern.front() == '\'') &&
            pattern.back() == pattern.front())
            pattern = pattern.substr(1, pattern.size() - 2);
        pattern = Expand(pattern);
        // A relative include is relative to a file sway does not name.
        if (pattern.empty() || pattern[0] != '/') continue;
        if (::fnmatch(Normal(pattern).c_str(), target.c_str(), FNM_PATHNAME | FNM_PERIOD) == 0)
            return true;
    }
    return false;
}

std::string SwayModeDir()
{
    const std::string base = ConfigHome();
    return base.empty() ? base : base + "/sway/config.d";
}

std::string SwayModeLine(const std::string& output, int32_t width, int32_t height,
                         int32_t refreshMilliHz)
{
    // Output names are letters, digits and dashes; anything else would need
    // quoting that a line of ours should never have to get right.
    if (output.empty() || width <= 0 || height <= 0 || refreshMilliHz < 0) return {};
    for (const char c : output)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.')
            return {};
    std::string line = "output " + output + " mode " + std::to_string(width) + "x" +
                       std::to_string(height);
    if (refreshMilliHz > 0) {
        char fraction[4];
        std::snprintf(fraction, sizeof fraction, "%03d", refreshMilliHz % 1000);
        line += "@" + std::to_string(refreshMilliHz / 1000) + "." + fraction + "Hz";
    }
    return line + "\n";
}
