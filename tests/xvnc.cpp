#include "xvnc.h"

#include <chrono>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>

namespace {

[[noreturn]] void ExecChild(const std::vector<std::string>& argv, const std::vector<std::string>& env)
{
    for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

int WaitStatus(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        ExecChild(argv, env);
    }
    close(fds[1]);
    CommandResult result;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) != 0;) {
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        result.out.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    result.status = pid > 0 ? WaitStatus(pid) : -1;
    return result;
}

pid_t SpawnCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const std::string& errPath)
{
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        if (!errPath.empty()) {
            const int fd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) dup2(fd, STDERR_FILENO);
        }
        ExecChild(argv, env);
    }
    return pid;
}

void StopProcess(pid_t pid)
{
    if (pid <= 0) return;
    // The process leads a group of its own where we started it: what it
    // started in turn (a compositor's Xwayland) goes with it.
    const auto signal = [pid](int sig) {
        if (kill(-pid, sig) != 0) kill(pid, sig);
    };
    signal(SIGTERM);
    for (int i = 0; i < 150; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            kill(-pid, SIGKILL);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    signal(SIGKILL);
    waitpid(pid, nullptr, 0);
}

pid_t SpawnReadingLine(std::vector<std::string> argv, const std::vector<std::string>& env,
                       std::string* line, int timeoutMs)
{
    line->clear();
    int fds[2];
    if (pipe(fds) != 0) return -1;
    for (std::string& a : argv)
        if (const size_t at = a.find("{fd}"); at != std::string::npos)
            a.replace(at, 4, std::to_string(fds[1]));
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        setpgid(0, 0);
        ExecChild(argv, env);
    }
    close(fds[1]);
    pollfd p{fds[0], POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline && poll(&p, 1, 100) >= 0) {
        if (!(p.revents & (POLLIN | POLLHUP))) continue;
        char c;
        if (read(fds[0], &c, 1) != 1 || c == '\n') break;
        *line += c;
    }
    close(fds[0]);
    return pid;
}

XServer::~XServer() { StopProcess(pid_); }

void XServer::Start(const std::vector<std::string>& argv)
{
    std::string number;
    pid_ = SpawnReadingLine(argv, {}, &number);
    if (!number.empty()) display_ = ":" + number;
}

void XServer::Kill()
{
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

XvncServer::XvncServer(const std::vector<std::string>& extraArgs)
{
    // The server picks a free display itself and writes its number to the pipe.
    // TigerVNC 1.15 refuses to start with neither a port nor a socket to listen
    // on, and 1.12 listens on a port unless told -1: a socket and no port suit both.
    std::vector<std::string> argv = {"Xvnc",          "-displayfd",   "{fd}",
                                     "-SecurityTypes", "None",        "-localhost",
                                     "-rfbunixpath",  dir_.Path() + "/vnc", "-rfbport",
                                     "-1",            "-nolisten",    "tcp",
                                     "-geometry",     "1024x768"};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    Start(argv);
}

XorgDummyServer::XorgDummyServer(const std::vector<std::string>& modelines)
{
    std::string monitor, names;
    for (const std::string& line : modelines) {
        monitor += "  Modeline " + line + "\n";
        const std::string name = line.substr(0, line.find(' '));
        if (names.find(name) == std::string::npos) names += " " + name;
    }
    const std::string config = dir_.Path() + "/xorg.conf";
    std::ofstream(config) << R"(Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 65536
EndSection
Section "Monitor"
  Identifier "monitor"
  HorizSync 5.0-1000.0
  VertRefresh 5.0-1000.0
)" << monitor << R"(EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "monitor"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Modes)" << names << R"(
    Virtual 2048 1536
  EndSubSection
EndSection
Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "DontVTSwitch" "true"
EndSection
)";
    Start({"Xorg", "-displayfd", "{fd}", "-noreset", "-nolisten", "tcp", "-sharevts",
           "-novtswitch", "-config", config, "-configdir", dir_.Path() + "/none", "-logfile",
           dir_.Path() + "/xorg.log"});
}

bool AddModes(const XServer& server, const std::string& output, const std::string& prefix,
              int count, int width, int height)
{
    xcb_connection_t* c = xcb_connect(server.Display().c_str(), nullptr);
    bool ok = !xcb_connection_has_error(c);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    auto* res = ok ? xcb_randr_get_screen_resources_current_reply(
                         c, xcb_randr_get_screen_resources_current(c, root), nullptr)
                   : nullptr;
    xcb_randr_output_t target = 0;
    for (int i = 0; res && i < res->num_outputs; ++i) {
        const xcb_randr_output_t o = xcb_randr_get_screen_resources_current_outputs(res)[i];
        auto* info = xcb_randr_get_output_info_reply(c, xcb_randr_get_output_info(c, o, 0), nullptr);
        if (info && std::string(reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info)),
                                static_cast<size_t>(xcb_randr_get_output_info_name_length(info))) == output)
            target = o;
        std::free(info);
    }
    std::free(res);
    ok = ok && target != 0;
    for (int i = 0; ok && i < count; ++i) {
        const std::string name = prefix + std::to_string(i);
        xcb_randr_mode_info_t info{};
        info.width = static_cast<uint16_t>(width);
        info.height = static_cast<uint16_t>(height);
        info.htotal = static_cast<uint16_t>(std::min(width + 100, 65535));
        info.vtotal = static_cast<uint16_t>(height + 10 + i % 50);
        info.dot_clock = static_cast<uint32_t>(uint64_t{info.htotal} * info.vtotal * 60);
        info.name_len = static_cast<uint16_t>(name.size());
        auto* made = xcb_randr_create_mode_reply(
            c, xcb_randr_create_mode(c, root, info, static_cast<uint32_t>(name.size()), name.c_str()),
            nullptr);
        ok = made != nullptr;
        if (made) {
            xcb_generic_error_t* e = xcb_request_check(c, xcb_randr_add_output_mode_checked(c, target, made->mode));
            ok = e == nullptr;
            std::free(e);
        }
        std::free(made);
    }
    xcb_disconnect(c);
    return ok;
}

