#include "loader/Loadend.h"

#include "loader/Loadsequence.h"
#include "proto/Memoutils.h"

bool ReopenLoadPort(SerialPort& port, const std::string& device, std::uint32_t rate) {
    if (port.IsOpen()) {
        port.Close();
    }
    return port.Open(device.c_str(), rate, 0);
}

void RequestConfigurationReport(SerialPort& port) {
    std::uint8_t frame[kRequestMsgLen + 1];
    port.Write(frame, BuildRequestMsg(kMsgConfigReport, frame));
}

void WriteOutputConfiguration(SerialPort& port, const OutputConfiguration& outputs,
                              std::uint32_t rate) {
    if (!outputs.send) {
        return;
    }
    std::uint8_t frame[kPortConfigMsgLen];
    port.Write(frame, BuildPortConfigMsg(0, outputs.binaryFlags, outputs.nmeaFlags, rate, frame));
}

LoadPortEnd RestoreLoadPort(SerialPort& port, const std::string& device, std::uint32_t savedRate,
                            bool lineGone) {
    if (lineGone) {
        port.Close();
        return LoadPortEnd::Closed;
    }
    if (savedRate == LoadSequence::kLoaderBaudRate) {
        return LoadPortEnd::Unchanged;
    }
    return ReopenLoadPort(port, device, savedRate) ? LoadPortEnd::Reopened
                                                   : LoadPortEnd::ReopenFailed;
}

void SendEndOfLoadFrames(SerialPort& port, const OutputConfiguration& outputs,
                         std::uint32_t rate) {
    WriteOutputConfiguration(port, outputs, rate);
    RequestConfigurationReport(port);
}
