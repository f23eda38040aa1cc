// Times the display layer the registry picks in this session, in process.
//   bench_layer LINE RUNS [RESET...]
// Prints "output NAME", "fill MS" (opening the layer and reading its list),
// then RUNS lines "tavrimo MS RESULT", each the persistent switch to line
// LINE; RESET, when given, is run (and waited for) before each switch.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "backend_registry.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

void Run(const std::vector<std::string>& argv)
{
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    waitpid(pid, nullptr, 0);
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_layer LINE RUNS [RESET...]\n");
        return 2;
    }
    const int line = std::atoi(argv[1]);
    const int runs = std::atoi(argv[2]);
    const std::vector<std::string> reset(argv + 3, argv + argc);
    const auto t0 = Clock::now();
    const ChosenBackend chosen =
        ChooseBackend(CompiledBackends(), std::getenv("TAVRIMO_DISPLAY_BACKEND"));
    DspMode mode{};
    std::vector<DspMode> modes;
    for (int32_t i = 0; chosen.settings->EnumDisplaySettingsA(nullptr, i, &mode) == dsp::kEnumOk; ++i)
        modes.push_back(mode);
    const auto t1 = Clock::now();
    if (line < 0 || static_cast<size_t>(line) >= modes.size()) {
        std::fprintf(stderr, "bench_layer: no line %d (%s)\n", line, chosen.diagnostic.c_str());
        return 1;
    }
    std::printf("output %s\nfill %.3f\n", modes[0].dmDeviceName, Ms(t0, t1));
    for (int run = 0; run < runs; ++run) {
        if (!reset.empty()) Run(reset);
        const auto a = Clock::now();
        const int32_t result =
            chosen.settings->ChangeDisplaySettingsA(&modes[static_cast<size_t>(line)],
                                                    dsp::kUpdateRegistry);
        std::printf("tavrimo %.3f %d\n", Ms(a, Clock::now()), result);
        std::fflush(stdout);
    }
    return 0;
}
