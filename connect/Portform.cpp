#include "connect/Portform.h"

#include "proto/Port.h"
#include "ui_Portform.h"

TFormPort* FormPort = nullptr;

TFormPort::TFormPort(QWidget* parent) : QWidget(parent, Qt::Window), ui(new Ui::TFormPort) {
    ui->setupUi(this);
    // With no device list from the system the two classic ports are offered.
    if (!EnumerateSerialDevices(DeviceNames)) {
        DeviceNames.push_back("/dev/ttyS0");
        DeviceNames.push_back("/dev/ttyS1");
    }
    DeviceName = DeviceNames.empty() ? std::string() : std::string(DeviceNames.front());
    PortDeviceName = DeviceName;
    BaudRate = 19200;
    PortBaudRate = 19200;
    NotifyPortChanged();
}

TFormPort::~TFormPort() = default;

void TFormPort::ShowOver(const WindowRect& rect) {
    if (!Positioned) {
        move(CentreOver(rect, frameGeometry().width(), frameGeometry().height(), true));
        Positioned = true;
    }
    show();
}

void TFormPort::CheckSearch() {}
