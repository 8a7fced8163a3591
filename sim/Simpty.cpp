#include "sim/Simpty.h"

#include "sim/Simline.h"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace {

timespec ToTimespec(std::chrono::nanoseconds d) {
    if (d.count() < 0) {
        d = std::chrono::nanoseconds(0);
    }
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(d.count() / 1'000'000'000);
    ts.tv_nsec = static_cast<long>(d.count() % 1'000'000'000);
    return ts;
}

} // namespace

bool SimPty::Open(std::uint32_t rate, int& error) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        error = errno;
        return false;
    }
    char name[128] = {};
    if (grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        error = errno;
        ::close(master);
        return false;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        error = errno;
        ::close(master);
        return false;
    }
    termios t{};
    if (tcgetattr(slave, &t) == 0) {
        cfmakeraw(&t);
        speed_t speed;
        if (SpeedFromRate(rate, speed)) {
            cfsetispeed(&t, speed);
            cfsetospeed(&t, speed);
        }
        tcsetattr(slave, TCSANOW, &t);
    }
    ::close(slave);
    const int flags = fcntl(master, F_GETFL);
    const int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    const int ep = epoll_create1(EPOLL_CLOEXEC);
    epoll_event masterEvent{};
    masterEvent.events = EPOLLIN | EPOLLET;
    masterEvent.data.fd = master;
    epoll_event wakeEvent{};
    wakeEvent.events = EPOLLIN;
    wakeEvent.data.fd = wake;
    if (flags < 0 || fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0 || wake < 0 || ep < 0 ||
        epoll_ctl(ep, EPOLL_CTL_ADD, master, &masterEvent) != 0 ||
        epoll_ctl(ep, EPOLL_CTL_ADD, wake, &wakeEvent) != 0) {
        error = errno;
        for (int fd : {ep, wake, master}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        return false;
    }
    master_ = master;
    wake_ = wake;
    epoll_ = ep;
    path_ = name;
    return true;
}

void SimPty::Close() {
    for (int* fd : {&master_, &wake_, &epoll_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

std::uint32_t SimPty::PcRate() const {
    termios t{};
    if (master_ < 0 || tcgetattr(master_, &t) != 0) {
        return 0;
    }
    return RateFromSpeed(cfgetospeed(&t));
}

void SimPty::Wake() {
    if (wake_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
    }
}

SimPty::State SimPty::Wait(std::chrono::nanoseconds sleep) {
    epoll_event events[2];
    const timespec ts = ToTimespec(sleep);
    const int ready = epoll_pwait2(epoll_, events, 2, &ts, nullptr);
    for (int i = 0; i < ready; ++i) {
        if (events[i].data.fd == wake_) {
            std::uint64_t count;
            [[maybe_unused]] const ssize_t n = ::read(wake_, &count, sizeof count);
        }
    }
    pollfd master{master_, POLLIN, 0};
    poll(&master, 1, 0);
    return State{(master.revents & POLLHUP) != 0, (master.revents & POLLIN) != 0};
}

ssize_t SimPty::Read(std::uint8_t* buffer, std::size_t n) {
    return ::read(master_, buffer, n);
}

void SimPty::Write(const std::uint8_t* data, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(master_, data, n);
        if (w <= 0) {
            break; // the PC's input queue is full: the rest is lost as on an overrun
        }
        data += w;
        n -= static_cast<std::size_t>(w);
    }
}
