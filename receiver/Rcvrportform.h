#pragma once
// The Receiver Setup dialog. For now it only takes its place in the message routing:
// it is the recipient of the Configuration report (4) and the Corrections status
// report (1), and passes every report on to the Load Software dialog.

#include <QWidget>
#include <cstdint>
#include <memory>

#include "ui/Windowrect.h"

namespace Ui {
class TFormRcvrPort;
}

class TFormRcvrPort : public QWidget {
    Q_OBJECT
public:
    explicit TFormRcvrPort(QWidget* parent = nullptr);
    ~TFormRcvrPort() override;

    // Shows the dialog modelessly; placed over rect on its first showing only.
    bool ShowOver(const WindowRect& rect);
    // Recipient of ids 4 and 1: frame starts at its "$", len is the whole frame.
    void OnReceiverReport(const std::uint8_t* frame, int len);

private:
    std::unique_ptr<Ui::TFormRcvrPort> ui;
    bool Positioned = false;
};

extern TFormRcvrPort* FormRcvrPort;
