#include "receiver/Rcvrportform.h"

#include "loader/Loadsetupform.h"
#include "proto/Port.h"
#include "ui_Rcvrportform.h"

TFormRcvrPort* FormRcvrPort = nullptr;

TFormRcvrPort::TFormRcvrPort(QWidget* parent)
    : QWidget(parent, Qt::Window), ui(new Ui::TFormRcvrPort) {
    ui->setupUi(this);
    RegisterRecipient(4, this, [this](const std::uint8_t* f, int n) { OnReceiverReport(f, n); },
                      0);
    RegisterRecipient(1, this, [this](const std::uint8_t* f, int n) { OnReceiverReport(f, n); },
                      0);
}

TFormRcvrPort::~TFormRcvrPort() = default;

bool TFormRcvrPort::ShowOver(const WindowRect& rect) {
    if (!Positioned) {
        move(CentreOver(rect, frameGeometry().width(), frameGeometry().height(), true));
        Positioned = true;
    }
    show();
    return true;
}

void TFormRcvrPort::OnReceiverReport(const std::uint8_t* frame, int len) {
    if (FormLoadSetup != nullptr) FormLoadSetup->OnConfigurationReport(frame, len);
}
