#include "ui/Waitform.h"

#include <QKeyEvent>
#include <QPushButton>

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

void TFormWait::AttachCancel(QObject* owner, std::function<void()> handler) {
    DetachCancel();
    cancel_ = connect(ButtonCancel, &QPushButton::clicked, owner, std::move(handler));
    cancelOwner_ = owner;
}

void TFormWait::DetachCancel() {
    if (cancel_) {
        disconnect(cancel_);
    }
    cancel_ = {};
    cancelOwner_ = nullptr;
}

bool TFormWait::CancelAttachedTo(const QObject* owner) const {
    return cancelOwner_ == owner && static_cast<bool>(cancel_);
}

void TFormWait::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && cancel_) {
        ButtonCancel->click();
        return;
    }
    QDialog::keyPressEvent(event);
}
