#pragma once
// The note: a message shown modally with an OK button. Windows report their failures
// with it. It is centred on the caller's window every time, and unlike the other
// windows it is not kept on screen: over a window near the left or top edge it may
// start off screen.

#include <QDialog>
#include <QString>
#include <memory>

#include "ui/Windowrect.h"

class QLabel;

namespace Ui {
class TFormNote;
}

// Lays the message label of a note or wait dialog out for text: a margin of 10 on
// the left, right and top, its bottom 8 above the dialog's button, words wrapped.
// A text longer than that room is cut; the dialog does not grow.
void LayOutMessageLabel(QWidget* dialog, QLabel* label, const QWidget* button, const QString& text);

// Where a note or wait dialog of the given outer size goes over owner: centred,
// halves truncated toward zero, negative coordinates kept.
QPoint MessagePosition(const WindowRect& owner, const QWidget& dialog);

class TFormNote : public QDialog {
    Q_OBJECT
public:
    explicit TFormNote(QWidget* parent = nullptr);
    ~TFormNote() override;

    // Shows text over the owner's window and returns when the user presses OK
    // (result 1) or closes the note (result 0). Should a note be requested while
    // this one is still open (a timer tick inside its wait), a second note is shown
    // on top of it rather than losing the message.
    int ShowNote(const WindowRect& owner, const QString& text);

private:
    std::unique_ptr<Ui::TFormNote> ui;
};

extern TFormNote* FormNote;
