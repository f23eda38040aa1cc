// What the stores that ask a daemon over its Unix socket share: the socket's
// descriptor, closed with its owner, and the time left to a deadline.
#pragma once

#include <unistd.h>

#include <chrono>

class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// Milliseconds from now to deadline, for poll(2); 0 once it has passed.
inline int RemainingMs(std::chrono::steady_clock::time_point deadline)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
    return ms > 0 ? static_cast<int>(ms) : 0;
}
