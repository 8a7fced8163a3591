#include "ui/Noteform.h"

#include <QLabel>

#include "ui_Noteform.h"

TFormNote* FormNote = nullptr;

void LayOutMessageLabel(QWidget* dialog, QLabel* label, const QWidget* button,
                        const QString& text) {
    const int clientWidth = dialog->width();
    const int width = clientWidth - 20;
    const int left = (clientWidth - width) / 2;
    const int top = 10;
    const int height = button->y() - top - 8;
    label->setText(text);
    label->setWordWrap(true);
    label->setGeometry(left, top, width, height < 0 ? 0 : height);
}

QPoint MessagePosition(const WindowRect& owner, const QWidget& dialog) {
    const QRect frame = dialog.frameGeometry();
    return CentreOver(owner, frame.width(), frame.height(), false);
}

TFormNote::TFormNote(QWidget* parent) : QDialog(parent), ui(new Ui::TFormNote) {
    ui->setupUi(this);
    QFont f = font();
    f.setPixelSize(11);
    setFont(f);
    setFixedSize(size());
    connect(ui->ButtonOK, &QPushButton::clicked, this, &QDialog::accept);
}

TFormNote::~TFormNote() = default;

int TFormNote::ShowNote(const WindowRect& owner, const QString& text) {
    if (isVisible()) {
        TFormNote extra;
        return extra.ShowNote(owner, text);
    }
    move(MessagePosition(owner, *this));
    LayOutMessageLabel(this, ui->Label, ui->ButtonOK, text);
    ui->ButtonOK->setFocus();
    return exec() == QDialog::Accepted ? 1 : 0;
}
