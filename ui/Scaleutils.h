#pragma once
// Sizing a window to the controls placed on it.
//
// Forms are laid out in fixed pixel positions. After a form's layout is loaded, its
// client area is made just large enough for its controls: the right margin of the
// free-standing controls equals their left margin and the bottom margin equals their
// top margin, and the bars docked to an edge add their own height or width.
//
// How a control sits on its form:
//   - docked to the top or bottom edge: its height counts once, whatever its place;
//   - docked to the left or right edge: its width counts once;
//   - filling the client area, or placed by a layout manager: ignored;
//   - free-standing (the default): its rectangle sets the extent.
// A control says how it is docked with the dynamic property "align" ("top", "bottom",
// "left", "right", "client" or "custom"; a .ui file can set it). Without the property:
// a QStatusBar is docked at the bottom, a QToolBar at the edge its main window keeps it
// on, a QMainWindow's central widget fills the client area unless it is a bare container
// (then its children are the form's controls), a widget managed by the form's layout
// is ignored. The menu bar is not a control: the form's client area lies below it.

class QWidget;

enum class ControlAlign { None, Top, Bottom, Left, Right, Client, Custom };

// Marks how control is docked on its form (stored in its "align" property).
void SetControlAlign(QWidget* control, ControlAlign align);
ControlAlign ControlAlignOf(const QWidget* control);

// Hides the form's scroll bars (if it has any) and sets its client size from the
// extent of its visible controls. A form with no visible free-standing control keeps
// its size.
void FitFormToControls(QWidget* form);
