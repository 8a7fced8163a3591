#include "cli/Receive.h"

#include "proto/Pollport.h"
#include "proto/Port.h"

namespace {

// The core's receive step hands its messages to a command's sink.
class SinkAdapter : public PollSink {
public:
    explicit SinkAdapter(RxSink& sink) : sink_(sink) {}
    void FrameReceived(const std::uint8_t* frame, std::size_t length) override {
        sink_.OnFrame(frame, static_cast<int>(length));
    }
    void LineReceived(const std::uint8_t* line, std::size_t length) override {
        sink_.OnLine(line, static_cast<int>(length));
    }
    void PortHungUp() override {}

private:
    RxSink& sink_;
};

} // namespace

bool ReceiveTick(RxSink& sink) {
    SinkAdapter adapter(sink);
    return PollPort(CommPort, DiagFramer, LineFramer, RxBuffer, adapter) == PollResult::Polled;
}
