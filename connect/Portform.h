#pragma once
// The Open Port dialog: where the user chooses the serial device and the baud rate.
// For now it only does its duties toward the rest of the program at start-up: it
// lists the devices, makes the first one and 19200 the port manager's current
// choice and has the main window show them.

#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>

#include "connect/Regutils.h"
#include "ui/Windowrect.h"

namespace Ui {
class TFormPort;
}

class TFormPort : public QWidget {
    Q_OBJECT
public:
    explicit TFormPort(QWidget* parent = nullptr);
    ~TFormPort() override;

    // Shows the dialog modelessly; placed over rect on its first showing only.
    void ShowOver(const WindowRect& rect);
    // Called at the end of every main window tick to advance an automatic search.
    void CheckSearch();

    // The selection last read from the controls; BaudRate also follows the port
    // manager's rate at every status notification. Read by the software loader.
    std::string DeviceName;
    std::uint32_t BaudRate = 19200;

private:
    std::unique_ptr<Ui::TFormPort> ui;
    DeviceList DeviceNames;
    bool Positioned = false;
};

extern TFormPort* FormPort;
