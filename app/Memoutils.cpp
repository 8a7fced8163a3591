#include "app/Memoutils.h"

#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <cmath>

#include "app/Timeutils.h"

int VisibleLineCount(const QPlainTextEdit* memo) {
    if (memo == nullptr)
        return 0;
    // With its scroll bars off the memo's contents rectangle is its client area; it is
    // valid before the window is first shown, unlike the viewport's own size.
    const int clientHeight = memo->contentsRect().height();
    const int margins = 2 * static_cast<int>(std::ceil(memo->document()->documentMargin()));
    const int pitch = QFontMetrics(memo->font()).lineSpacing();
    if (pitch <= 0 || clientHeight <= margins)
        return 0;
    return (clientHeight - margins) / pitch;
}

int MemoLineCount(const QPlainTextEdit* memo) {
    const QTextDocument* doc = memo->document();
    return doc->isEmpty() ? 0 : doc->blockCount();
}

void AddLimitedLine(const QString& text, QPlainTextEdit* memo, int limit) {
    if (memo == nullptr)
        return;
    QTextDocument* doc = memo->document();
    // A display never undoes: an undo history would grow with every line shown.
    if (doc->isUndoRedoEnabled())
        doc->setUndoRedoEnabled(false);

    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    if (limit > 0) {
        while (MemoLineCount(memo) >= limit) {
            cursor.movePosition(QTextCursor::Start);
            if (doc->blockCount() > 1)
                cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
            else
                cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
    }
    cursor.movePosition(QTextCursor::End);
    if (!doc->isEmpty())
        cursor.insertBlock();
    cursor.insertText(text);
    cursor.endEditBlock();

    QScrollBar* bar = memo->verticalScrollBar();
    if (bar != nullptr)
        bar->setValue(bar->maximum());
}

void AddTimedLine(const QString& text, QPlainTextEdit* memo, int limit) {
    const std::string now = TimeOfDayText();
    AddLimitedLine(QString::fromLatin1(now.data(), static_cast<qsizetype>(now.size())) +
                       QStringLiteral(": ") + text,
                   memo, limit);
}
