#pragma once
// Runs kestrane-cli as a subprocess, as a script would: its standard output and standard
// error kept apart, the device list made of the test's own devices (KESTRANE_EXTRA_PORTS
// over an empty sysfs tree, never the machine's serial ports), and its exit status.
// While it runs, `during` (if given) is called every 100 ms or so and whenever it has
// written something, with its process id and what it has written so far, so a test can
// feed its device or interrupt it. Its standard input is `input` when given, else
// /dev/null.

#include "tests/common/Tempdir.h"

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

struct CliResult {
    int status = -1; // the exit status; -1 when it could not be run or did not end
    std::string out;
    std::string err;
};

// Runs command (the program's path first) with env as its whole environment; as above
// for the rest.
inline CliResult RunProgram(const std::vector<std::string>& command,
                            const std::vector<std::string>& env, std::chrono::seconds timeout,
                            const std::function<void(pid_t, const CliResult&)>& during = {},
                            int input = -1);

// The test's environment with the device list made of devices over the sysfs tree.
inline std::vector<std::string> CliEnvironment(const std::vector<std::string>& devices,
                                               const std::string& sysfs) {
    std::string extra;
    for (const std::string& d : devices)
        extra += (extra.empty() ? "" : ":") + d;
    std::vector<std::string> env = {"KESTRANE_EXTRA_PORTS=" + extra, "KESTRANE_SYSFS_TTY=" + sysfs};
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("KESTRANE_EXTRA_PORTS=", 0) != 0 && entry.rfind("KESTRANE_SYSFS_TTY=", 0) != 0)
            env.push_back(entry);
    }
    return env;
}

inline CliResult RunCliProgram(const std::vector<std::string>& args,
                               const std::vector<std::string>& devices,
                               const std::string& sysfs,
                               std::chrono::seconds timeout = std::chrono::seconds(60),
                               const std::function<void(pid_t, const CliResult&)>& during = {},
                               int input = -1) {
    std::vector<std::string> command = args;
    command.insert(command.begin(), KESTRANE_CLI_PROGRAM);
    return RunProgram(command, CliEnvironment(devices, sysfs), timeout, during, input);
}

// Runs the program with args inside a bash script, as a script would use it: the script
// names the program as "$0" and its arguments as "$@", for example
// 'set -o pipefail; "$0" "$@" | head -n 1' or '"$0" "$@" > /dev/full'. The status is the
// script's.
inline CliResult RunCliInShell(const std::string& script, const std::vector<std::string>& args,
                               const std::vector<std::string>& devices,
                               const std::string& sysfs,
                               std::chrono::seconds timeout = std::chrono::seconds(60),
                               const std::function<void(pid_t, const CliResult&)>& during = {}) {
    std::vector<std::string> command = {"/bin/bash", "-c", script, KESTRANE_CLI_PROGRAM};
    command.insert(command.end(), args.begin(), args.end());
    return RunProgram(command, CliEnvironment(devices, sysfs), timeout, during);
}

inline CliResult RunProgram(const std::vector<std::string>& command,
                            const std::vector<std::string>& environment,
                            std::chrono::seconds timeout,
                            const std::function<void(pid_t, const CliResult&)>& during,
                            int input) {
    CliResult result;
    std::vector<std::string> env = environment;
    std::vector<std::string> argvText = command;
    std::vector<char*> argv;
    for (std::string& a : argvText)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return result;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    if (input >= 0)
        posix_spawn_file_actions_adddup2(&actions, input, 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // Nothing else of the test's: a pseudo-terminal's master side held by the program too
    // would keep its line from ever hanging up.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, argvText.front().c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* texts[2] = {&result.out, &result.err};
    int open = spawned == 0 ? 2 : 0;
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
        const int ready = poll(fds, 2, 100);
        if (during)
            during(pid, result);
        if (ready <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char chunk[4096];
            const ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                texts[i]->append(chunk, static_cast<std::size_t>(n));
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    close(out[0]);
    close(err[0]);
    if (spawned != 0)
        return result;
    if (open > 0)
        kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    if (open == 0 && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    return result;
}
