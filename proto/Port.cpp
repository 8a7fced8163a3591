#include "proto/Port.h"

#include <utility>

SerialPort CommPort;
DiagProto DiagFramer;
CRLFProto LineFramer;
std::uint8_t RxBuffer[kRxBufferSize];
std::string PortDeviceName;
std::int32_t PortBaudRate = 0;
std::map<std::uint8_t, MsgRecipient> Recipients;

namespace {
std::function<void()> portChangedHook;
}

void RegisterRecipient(std::uint8_t id, void* owner, MsgCallback callback, std::uint8_t flags) {
    MsgRecipient& entry = Recipients[id];
    entry.owner = owner;
    entry.callback = std::move(callback);
    entry.flags = flags;
}

void DispatchMsg(const std::uint8_t* frame, int length) {
    if (frame == nullptr || length <= static_cast<int>(kFrameIdOffset)) {
        return;
    }
    const auto it = Recipients.find(frame[kFrameIdOffset]);
    if (it != Recipients.end() && it->second.callback) {
        it->second.callback(frame, length);
    }
}

void SetPortChangedHook(std::function<void()> hook) {
    portChangedHook = std::move(hook);
}

void NotifyPortChanged() {
    if (portChangedHook) {
        portChangedHook();
    }
}
