#pragma once
// A window's outer bounds in screen coordinates, as every show operation receives
// them from its caller. right and bottom lie one past the last pixel (right - left
// is the width), unlike QRect::right().

#include <QPoint>
#include <QWidget>

struct WindowRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// The outer rectangle of a window, frame included.
inline WindowRect OuterRect(const QWidget& w) {
    const QRect g = w.frameGeometry();
    return {g.x(), g.y(), g.x() + g.width(), g.y() + g.height()};
}

// Where a window of the given outer size goes to be centred on r. Halves truncate
// toward zero; with clampToZero a negative coordinate is raised to 0.
inline QPoint CentreOver(const WindowRect& r, int width, int height, bool clampToZero) {
    int left = r.left + (r.right - r.left - width) / 2;
    int top = r.top + (r.bottom - r.top - height) / 2;
    if (clampToZero) {
        left = left < 0 ? 0 : left;
        top = top < 0 ? 0 : top;
    }
    return {left, top};
}
