// A whole GNOME Shell for one test: gnome-shell nested in an X server's
// window with two dummy monitors (LVDS1, LVDS2, modes kDummyModes), on a
// session bus and a stand-in system bus of its own, with accessibility on so
// that the test can read what the shell shows.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "compositor.h"

class GnomeShellSession {
public:
    explicit GnomeShellSession(const XServer& x);
    ~GnomeShellSession();
    GnomeShellSession(const GnomeShellSession&) = delete;
    GnomeShellSession& operator=(const GnomeShellSession&) = delete;

    bool Running() const { return pid_ > 0 && started_; }
    const std::string& BusAddress() const { return bus_.Address(); }
    const std::string& ConfigHome() const { return config_; }
    std::string Log() const;

    // The texts of the labels and buttons of the dialog the shell shows, once
    // one shows (within timeoutMs), read through AT-SPI; empty if none did.
    std::vector<std::string> DialogTexts(int timeoutMs) const;
    // Presses key (an xdotool key name) in the shell's window.
    bool Key(const std::string& key) const;

private:
    const XServer& x_;
    TempDir dir_;
    SessionBus bus_;
    SessionBus systemBus_;  // logind's bus, where the shell finds no one
    std::string runtime_;
    std::string config_;
    pid_t launcher_ = -1;
    pid_t pid_ = -1;
    bool started_ = false;
};
