#include "ui/Waitform.h"

#include "ui/Noteform.h"
#include "ui_Waitform.h"

TFormWait* FormWait = nullptr;

TFormWait::TFormWait(QWidget* parent) : QDialog(parent), ui(new Ui::TFormWait) {
    ui->setupUi(this);
    QFont f = font();
    f.setPixelSize(11);
    setFont(f);
    setFixedSize(size());
    ButtonCancel = ui->ButtonCancel;
}

TFormWait::~TFormWait() = default;

bool TFormWait::ShowWait(const WindowRect& owner, const QString& text) {
    move(MessagePosition(owner, *this));
    LayOutMessageLabel(this, ui->Label, ui->ButtonCancel, text);
    show();
    raise();
    return true;
}
