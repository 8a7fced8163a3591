#include "ui/Scaleutils.h"

#include <QAbstractScrollArea>
#include <QLayout>
#include <QMainWindow>
#include <QMenuBar>
#include <QSizeGrip>
#include <QStatusBar>
#include <QToolBar>
#include <QVariant>
#include <algorithm>

namespace {

const char* const kAlignProperty = "align";

ControlAlign ParseAlign(const QString& text) {
    const QString t = text.trimmed().toLower();
    if (t == "top")
        return ControlAlign::Top;
    if (t == "bottom")
        return ControlAlign::Bottom;
    if (t == "left")
        return ControlAlign::Left;
    if (t == "right")
        return ControlAlign::Right;
    if (t == "client")
        return ControlAlign::Client;
    if (t == "custom")
        return ControlAlign::Custom;
    return ControlAlign::None;
}

const char* AlignName(ControlAlign align) {
    switch (align) {
    case ControlAlign::Top:
        return "top";
    case ControlAlign::Bottom:
        return "bottom";
    case ControlAlign::Left:
        return "left";
    case ControlAlign::Right:
        return "right";
    case ControlAlign::Client:
        return "client";
    case ControlAlign::Custom:
        return "custom";
    case ControlAlign::None:
        break;
    }
    return "none";
}

// A QMainWindow's central widget is a bare container when it is a plain QWidget
// without a layout: the controls placed on it are then the form's own.
bool IsBareContainer(const QWidget* w) {
    return w != nullptr && w->metaObject() == &QWidget::staticMetaObject && w->layout() == nullptr;
}

// How a control sits on form when it carries no "align" property.
ControlAlign DefaultAlign(const QWidget* form, const QWidget* control) {
    if (qobject_cast<const QStatusBar*>(control) != nullptr)
        return ControlAlign::Bottom;
    if (const auto* bar = qobject_cast<const QToolBar*>(control)) {
        if (const auto* mw = qobject_cast<const QMainWindow*>(form)) {
            switch (mw->toolBarArea(const_cast<QToolBar*>(bar))) {
            case Qt::BottomToolBarArea:
                return ControlAlign::Bottom;
            case Qt::LeftToolBarArea:
                return ControlAlign::Left;
            case Qt::RightToolBarArea:
                return ControlAlign::Right;
            default:
                return ControlAlign::Top;
            }
        }
        return ControlAlign::Top;
    }
    if (const auto* mw = qobject_cast<const QMainWindow*>(form)) {
        if (control == mw->centralWidget())
            return ControlAlign::Client;
        return ControlAlign::Custom; // dock widgets and other furniture of the frame
    }
    if (form->layout() != nullptr && form->layout()->indexOf(const_cast<QWidget*>(control)) >= 0)
        return ControlAlign::Custom;
    return ControlAlign::None;
}

struct Extent {
    int left = 10000;
    int top = 10000;
    int right = 0;
    int bottom = 0;
    int dockedHeight = 0;
    int dockedWidth = 0;
};

void Measure(const QWidget* form, const QWidget* control, Extent& e) {
    if (control->isWindow() || !control->isVisibleTo(form))
        return;
    if (qobject_cast<const QMenuBar*>(control) != nullptr)
        return;
    if (qobject_cast<const QSizeGrip*>(control) != nullptr)
        return;
    ControlAlign align = ControlAlignOf(control);
    if (!control->property(kAlignProperty).isValid())
        align = DefaultAlign(form, control);
    const QRect g = control->geometry();
    switch (align) {
    case ControlAlign::None:
        e.left = std::min(e.left, g.x());
        e.top = std::min(e.top, g.y());
        e.right = std::max(e.right, g.x() + g.width());
        e.bottom = std::max(e.bottom, g.y() + g.height());
        break;
    case ControlAlign::Top:
    case ControlAlign::Bottom:
        e.dockedHeight += g.height();
        break;
    case ControlAlign::Left:
    case ControlAlign::Right:
        e.dockedWidth += g.width();
        break;
    case ControlAlign::Client:
    case ControlAlign::Custom:
        break;
    }
}

} // namespace

void SetControlAlign(QWidget* control, ControlAlign align) {
    control->setProperty(kAlignProperty, QString::fromLatin1(AlignName(align)));
}

ControlAlign ControlAlignOf(const QWidget* control) {
    return ParseAlign(control->property(kAlignProperty).toString());
}

void FitFormToControls(QWidget* form) {
    if (form == nullptr)
        return;
    if (auto* area = qobject_cast<QAbstractScrollArea*>(form)) {
        area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }

    Extent e;
    const auto* mainWindow = qobject_cast<const QMainWindow*>(form);
    const QWidget* central = mainWindow != nullptr ? mainWindow->centralWidget() : nullptr;
    for (const QObject* child : form->children()) {
        const auto* control = qobject_cast<const QWidget*>(child);
        if (control == nullptr)
            continue;
        if (control == central && IsBareContainer(central)) {
            for (const QObject* inner : central->children()) {
                if (const auto* c = qobject_cast<const QWidget*>(inner))
                    Measure(form, c, e);
            }
            continue;
        }
        Measure(form, control, e);
    }

    // A main window's menu bar sits above the client area but inside the Qt window.
    int menuHeight = 0;
    if (mainWindow != nullptr && mainWindow->menuWidget() != nullptr &&
        !mainWindow->menuWidget()->isHidden())
        menuHeight = mainWindow->menuWidget()->sizeHint().height();

    QSize size = form->size();
    if (e.left != 10000)
        size.setWidth(e.dockedWidth + e.right + e.left);
    if (e.top != 10000)
        size.setHeight(menuHeight + e.dockedHeight + e.bottom + e.top);
    if (size != form->size())
        form->resize(size);
}
