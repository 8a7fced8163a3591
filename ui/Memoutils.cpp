#include "ui/Memoutils.h"

#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <cmath>

#include "base/Timeutils.h"

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

void AddLimitedLines(const QStringList& texts, QPlainTextEdit* memo, int limit) {
    if (memo == nullptr || texts.isEmpty())
        return;
    QTextDocument* doc = memo->document();
    // A display never undoes: an undo history would grow with every line shown.
    if (doc->isUndoRedoEnabled())
        doc->setUndoRedoEnabled(false);

    // Lines that would be pushed out again by the later ones are never added.
    const qsizetype first = limit > 0 && texts.size() > limit ? texts.size() - limit : 0;
    const int adding = static_cast<int>(texts.size() - first);

    // Deleting and appending are two edits, each confined to the lines it touches, so
    // only those lines are laid out again; one edit spanning both would lay out the
    // whole memo. The memo is repainted once after both, when control returns to the
    // event loop. Cursor positions are set directly: moving by text units would lay
    // lines out just to find them.
    QTextCursor cursor(doc);
    const int held = MemoLineCount(memo);
    const int excess = limit > 0 ? held + adding - limit : 0;
    if (excess > 0 && held > 0) {
        cursor.beginEditBlock();
        cursor.setPosition(0);
        const int end =
            excess >= held ? doc->characterCount() - 1 : doc->findBlockByNumber(excess).position();
        cursor.setPosition(end, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        cursor.endEditBlock();
    }

    cursor.beginEditBlock();
    cursor.setPosition(doc->characterCount() - 1);
    bool newLine = !doc->isEmpty();
    for (qsizetype i = first; i < texts.size(); ++i) {
        if (newLine)
            cursor.insertBlock();
        newLine = true;
        // Keep the line's shaped glyphs: otherwise every repaint shapes every line again.
        doc->lastBlock().layout()->setCacheEnabled(true);
        cursor.insertText(texts[i]);
    }
    cursor.endEditBlock();

    QScrollBar* bar = memo->verticalScrollBar();
    if (bar != nullptr)
        bar->setValue(bar->maximum());
}

void AddLimitedLine(const QString& text, QPlainTextEdit* memo, int limit) {
    AddLimitedLines(QStringList{text}, memo, limit);
}

QString TimedText(const QString& text) {
    const std::string now = TimeOfDayText();
    return QString::fromLatin1(now.data(), static_cast<qsizetype>(now.size())) +
           QStringLiteral(": ") + text;
}

void AddTimedLine(const QString& text, QPlainTextEdit* memo, int limit) {
    AddLimitedLine(TimedText(text), memo, limit);
}
