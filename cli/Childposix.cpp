// A batch's children on POSIX systems: posix_spawn, pipes, SIGINT.
#include "cli/Child.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

struct ChildProcess::Handles {
    pid_t pid = -1;
    int input = -1; // the write end of its standard input, with input only
};

namespace {

// Reads fd to its end into queue; closes it.
void ReadToEnd(int fd, std::size_t unit, bool error, ChildQueue& queue) {
    ReadOutputToEnd(unit, error, queue, [fd](char* block, std::size_t size) -> std::size_t {
        for (;;) {
            const ssize_t got = read(fd, block, size);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            return got > 0 ? static_cast<std::size_t>(got) : 0;
        }
    });
    close(fd);
}

void CloseBoth(int fds[2]) {
    for (int i = 0; i < 2; ++i) {
        if (fds[i] >= 0) {
            close(fds[i]);
            fds[i] = -1;
        }
    }
}

} // namespace

ChildProcess::ChildProcess() = default;

ChildProcess::~ChildProcess() {
    if (handles_ && handles_->pid > 0 && !waited_) {
        Wait();
    }
    JoinReaders();
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         bool input, std::size_t unit, ChildQueue& queue, std::string& error) {
    // Every end is close-on-exec, so no child holds another child's pipe open and each
    // output ends when its own child does.
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    int in[2] = {-1, -1};
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 ||
        (input && pipe2(in, O_CLOEXEC) != 0)) {
        error = std::strerror(errno);
        CloseBoth(out);
        CloseBoth(err);
        CloseBoth(in);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input) {
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    // Nothing else of ours: a device held open here as well would never hang up.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    // A group of its own: Ctrl-C on the terminal reaches the batch alone, which passes
    // it on, so a child never sees it twice.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF |
                                        POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(out[1]);
    close(err[1]);
    if (input) {
        close(in[0]);
    }
    if (spawned != 0) {
        error = std::strerror(spawned);
        close(out[0]);
        close(err[0]);
        if (input) {
            close(in[1]);
        }
        return false;
    }
    handles_ = std::make_unique<Handles>();
    handles_->pid = pid;
    handles_->input = input ? in[1] : -1;
    readers_.emplace_back(ReadToEnd, out[0], unit, false, std::ref(queue));
    readers_.emplace_back(ReadToEnd, err[0], unit, true, std::ref(queue));
    return true;
}

void ChildProcess::Interrupt() {
    if (handles_ && handles_->pid > 0 && !waited_) {
        kill(handles_->pid, SIGINT);
    }
}

bool ChildProcess::Input(const std::string& text) {
    if (!handles_ || handles_->input < 0) {
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = write(handles_->input, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false; // it has ended (EPIPE: SIGPIPE is ignored)
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

void ChildProcess::CloseInput() {
    if (handles_ && handles_->input >= 0) {
        close(handles_->input);
        handles_->input = -1;
    }
}

int ChildProcess::Wait() {
    if (!handles_ || handles_->pid <= 0) {
        return -1;
    }
    if (!waited_) {
        JoinReaders();
        CloseInput();
        int raw = 0;
        pid_t got = -1;
        do {
            got = waitpid(handles_->pid, &raw, 0);
        } while (got < 0 && errno == EINTR);
        waited_ = true;
        if (got < 0) {
            status_ = -1;
        } else if (WIFEXITED(raw)) {
            status_ = WEXITSTATUS(raw);
        } else if (WIFSIGNALED(raw)) {
            status_ = 128 + WTERMSIG(raw);
        }
    }
    return status_;
}

std::string RunningProgramPath(const std::string& fallback) {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return fallback;
    }
    return std::string(path, static_cast<std::size_t>(length));
}

bool ReadStandardInputByte(char& c) {
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return got == 1;
    }
}
