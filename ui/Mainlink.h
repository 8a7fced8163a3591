#pragma once
// What the other windows need of the main window, without knowing it. The main window
// opens every other window, so it stands above them all; the few things they ask of it
// go through this link, which the main window sets up when it is made:
//   - the count of messages the receive monitor understood and the id of the last
//     binary one, by which the Open Port dialog's automatic search tells that the
//     receiver answered;
//   - its 100 ms poll, which the software loader stops while it owns the port;
//   - the window itself, which the software loader disables during a load.

#include <cstdint>

class MainLink {
public:
    virtual std::int32_t MessageCount() const = 0;
    virtual int LastMessageId() const = 0;
    virtual void SetPolling(bool running) = 0;
    virtual void SetMainEnabled(bool enabled) = 0;

protected:
    ~MainLink() = default;
};

// The main window while it exists; nullptr before and after.
extern MainLink* MainWindow;
