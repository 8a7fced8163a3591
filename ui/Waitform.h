#pragma once
// The wait dialog: a message shown modelessly with a Cancel button while a long
// piece of work runs. The button does nothing of its own; the caller attaches its own
// handler right after ShowWait, and when its work ends (done, failed or cancelled)
// hides the dialog and detaches the handler. While a handler is attached, Esc does what
// Cancel does: otherwise Esc would only hide the dialog and leave the work running
// unseen. The close box only hides it.

#include <QDialog>
#include <QMetaObject>
#include <QString>
#include <functional>
#include <memory>

#include "ui/Windowrect.h"

class QPushButton;

namespace Ui {
class TFormWait;
}

class TFormWait : public QDialog {
    Q_OBJECT
public:
    explicit TFormWait(QWidget* parent = nullptr);
    ~TFormWait() override;

    // Shows text over the owner's window (centred on every call, not kept on
    // screen) and returns true at once.
    bool ShowWait(const WindowRect& owner, const QString& text);

    // Attaches handler (run in owner's context) to Cancel, replacing any earlier one;
    // DetachCancel removes it.
    void AttachCancel(QObject* owner, std::function<void()> handler);
    void DetachCancel();
    bool CancelAttachedTo(const QObject* owner) const;

    // The button to which the caller's cancel handler is attached.
    QPushButton* ButtonCancel = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::unique_ptr<Ui::TFormWait> ui;
    QMetaObject::Connection cancel_;
    const QObject* cancelOwner_ = nullptr;
};

extern TFormWait* FormWait;
