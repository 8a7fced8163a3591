#pragma once
// Debian's ser2net, started by a test on loopback in front of a device of the test's own
// (a pseudo-terminal, the simulated receiver's line): an RFC 2217 accepter and a raw TCP
// accepter on two free ports, no lock files, in the foreground, and stopped (or killed,
// as a server that dies) by the test.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

// A port on loopback that is free now.
inline int FreeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

// Whether something listens on the loopback port: it cannot be bound. (Asking by
// connecting would give ser2net a client to serve and keep it busy.)
inline bool Listening(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool taken = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno == EADDRINUSE;
    close(fd);
    return taken;
}

class Ser2net {
public:
    // device: the line ser2net serves, at rate with 8N1 until a client asks otherwise.
    Ser2net(const std::string& device, unsigned rate, const std::string& dir) {
        rfc2217Port_ = FreeLoopbackPort();
        rawPort_ = FreeLoopbackPort();
        const std::string config = dir + "/ser2net.yaml";
        std::ofstream(config) << "%YAML 1.1\n---\n"
                              << "connection: &rfc\n"
                              << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << rfc2217Port_ << "\n"
                              << "  connector: serialdev," << device << "," << rate << "n81,local\n"
                              << "  options:\n    kickolduser: true\n"
                              << "connection: &raw\n"
                              << "  accepter: tcp,127.0.0.1," << rawPort_ << "\n"
                              << "  connector: serialdev," << device << "," << rate << "n81,local\n"
                              << "  options:\n    kickolduser: true\n";
        const std::string pid = dir + "/ser2net.pid";
        std::string args[] = {"ser2net", "-n", "-u", "-c", config, "-P", pid};
        char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(),
                        args[4].data(), args[5].data(), args[6].data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        // None of the test's descriptors: a pseudo-terminal master held by ser2net would
        // keep its line from ever hanging up.
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        if (posix_spawnp(&pid_, "ser2net", &actions, nullptr, argv, environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 100 && pid_ > 0 && !(Listening(rfc2217Port_) && Listening(rawPort_)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~Ser2net() { Stop(SIGTERM); }
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    bool ok() const { return pid_ > 0 && Listening(rfc2217Port_) && Listening(rawPort_); }
    std::string Rfc2217() const { return "rfc2217://127.0.0.1:" + std::to_string(rfc2217Port_); }
    std::string Raw() const { return "tcp://127.0.0.1:" + std::to_string(rawPort_); }

    // Ends the server (SIGKILL: it dies without closing a connection in good order).
    void Stop(int signal) {
        if (pid_ <= 0)
            return;
        kill(pid_, signal);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int rfc2217Port_ = 0;
    int rawPort_ = 0;
};
