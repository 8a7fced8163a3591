#pragma once
// The serial side of the end of a load, the same wherever a load runs (the Load
// Software window, the command line): the port goes back to the rate it had before
// the load, or is closed when its device has gone; the receiver's outputs are put
// back as the after-load dialogue decides; and its Configuration report is asked for,
// so the engine's progress can be followed.

#include "loader/Afterload.h"
#include "serial/Serialport.h"

#include <cstdint>
#include <string>

// Closes the port if it is open and opens device again at rate with parity none.
// False when the open failed (the caller shows "Error Changing Baud Rate").
bool ReopenLoadPort(SerialPort& port, const std::string& device, std::uint32_t rate);

// Writes the Output request for the Configuration report.
void RequestConfigurationReport(SerialPort& port);

// Writes an Output configuration with the flags of outputs and the given port rate;
// nothing when outputs.send is false.
void WriteOutputConfiguration(SerialPort& port, const OutputConfiguration& outputs,
                              std::uint32_t rate);

enum class LoadPortEnd : std::uint8_t {
    Unchanged,    // the load ran at the loader's own rate; nothing to reopen
    Reopened,     // back at the rate it had before the load
    ReopenFailed, // the open at that rate failed
    Closed,       // the line had gone: the port is closed, nothing is reopened
};

// The port after a load that started at savedRate on device.
LoadPortEnd RestoreLoadPort(SerialPort& port, const std::string& device, std::uint32_t savedRate,
                            bool lineGone);

// The frames that close every load: the outputs the after-load dialogue gives, then the
// request for the Configuration report.
void SendEndOfLoadFrames(SerialPort& port, const OutputConfiguration& outputs,
                         std::uint32_t rate);
