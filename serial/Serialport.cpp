// What the serial port does alike on every system, and the choice between the system's
// serial device and a network port, by the device's name.
#include "serial/Serialport.h"

#include "serial/Netport.h"

#include <cstdio>

bool SerialPort::Open(const char* deviceName, std::uint32_t baudRate, std::uint32_t parity) {
    if (IsOpen()) {
        return false;
    }
    if (!NetPort::IsNetworkName(deviceName)) {
        return DeviceOpen(deviceName, baudRate, parity);
    }
    auto net = std::make_unique<NetPort>();
    SocketError error;
    if (!net->Open(deviceName, baudRate, error)) {
        RecordError(error);
        return false;
    }
    net_ = std::move(net);
    hungUp_ = false;
    return true;
}

void SerialPort::Close() {
    net_.reset();
    DeviceClose();
}

bool SerialPort::IsOpen() const {
    return net_ != nullptr || DeviceIsOpen();
}

bool SerialPort::Read(std::uint8_t* dest, std::uint32_t capacity, std::uint32_t& received,
                      std::uint32_t waitMs) {
    if (!net_) {
        return DeviceRead(dest, capacity, received, waitMs);
    }
    SocketError error;
    bool hungUp = false;
    const bool read = net_->Read(dest, capacity, received, waitMs, blocking_, hungUp, error);
    hungUp_ = hungUp;
    if (!read && error.code != 0) {
        RecordError(error);
    }
    return read;
}

bool SerialPort::Write(const std::uint8_t* src, std::uint32_t count, std::uint32_t* written) {
    if (!net_) {
        return DeviceWrite(src, count, written);
    }
    SocketError error;
    const bool done = net_->Write(src, count, kWriteLimitMs, written, error);
    if (!done && error.code != 0) {
        RecordError(error);
    }
    return done;
}

bool SerialPort::SetBaudRate(std::uint32_t rate) {
    if (!net_) {
        return DeviceSetBaudRate(rate);
    }
    SocketError error;
    if (!net_->SetBaudRate(rate, error)) {
        RecordError(error);
        return false;
    }
    return true;
}

void SerialPort::SetBlocking(bool blocking) {
    DeviceSetBlocking(blocking);
}

void SerialPort::Purge() {
    if (net_) {
        net_->Purge();
    } else {
        DevicePurge();
    }
}

bool SerialPort::RateFixed() const {
    return net_ != nullptr && net_->RateFixed();
}

void SerialPort::RecordError(const SocketError& error) {
    lastError_ = static_cast<std::uint32_t>(error.code);
    std::snprintf(errorText_, sizeof errorText_, "%s", error.text.c_str());
}

std::chrono::milliseconds SerialPort::DrainLimit(std::uint32_t queuedBytes, std::uint32_t rate,
                                                 unsigned bitsPerChar) {
    const std::uint64_t lineMs =
        rate == 0 ? 0 : (std::uint64_t{queuedBytes} * bitsPerChar * 1000 + rate - 1) / rate;
    return std::chrono::milliseconds(lineMs + 1000);
}
