// A private X server for one test, and small process helpers around it.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

struct CommandResult {
    int status = -1;  // exit status, or -1 when the command did not run to its end
    std::string out;  // standard output
};

// Runs argv (searched on PATH) with the given extra environment, waits for it
// and returns its exit status and standard output.
CommandResult RunCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env = {});

// Starts argv in the background with the given extra environment; its
// standard error goes to errPath when one is given.
pid_t SpawnCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const std::string& errPath = {});

// Starts argv in its own process group, with "{fd}" in it replaced by a pipe
// on which it reports one line (a display number, a bus address); returns its
// pid and that line, empty when none came within timeoutMs.
pid_t SpawnReadingLine(std::vector<std::string> argv, const std::vector<std::string>& env,
                       std::string* line, int timeoutMs = 15000);

// Ends a background process: SIGTERM, then SIGKILL if it lingers.
void StopProcess(pid_t pid);

// A temporary folder, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// A private X server on a free display number, killed when the object goes.
class XServer {
public:
    XServer() = default;
    virtual ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool Running() const { return pid_ > 0 && !display_.empty(); }
    // Kills the server at once, as a crash would.
    void Kill();
    const std::string& Display() const { return display_; }  // ":N"
    std::string DisplayEnv() const { return "DISPLAY=" + display_; }

    // Runs a command against this server.
    CommandResult Run(const std::vector<std::string>& argv) const;

protected:
    // Starts argv, which has "{fd}" where the server takes -displayfd's value.
    void Start(const std::vector<std::string>& argv);

private:
    pid_t pid_ = -1;
    std::string display_;
};

// TigerVNC's Xvnc without authentication, its VNC side reachable only through a
// socket in a private folder.
class XvncServer final : public XServer {
public:
    explicit XvncServer(const std::vector<std::string>& extraArgs = {});

private:
    TempDir dir_;
};

// Xorg with the dummy video driver, one output (DUMMY0) whose modes are the
// given Modeline bodies ("NAME CLOCK H... V..."), the first current.
class XorgDummyServer final : public XServer {
public:
    explicit XorgDummyServer(const std::vector<std::string>& modelines);

private:
    TempDir dir_;
};

// One mode of an output as `xrandr --verbose` lists it.
struct XrandrMode {
    std::string name;
    unsigned long id = 0;
    int width = 0;
    int height = 0;
    double refresh = 0;  // Hz, as xrandr prints it (two decimals)
    bool current = false;
};

struct XrandrOutput {
    std::string name;
    bool connected = false;
    int screenWidth = 0;
    int screenHeight = 0;
    std::vector<XrandrMode> modes;
    const XrandrMode* Current() const;
};

// The first connected output of `xrandr --verbose` on the server.
XrandrOutput QueryXrandr(const XServer& server);

// The rate xrandr prints for the first of that output's modes named name (each
// TigerVNC has its own rates); 0 where there is none.
double XrandrRate(const XServer& server, const std::string& name);

// Adds count modes named prefix0, prefix1, ... to output, straight through
// RandR (thousands of xrandr runs would take minutes); false on any failure.
bool AddModes(const XServer& server, const std::string& output, const std::string& prefix,
              int count, int width, int height);

// The pixels of a window's inside, row by row, as the server holds them.
struct WindowImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // 4 bytes each
    bool operator==(const WindowImage&) const = default;
};

// The window (an id as xdotool prints it) once its pixels hold still: two
// reads 100 ms apart agree. Empty when it cannot be read.
WindowImage ReadWindowImage(const XServer& server, const std::string& window);

// How many pixels differ between two images of one size; -1 when the sizes differ.
long DifferingPixels(const WindowImage& a, const WindowImage& b);

// The whole of a file; empty when it cannot be read.
std::string ReadFile(const std::string& path);

// Writes a stand-in for the command name into dir (to put first on PATH)
// that fails and only leaves a file behind; returns that file's path.
std::string PlantCommand(const std::string& dir, const std::string& name);

