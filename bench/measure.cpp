// bench_measure [--before CMD] [--check CMD] [--until PATH] NAME RUNS -- OURS... -- REFERENCE...
// Runs the two commands alternately, RUNS times each, then prints one Markdown table row each for
// wall time, CPU time (user + system) and peak RSS: both sides' median (min–max, spread) and the
// ratio of the medians, a side's spread being (max - min) / median. Where /proc/stat tells it, a
// fourth row gives the machine's busy CPU time over the run, every process's: the server's and the
// kernel's writeback count too, which bounds what two sides on the same cores can gain. --before
// runs in /bin/sh before every run, --check after each side's first run and must succeed; with
// --until a run ends, the command stopped, once PATH exists. The commands' standard output goes to
// standard error, so that standard output holds the rows alone. Without Qt: on Linux a child's peak
// RSS starts at that of the process that spawned it.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

struct Cost {
    double wall = 0, cpu = 0, rssMiB = 0, machineCpu = 0;
};

[[noreturn]] void fail(const std::string &message) {
    std::fprintf(stderr, "bench_measure: %s\n", message.c_str());
    std::exit(1);
}

void shell(const std::string &command) {
    if (!command.empty() && std::system(command.c_str()) != 0)
        fail("failed: " + command);
}

double seconds(const timeval &time) {
    return double(time.tv_sec) + double(time.tv_usec) / 1e6;
}

// Seconds the machine's cores have been busy since its start (idle and I/O wait left out); -1
// where /proc/stat is not there.
double machineBusySeconds() {
    std::ifstream stat("/proc/stat");
    std::string cpu;
    if (!(stat >> cpu) || cpu != "cpu")
        return -1;
    double busy = 0, ticks = 0;
    for (int field = 0; field < 8 && stat >> ticks; ++field)
        if (field != 3 && field != 4)
            busy += ticks;
    return busy / double(sysconf(_SC_CLK_TCK));
}

Cost measure(const std::vector<char *> &command, const std::string &until) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    const double busyBefore = machineBusySeconds();
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, command[0], &actions, nullptr, command.data(), environ) != 0)
        fail(std::string("cannot start ") + command[0]);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    bool arrived = false;
    while (wait4(pid, &status, until.empty() ? 0 : WNOHANG, &usage) == 0 &&
           !(arrived = access(until.c_str(), F_OK) == 0))
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double machineCpu = busyBefore < 0 ? -1 : machineBusySeconds() - busyBefore;
    if (arrived) {
        kill(pid, SIGTERM);
        wait4(pid, &status, 0, &usage);
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fail(std::string(command[0]) + " failed");
    }
    return {wall, seconds(usage.ru_utime) + seconds(usage.ru_stime), double(usage.ru_maxrss) / 1024,
            machineCpu};
}

void printRow(const std::string &name, const char *measure, const char *unit, double Cost::*field,
              const std::vector<Cost> (&costs)[2]) {
    double medians[2];
    std::printf("| %s, %s ", name.c_str(), measure);
    for (int side = 0; side < 2; ++side) {
        std::vector<double> values;
        for (const Cost &cost : costs[side])
            values.push_back(cost.*field);
        std::sort(values.begin(), values.end());
        const size_t middle = values.size() / 2;
        medians[side] =
            values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
        std::printf("| %.3g %s (%.3g–%.3g, spread %.0f%%) ", medians[side], unit, values.front(),
                    values.back(), 100 * (values.back() - values.front()) / medians[side]);
    }
    std::printf("| %.3f |\n", medians[0] / medians[1]);
}

} // namespace

int main(int argc, char **argv) {
    std::map<std::string, std::string> options{{"--before", ""}, {"--check", ""}, {"--until", ""}};
    int arg = 1;
    for (; arg + 1 < argc && options.count(argv[arg]); arg += 2)
        options[argv[arg]] = argv[arg + 1];
    std::vector<char *> commands[2];
    for (int i = arg + 3, side = 0; i < argc; ++i) {
        if (side == 0 && std::strcmp(argv[i], "--") == 0)
            side = 1;
        else
            commands[side].push_back(argv[i]);
    }
    if (argc - arg < 5 || std::strcmp(argv[arg + 2], "--") != 0 || std::atoi(argv[arg + 1]) < 1 ||
        commands[0].empty() || commands[1].empty())
        fail(
            "usage: bench_measure [--before CMD] [--check CMD] [--until PATH] NAME RUNS -- OURS... "
            "-- REFERENCE...");
    const std::string name = argv[arg];
    const int runs = std::atoi(argv[arg + 1]);
    for (std::vector<char *> &command : commands)
        command.push_back(nullptr);

    std::vector<Cost> costs[2];
    for (int run = 0; run < runs; ++run) {
        for (int turn = 0; turn < 2; ++turn) {
            const int side = (run + turn) % 2; // neither side always meets the warmer cache
            shell(options["--before"]);
            const Cost cost = measure(commands[side], options["--until"]);
            std::fprintf(stderr,
                         "%s, run %d, %-9s wall %.3f s, CPU %.3f s, peak RSS %.1f MiB, machine "
                         "CPU %.2f s\n",
                         name.c_str(), run + 1, side ? "reference" : "ours", cost.wall, cost.cpu,
                         cost.rssMiB, cost.machineCpu);
            if (run == 0)
                shell(options["--check"]);
            costs[side].push_back(cost);
        }
    }
    printRow(name, "wall", "s", &Cost::wall, costs);
    printRow(name, "CPU", "s", &Cost::cpu, costs);
    printRow(name, "peak RSS", "MiB", &Cost::rssMiB, costs);
    if (costs[0].front().machineCpu >= 0)
        printRow(name, "machine CPU, every process", "s", &Cost::machineCpu, costs);
}
