#pragma once
// Line helpers of the scrolling text displays (the main window's receive monitor and
// the software loader's status line). A display is a read-only QPlainTextEdit whose
// lines are its text blocks; the newest line is at the bottom.

#include <QString>

class QPlainTextEdit;

// How many whole text lines fit in the memo's client area at its current size and
// font: the client height less the document's top and bottom margins, divided by
// the font's line pitch. Never negative.
int VisibleLineCount(const QPlainTextEdit* memo);

// Number of lines the memo holds (an empty memo holds none).
int MemoLineCount(const QPlainTextEdit* memo);

// Appends text as the memo's new last line. If limit is greater than 0, the oldest
// lines are deleted first for as long as the memo holds limit lines or more, so at
// most limit lines remain; a limit of 0 or less keeps every line. Deleting and
// appending form one edit, so the memo is laid out and repainted once. The newest
// line is scrolled into view. The memo keeps no undo history of what it shows.
void AddLimitedLine(const QString& text, QPlainTextEdit* memo, int limit);

// AddLimitedLine of the local time of day ("HH:MM:SS"), ": " and text.
void AddTimedLine(const QString& text, QPlainTextEdit* memo, int limit);
