// Whole monitor configurations of a Mutter, as a test sets them up and reads
// them back: positions, transforms, modes and each monitor's announced
// properties; and the checks a layout must pass for Mutter to take it.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "mutter_layout.h"

struct ConfigMonitor {
    std::string connector;
    std::string mode;  // Mutter's mode id
};
struct ConfigLogical {
    int x = 0;
    int y = 0;
    unsigned transform = 0;
    bool primary = false;
    std::vector<ConfigMonitor> monitors;
};

// Sends config to the Mutter on busAddress (method 1: temporary, 2:
// persistent); Mutter's error message, empty when it took the config.
std::string ApplyConfig(const std::string& busAddress, const std::vector<ConfigLogical>& config,
                        unsigned method = 1);

struct ReadMonitor {
    std::string connector;
    std::string mode;        // the current mode's id, empty when off
    int width = 0;           // of the current mode
    int height = 0;
    std::string properties;  // the announced a{sv}, printed
};
struct ReadState {
    bool read = false;
    unsigned serial = 0;
    std::vector<ReadMonitor> monitors;
    std::vector<ConfigLogical> logical;
    const ReadMonitor* Monitor(const std::string& connector) const;
    const ConfigLogical* LogicalOf(const std::string& connector) const;
    // The rect of each logical monitor in layout units, at scale 1.
    std::vector<mutter_layout::Rect> Rects() const;
};
ReadState ReadConfig(const std::string& busAddress);

// What Mutter would object to in after as a layout that before became: a
// pair that shared an edge and no longer shares that edge, an overlap, a
// layout that does not start at (0, 0); empty when there is nothing.
std::string LayoutFault(const std::vector<mutter_layout::Rect>& before,
                        const std::vector<mutter_layout::Rect>& after);

// Watches the bus at busAddress as a monitor and keeps the arguments of every
// ApplyMonitorsConfig call that crosses it, printed.
class ApplyCallRecorder {
public:
    explicit ApplyCallRecorder(const std::string& busAddress);
    ~ApplyCallRecorder();
    ApplyCallRecorder(const ApplyCallRecorder&) = delete;
    ApplyCallRecorder& operator=(const ApplyCallRecorder&) = delete;
    bool Watching() const { return connection_ != nullptr; }
    std::vector<std::string> Calls() const;

private:
    struct State {
        mutable std::mutex lock;
        std::vector<std::string> calls;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
    void* connection_ = nullptr;  // GDBusConnection
    unsigned filter_ = 0;
};
