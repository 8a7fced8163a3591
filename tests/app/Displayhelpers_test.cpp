// The display line helpers on a real QPlainTextEdit.

#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <gtest/gtest.h>

#include "ui/Memoutils.h"
#include "base/Timeutils.h"

namespace {

QStringList Lines(const QPlainTextEdit& memo) {
    const QString text = memo.toPlainText();
    return text.isEmpty() ? QStringList() : text.split('\n');
}

void Fill(QPlainTextEdit& memo, int count, const QString& prefix = "old") {
    for (int i = 1; i <= count; ++i)
        AddLimitedLine(prefix + QString::number(i), &memo, 0);
}

} // namespace

TEST(AddLimitedLine, DropsOldestLinesDownToTheLimitBeforeAppending) {
    QPlainTextEdit memo;
    Fill(memo, 5);
    ASSERT_EQ(MemoLineCount(&memo), 5);
    AddLimitedLine("new", &memo, 3);
    EXPECT_EQ(Lines(memo), QStringList({"old4", "old5", "new"}));

    // From then on each line pushes out exactly the oldest one.
    AddLimitedLine("newer", &memo, 3);
    EXPECT_EQ(Lines(memo), QStringList({"old5", "new", "newer"}));
}

TEST(AddLimitedLine, ALimitOfOneKeepsOnlyTheNewestLine) {
    QPlainTextEdit memo;
    Fill(memo, 3);
    AddLimitedLine("a", &memo, 1);
    AddLimitedLine("b", &memo, 1);
    EXPECT_EQ(Lines(memo), QStringList({"b"}));
}

TEST(AddLimitedLine, NoLimitKeepsEveryLine) {
    for (int limit : {0, -1}) {
        QPlainTextEdit memo;
        for (int i = 0; i < 200; ++i)
            AddLimitedLine(QString::number(i), &memo, limit);
        const QStringList lines = Lines(memo);
        ASSERT_EQ(lines.size(), 200) << "limit " << limit;
        EXPECT_EQ(lines.front(), "0");
        EXPECT_EQ(lines.back(), "199");
    }
}

TEST(AddLimitedLines, EndsAsIfEachLineHadBeenAddedInTurn) {
    for (int limit : {0, 1, 3, 4, 10}) {
        for (int held : {0, 2, 5}) {
            QPlainTextEdit one;
            QPlainTextEdit many;
            Fill(one, held);
            Fill(many, held);
            const QStringList batch({"a", "", "c", "d"});
            for (const QString& t : batch) AddLimitedLine(t, &one, limit);
            AddLimitedLines(batch, &many, limit);
            EXPECT_EQ(Lines(many), Lines(one)) << "limit " << limit << ", held " << held;
        }
    }
}

TEST(AddLimitedLine, KeepsNoUndoHistoryAndShowsTheNewestLine) {
    QPlainTextEdit memo;
    memo.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo.resize(200, 60);
    memo.show();
    for (int i = 0; i < 50; ++i)
        AddLimitedLine(QString::number(i), &memo, 0);
    EXPECT_FALSE(memo.document()->isUndoAvailable());
    // The last line lies inside the visible part of the memo.
    const QTextBlock last = memo.document()->lastBlock();
    const QRect cursor = memo.cursorRect(QTextCursor(last));
    EXPECT_TRUE(memo.viewport()->rect().contains(cursor.center()));
}

TEST(AddTimedLine, PrefixesTheTimeOfDay) {
    QPlainTextEdit memo;
    const std::string before = TimeOfDayText();
    AddTimedLine("$GPGGA,1", &memo, 41);
    const std::string after = TimeOfDayText();
    const QStringList lines = Lines(memo);
    ASSERT_EQ(lines.size(), 1);
    const QString stamp = lines[0].left(8);
    EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$").match(stamp).hasMatch());
    EXPECT_TRUE(stamp == QString::fromStdString(before) || stamp == QString::fromStdString(after));
    EXPECT_EQ(lines[0].mid(8), ": $GPGGA,1");
}

TEST(VisibleLineCount, CountsTheLinesThatReallyFit) {
    QPlainTextEdit memo;
    memo.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QFont f = memo.font();
    f.setPixelSize(11);
    memo.setFont(f);
    memo.resize(300, 250);
    memo.show();

    const int count = VisibleLineCount(&memo);
    ASSERT_GT(count, 5);
    // count lines fill the memo without scrolling; one more would not fit.
    const int pitch = QFontMetrics(memo.font()).lineSpacing();
    const int margin = static_cast<int>(memo.document()->documentMargin());
    EXPECT_LE(count * pitch + 2 * margin, memo.viewport()->height());
    EXPECT_GT((count + 1) * pitch + 2 * margin, memo.viewport()->height());
    for (int i = 0; i < count; ++i)
        AddLimitedLine(QString::number(i), &memo, count);
    EXPECT_EQ(memo.verticalScrollBar()->maximum(), 0);

    // A memo too small for a line counts none, never a negative number.
    memo.resize(300, 6);
    EXPECT_EQ(VisibleLineCount(&memo), 0);
}
