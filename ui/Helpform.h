#pragma once
// Placeholder of the Help window until its pages are built.

#include <QWidget>

#include "ui/Windowrect.h"

class TFormHelp : public QWidget {
    Q_OBJECT
public:
    explicit TFormHelp(QWidget* parent = nullptr);
    void ShowOver(const WindowRect& rect);
    void ShowLoadingHelp(const WindowRect& rect);
};

extern TFormHelp* FormHelp;
