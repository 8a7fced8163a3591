#pragma once
// The About window: title, version, part number, logo and the maker's notice.
//
// It serves twice. When the main window is first shown it appears as a splash over
// it: no Close button, kept on top, and it hides itself on the sixth tick of its
// one-second timer. From the Help menu it is an ordinary window with a Close button.
// Both show operations centre it on the caller's window every time, never placing
// it left of or above the screen's origin. A splash timer still running when About
// is chosen from the menu keeps running and hides the window on its sixth tick.

#include <QWidget>
#include <memory>

#include "ui/Windowrect.h"

class QTimer;

namespace Ui {
class TFormAbout;
}

class TFormAbout : public QWidget {
    Q_OBJECT
public:
    explicit TFormAbout(QWidget* parent = nullptr);
    ~TFormAbout() override;

    // The splash over the main window's rectangle.
    void ShowSplash(const WindowRect& rect);
    // About from the menu, with the Close button.
    void ShowOver(const WindowRect& rect);

    // Handler of the one-second splash timer.
    void TimerTimer();
    void ButtonCloseClick();

    // Splash timer ticks since the splash was shown.
    int SplashTicks = 0;

private:
    void SetStaysOnTop(bool on);

    std::unique_ptr<Ui::TFormAbout> ui;
    QTimer* Timer = nullptr;
};

extern TFormAbout* FormAbout;
