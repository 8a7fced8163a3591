#include "ui/Helpform.h"

TFormHelp* FormHelp = nullptr;

TFormHelp::TFormHelp(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle("Help");
    resize(400, 495);
}

void TFormHelp::ShowOver(const WindowRect& rect) {
    move(CentreOver(rect, width(), height(), true));
    show();
}

void TFormHelp::ShowLoadingHelp(const WindowRect& rect) { ShowOver(rect); }
