#include "cli/Receive.h"

#include "proto/Port.h"

bool ReceiveTick(RxSink& sink) {
    std::uint32_t received = 0;
    if (!CommPort.IsOpen() ||
        !CommPort.Read(RxBuffer, static_cast<std::uint32_t>(kRxBufferSize), received, 0)) {
        return false;
    }
    if (received > kRxBufferSize) {
        received = kRxBufferSize;
    }
    for (std::uint32_t i = 0; i < received; ++i) {
        const std::uint8_t b = RxBuffer[i];
        if (DiagFramer.ProcessByte(b)) {
            sink.OnFrame(DiagFramer.GetMsg(), DiagFramer.GetMsgLen());
        }
        if (LineFramer.ProcessByte(b)) {
            sink.OnLine(LineFramer.GetMsg(), LineFramer.GetMsgLen());
        }
    }
    return true;
}
