// The display daemons of the X11 desktops that keep a display store of their
// own, each on an X server of the test's, with a private session bus and
// private runtime and config folders: Cinnamon's muffin, Xfce's xfconfd and
// xfsettingsd, and MATE's mate-settings-daemon with only its xrandr plugin.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "compositor.h"

// One daemon process with the session it runs in; Restart() starts it again
// on the same bus, X server and folders.
class DesktopDaemon {
public:
    DesktopDaemon(const DesktopDaemon&) = delete;
    DesktopDaemon& operator=(const DesktopDaemon&) = delete;
    virtual ~DesktopDaemon();

    bool Running() const { return pid_ > 0 && ready_; }
    bool Restart();
    void Stop();
    const std::string& BusAddress() const { return bus_.Address(); }
    const std::string& ConfigHome() const { return config_; }
    // DISPLAY, the bus, XDG_RUNTIME_DIR and XDG_CONFIG_HOME of a client.
    std::vector<std::string> ClientEnv() const;
    // Sets ClientEnv() in this process.
    void Use() const;
    std::string Log() const;

protected:
    DesktopDaemon(const XServer& x, std::string busName, int stopSignal);
    // Starts the daemon; true once it owns its bus name.
    bool Start();
    virtual std::vector<std::string> Command() const = 0;
    virtual std::vector<std::string> ExtraEnv() const { return {}; }

    const XServer& x_;
    TempDir dir_;
    SessionBus bus_;
    std::string runtime_;
    std::string config_;

private:
    std::string busName_;
    int stopSignal_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

// muffin as the window manager of x: Cinnamon's DisplayConfig service.
class MuffinSession final : public DesktopDaemon {
public:
    explicit MuffinSession(const XServer& x);
    ~MuffinSession() override { Stop(); }
    // Answers Cinnamon's "Does the display look OK?" as a user would, with
    // Keep This Configuration or Restore Previous Configuration; false when
    // no such window came.
    bool AnswerConfirmation(bool keep) const;

protected:
    std::vector<std::string> Command() const override;
    std::vector<std::string> ExtraEnv() const override;
};

// xfconfd (started by the test) and xfsettingsd on x.
class XfceSession final : public DesktopDaemon {
public:
    explicit XfceSession(const XServer& x);
    ~XfceSession() override;
    // The value of property in channel displays, as xfconf-query prints it.
    std::string Property(const std::string& property) const;
    bool SetProperty(const std::string& property, const std::string& type,
                     const std::string& value) const;

protected:
    std::vector<std::string> Command() const override;

private:
    pid_t xfconfd_ = -1;
};

// mate-settings-daemon on x with only its xrandr plugin active.
class MateSession final : public DesktopDaemon {
public:
    explicit MateSession(const XServer& x);
    ~MateSession() override { Stop(); }

protected:
    std::vector<std::string> Command() const override;
    std::vector<std::string> ExtraEnv() const override;
};
