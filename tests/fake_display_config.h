// A DisplayConfig of the tests' own on a session bus, for what no Mutter on
// this machine produces: the monitor settings newer Mutters announce, mirrors
// with no common size, refusals for a stale serial. It answers
// GetCurrentState with a fixed state and records each ApplyMonitorsConfig.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeDisplayConfig {
public:
    // state: GetCurrentState's reply after the serial, in GVariant text:
    // "([monitors], [logical monitors], {properties})".
    FakeDisplayConfig(const std::string& busAddress, const std::string& state);
    ~FakeDisplayConfig();
    FakeDisplayConfig(const FakeDisplayConfig&) = delete;
    FakeDisplayConfig& operator=(const FakeDisplayConfig&) = delete;
    bool Running() const { return ready_; }

    // Refuses the next count calls with AccessDenied and message; with
    // moveSerial, as a configuration changed meanwhile would, the serial moves.
    void Refuse(int count, const std::string& message, bool moveSerial);
    // Answers GetCurrentState with state from now on; false where it does not parse.
    bool SetState(const std::string& state);
    // Each ApplyMonitorsConfig's parameters, printed.
    std::vector<std::string> Calls();

    struct Shared;

private:
    void Run(std::string address, std::string state);

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable started_;
    bool ready_ = false;
    bool done_ = false;
    Shared* shared_ = nullptr;
};
