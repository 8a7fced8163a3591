#pragma once
// The wait dialog: a message shown modelessly with a Cancel button while a long
// piece of work runs. The button does nothing of its own; the caller connects its
// clicked signal to its own handler right after ShowWait, and when its work ends
// (done, failed or cancelled) hides the dialog and disconnects the handler.

#include <QDialog>
#include <QString>
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

    // The button to which the caller attaches its cancel handler.
    QPushButton* ButtonCancel = nullptr;

private:
    std::unique_ptr<Ui::TFormWait> ui;
};

extern TFormWait* FormWait;