CommandResult XServer::Run(const std::vector<std::string>& argv) const
{
    return RunCommand(argv, {DisplayEnv()});
}

const XrandrMode* XrandrOutput::Current() const
{
    for (const XrandrMode& m : modes)
        if (m.current) return &m;
    return nullptr;
}

XrandrOutput QueryXrandr(const XServer& server)
{
    XrandrOutput output;
    const CommandResult r = server.Run({"xrandr", "--verbose"});
    std::istringstream in(r.out);
    const std::regex screen(R"(^Screen \d+: .* current (\d+) x (\d+),)");
    const std::regex head(R"(^(\S+) (connected|disconnected))");
    const std::regex mode(R"(^  (\S+) \((0x[0-9a-f]+)\) .*)");
    const std::regex hline(R"(^        h: width\s+(\d+))");
    const std::regex vline(R"(^        v: height\s+(\d+)(?:.*clock\s+([0-9.]+)Hz)?)");
    std::string line;
    bool inOutput = false;
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_search(line, m, screen)) {
            output.screenWidth = std::stoi(m[1]);
            output.screenHeight = std::stoi(m[2]);
        } else if (std::regex_search(line, m, head)) {
            if (!output.name.empty()) break;
            inOutput = m[2] == "connected";
            if (inOutput) {
                output.name = m[1];
                output.connected = true;
            }
        } else if (inOutput && std::regex_match(line, m, mode)) {
            XrandrMode xm;
            xm.name = m[1];
            xm.id = std::stoul(m[2], nullptr, 16);
            xm.current = line.find("*current") != std::string::npos;
            output.modes.push_back(xm);
        } else if (inOutput && !output.modes.empty() && std::regex_search(line, m, hline)) {
            output.modes.back().width = std::stoi(m[1]);
        } else if (inOutput && !output.modes.empty() && std::regex_search(line, m, vline)) {
            output.modes.back().height = std::stoi(m[1]);
            if (m[2].matched) output.modes.back().refresh = std::stod(m[2]);
        }
    }
    return output;
}

double XrandrRate(const XServer& server, const std::string& name)
{
    for (const XrandrMode& m : QueryXrandr(server).modes)
        if (m.name == name) return m.refresh;
    return 0;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string PlantCommand(const std::string& dir, const std::string& name)
{
    const std::string marker = dir + "/" + name + ".ran";
    const std::string script = dir + "/" + name;
    std::ofstream(script) << "#!/bin/sh\ntouch " << marker << "\nexit 1\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    return marker;
}

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "tavrimo-test-XXXXXX").string();
    if (mkdtemp(tmpl.data()) != nullptr) path_ = tmpl;
}

TempDir::~TempDir()
{
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

namespace {

WindowImage ReadOnce(xcb_connection_t* c, xcb_window_t window)
{
    WindowImage image;
    auto* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
    if (geometry == nullptr) return image;
    auto* reply = xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, geometry->width,
                         geometry->height, ~0u),
        nullptr);
    if (reply != nullptr && reply->depth == 24) {
        const uint8_t* data = xcb_get_image_data(reply);
        image.width = geometry->width;
        image.height = geometry->height;
        image.pixels.assign(data, data + xcb_get_image_data_length(reply));
    }
    std::free(reply);
    std::free(geometry);
    return image;
}

}  // namespace

WindowImage ReadWindowImage(const XServer& server, const std::string& window)
{
    xcb_connection_t* c = xcb_connect(server.Display().c_str(), nullptr);
    WindowImage image;
    if (!xcb_connection_has_error(c)) {
        const auto id = static_cast<xcb_window_t>(std::strtoul(window.c_str(), nullptr, 0));
        image = ReadOnce(c, id);
        for (int i = 0; i < 30 && !image.pixels.empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            WindowImage again = ReadOnce(c, id);
            if (again == image) break;
            image = std::move(again);
        }
    }
    xcb_disconnect(c);
    return image;
}

long DifferingPixels(const WindowImage& a, const WindowImage& b)
{
    if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size())
        return -1;
    long differing = 0;
    // The fourth byte of each pixel is padding.
    for (size_t i = 0; i + 3 < a.pixels.size(); i += 4)
        differing += a.pixels[i] != b.pixels[i] || a.pixels[i + 1] != b.pixels[i + 1] ||
                     a.pixels[i + 2] != b.pixels[i + 2];
    return differing;
}
