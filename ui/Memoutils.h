#pragma once
// Line helpers of the scrolling text displays (the main window's receive monitor and
// the software loader's status line). A display is a read-only QPlainTextEdit whose
// lines are its text blocks; the newest line is at the bottom.

#include <QString>
#include <QStringList>

class QPlainTextEdit;

// How many whole text lines fit in the memo's client area at its current size and
// font: the client height less the document's top and bottom margins, divided by
// the font's line pitch. Never negative.
int VisibleLineCount(const QPlainTextEdit* memo);

// Number of lines the memo holds (an empty memo holds none).
int MemoLineCount(const QPlainTextEdit* memo);

// Appends text as the memo's new last line. If limit is greater than 0, the oldest
// lines are deleted first for as long as the memo holds limit lines or more, so at
// most limit lines remain; a limit of 0 or less keeps every line. The memo is
// repainted once for both, and only the lines deleted or added are laid out again.
// The newest line is scrolled into view. The memo keeps no undo history of what it
// shows. text is one line (no line breaks).
void AddLimitedLine(const QString& text, QPlainTextEdit* memo, int limit);

// The same for several lines at once, in order: the memo ends as if AddLimitedLine
// had been called for each, but is laid out and repainted once for all of them.
void AddLimitedLines(const QStringList& texts, QPlainTextEdit* memo, int limit);

// text prefixed by the local time of day ("HH:MM:SS") and ": ".
QString TimedText(const QString& text);

// AddLimitedLine of the local time of day ("HH:MM:SS"), ": " and text.
void AddTimedLine(const QString& text, QPlainTextEdit* memo, int limit);
