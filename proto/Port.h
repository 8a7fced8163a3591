#pragma once
// The port manager: the program-wide objects through which every window reaches the
// receiver. One serial port, the two framers that every received byte is fed to (the
// binary one first, then the line one), the block that each poll reads into, the name
// and rate of the port in use, and the table that routes each received binary frame by
// its id to the one recipient registered for that id.
//
// Everything here is used from the user-interface thread only.

#include "proto/Crlfproto.h"
#include "proto/Diagproto.h"
#include "serial/Serialport.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

// Called with the whole frame (from its "$") and its total length. The frame is valid
// only for the duration of the call; a recipient that needs it later copies it.
using MsgCallback = std::function<void(const std::uint8_t* frame, int length)>;

struct MsgRecipient {
    void* owner = nullptr;  // the registering object; kept, not used by dispatch
    MsgCallback callback;   // empty: the id is ignored
    std::uint8_t flags = 0; // kept, not used by dispatch; always 0
};

inline constexpr std::size_t kRxBufferSize = 1024;

extern SerialPort CommPort;
extern DiagProto DiagFramer;
extern CRLFProto LineFramer;
extern std::uint8_t RxBuffer[kRxBufferSize];
extern std::string PortDeviceName;
extern std::int32_t PortBaudRate;
extern std::map<std::uint8_t, MsgRecipient> Recipients;

// Makes {owner, callback, flags} the recipient of id, replacing any earlier one.
// Registrations last for the whole run. Not to be called from inside a callback.
void RegisterRecipient(std::uint8_t id, void* owner, MsgCallback callback, std::uint8_t flags);

// Calls the recipient of the frame's id (frame offset 2), if there is one with a callback.
// Frames too short to carry an id are ignored. Allocates nothing.
void DispatchMsg(const std::uint8_t* frame, int length);

// The main window installs the hook that refreshes its port panel. NotifyPortChanged calls
// it after PortDeviceName, PortBaudRate or the open state changed; without a hook it does
// nothing.
void SetPortChangedHook(std::function<void()> hook);
void NotifyPortChanged();
