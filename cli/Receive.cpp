#include "cli/Receive.h"

#include "proto/Port.h"

bool ReceiveTick(PollSink& sink) {
    return PollPort(CommPort, DiagFramer, LineFramer, RxBuffer, sink) == PollResult::Polled;
}
