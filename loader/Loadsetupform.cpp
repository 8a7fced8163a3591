#include "loader/Loadsetupform.h"

#include "ui_Loadsetupform.h"

TFormLoadSetup* FormLoadSetup = nullptr;

TFormLoadSetup::TFormLoadSetup(QWidget* parent)
    : QWidget(parent, Qt::Window), ui(new Ui::TFormLoadSetup) {
    ui->setupUi(this);
}

TFormLoadSetup::~TFormLoadSetup() = default;

void TFormLoadSetup::ShowOver(const WindowRect& rect) {
    if (!Positioned) {
        move(CentreOver(rect, frameGeometry().width(), frameGeometry().height(), true));
        Positioned = true;
    }
    show();
}

void TFormLoadSetup::OnConfigurationReport(const std::uint8_t*, int) {}
