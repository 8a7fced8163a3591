// Window fitting, the note and wait dialogs and the About window, as real widgets.

#include <QAbstractButton>
#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QTimer>
#include <gtest/gtest.h>

#include "Apptest.h"
#include "ui/Aboutform.h"
#include "ui/Noteform.h"
#include "ui/Scaleutils.h"
#include "ui/Waitform.h"

namespace {

QWidget* Control(QWidget* form, int x, int y, int w, int h) {
    auto* c = new QWidget(form);
    c->setGeometry(x, y, w, h);
    return c;
}

QWidget* Docked(QWidget* form, ControlAlign align, int w, int h) {
    QWidget* c = Control(form, 0, 0, w, h);
    SetControlAlign(c, align);
    return c;
}

} // namespace

// ---------------------------------------------------------------------------------------
// FitFormToControls

TEST(FitFormToControls, MarginsOfFreeControlsRepeatOnTheFarSideAndDockedBarsAdd) {
    QWidget form;
    form.resize(500, 400);
    Control(&form, 8, 12, 100, 30);  // left 8, top 12
    Control(&form, 150, 60, 50, 40); // right 200, bottom 100
    Docked(&form, ControlAlign::Left, 30, 10);
    Docked(&form, ControlAlign::Right, 20, 10);
    Docked(&form, ControlAlign::Top, 10, 25);
    Docked(&form, ControlAlign::Bottom, 10, 21);
    Docked(&form, ControlAlign::Client, 999, 999); // filling: no part in the size
    FitFormToControls(&form);
    EXPECT_EQ(form.width(), 208 + 30 + 20);
    EXPECT_EQ(form.height(), 112 + 25 + 21);
}

TEST(FitFormToControls, HiddenControlsDoNotCount) {
    QWidget form;
    form.resize(500, 400);
    Control(&form, 10, 10, 100, 100);
    Control(&form, 10, 10, 400, 300)->hide();
    FitFormToControls(&form);
    EXPECT_EQ(form.size(), QSize(120, 120));
}

TEST(FitFormToControls, AFormOfDockedAndFillingControlsKeepsItsSize) {
    QWidget form;
    form.resize(321, 234);
    Docked(&form, ControlAlign::Bottom, 10, 21);
    Docked(&form, ControlAlign::Client, 50, 50);
    FitFormToControls(&form);
    EXPECT_EQ(form.size(), QSize(321, 234));

    // The main window's case: a filling memo and a status bar.
    QMainWindow main;
    main.setCentralWidget(new QPlainTextEdit);
    main.setStatusBar(new QStatusBar);
    main.resize(650, 585);
    FitFormToControls(&main);
    EXPECT_EQ(main.size(), QSize(650, 585));
}

TEST(FitFormToControls, HidesTheFormsScrollBars) {
    QScrollArea form;
    FitFormToControls(&form);
    EXPECT_EQ(form.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(form.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

// ---------------------------------------------------------------------------------------
// Note

TEST(Note, IsCentredOnTheOwnerEveryTimeEvenOffScreen) {
    TFormNote note;
    ModalDriver driver;
    note.ShowNote({0, 0, 800, 600}, "Once, so the window has its frame");
    driver.notes.clear();
    const QSize size = note.frameGeometry().size();

    // Owner at the left edge: the note starts left of the screen, as designed.
    const WindowRect owner{-300, -200, 100, 20};
    EXPECT_EQ(note.ShowNote(owner, "First"), 1);
    EXPECT_EQ(note.pos(),
              QPoint(-300 + (400 - size.width()) / 2, -200 + (220 - size.height()) / 2));
    EXPECT_LT(note.x(), 0);

    const WindowRect other{100, 100, 700, 500};
    note.ShowNote(other, "Second");
    EXPECT_EQ(note.pos(), QPoint(100 + (600 - size.width()) / 2, 100 + (400 - size.height()) / 2));
    EXPECT_EQ(driver.notes, QStringList({"First", "Second"}));
}

TEST(Note, LaysTheLabelOutAboveTheButtonAndTakesAnyText) {
    TFormNote note;
    ModalDriver driver;
    note.ShowNote({0, 0, 800, 600}, "");
    auto* label = note.findChild<QLabel*>("Label");
    auto* ok = note.findChild<QPushButton*>("ButtonOK");
    EXPECT_EQ(driver.notes, QStringList({""}));
    EXPECT_EQ(label->geometry(), QRect(10, 10, note.width() - 20, ok->y() - 18));
    EXPECT_TRUE(label->wordWrap());
    EXPECT_TRUE(ok->isVisibleTo(&note));
    EXPECT_EQ(ok->text(), "&OK");
    EXPECT_EQ(note.windowTitle(), "Note");

    // Text is shown as it is, never taken for markup.
    note.ShowNote({0, 0, 800, 600}, "<b>/dev/ttyUSB0</b>");
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
}

TEST(Note, ClosingItInsteadOfOkGivesZero) {
    TFormNote note;
    QTimer::singleShot(20, &note, [&note] { note.close(); });
    EXPECT_EQ(note.ShowNote({0, 0, 800, 600}, "x"), 0);
}

TEST(Note, ANoteAskedForWhileOneIsOpenIsShownToo) {
    TFormNote note;
    int inner = -1;
    // The first note's wait runs timers; one of them asks for a second note.
    QTimer::singleShot(10, &note, [&] {
        ModalDriver driver;
        inner = note.ShowNote({0, 0, 800, 600}, "Inner");
        EXPECT_EQ(driver.notes, QStringList({"Inner"}));
        note.findChild<QAbstractButton*>("ButtonOK")->click();
    });
    EXPECT_EQ(note.ShowNote({0, 0, 800, 600}, "Outer"), 1);
    EXPECT_EQ(inner, 1);
}

// ---------------------------------------------------------------------------------------
// Wait

TEST(Wait, ReturnsAtOnceAndCancelDoesOnlyWhatTheCallerAttached) {
    TFormWait wait;
    EXPECT_TRUE(wait.ShowWait({-400, 0, 0, 300}, "Searching..."));
    EXPECT_TRUE(wait.isVisible());
    EXPECT_FALSE(wait.isModal());
    EXPECT_LT(wait.x(), 0); // centred without being kept on screen
    EXPECT_EQ(wait.findChild<QLabel*>("Label")->text(), "Searching...");
    EXPECT_EQ(wait.windowTitle(), "Wait");
    EXPECT_EQ(wait.ButtonCancel->text(), "&Cancel");

    // No handler: pressing Cancel changes nothing.
    wait.ButtonCancel->click();
    EXPECT_TRUE(wait.isVisible());

    int cancelled = 0;
    const auto c =
        QObject::connect(wait.ButtonCancel, &QPushButton::clicked, [&cancelled] { ++cancelled; });
    wait.ButtonCancel->click();
    EXPECT_EQ(cancelled, 1);
    QObject::disconnect(c);
    wait.ButtonCancel->click();
    EXPECT_EQ(cancelled, 1);
}

// ---------------------------------------------------------------------------------------
// About

namespace {
bool OnTop(const QWidget& w) {
    return w.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}
QPushButton* CloseButton(TFormAbout& a) {
    return a.findChild<QPushButton*>("ButtonClose");
}
QTimer* SplashTimer(TFormAbout& a) {
    return a.findChild<QTimer*>("Timer");
}
} // namespace

TEST(About, IsBuiltHiddenWithTheVersionAndNoCloseButton) {
    TFormAbout about;
    EXPECT_FALSE(about.isVisible());
    EXPECT_FALSE(CloseButton(about)->isVisibleTo(&about));
    EXPECT_FALSE(SplashTimer(about)->isActive());
    EXPECT_EQ(about.SplashTicks, 0);
    EXPECT_EQ(about.findChild<QLabel*>("LabelVersion")->text(),
              QStringLiteral("Version ") + QStringLiteral(KESTRANE_VERSION));
    EXPECT_EQ(about.findChild<QLabel*>("LabelTitle")->text(), "Kestrane Receiver Utility");
    EXPECT_FALSE(about.findChild<QLabel*>("ImageVek")->pixmap().isNull());
    EXPECT_EQ(about.size(), QSize(292, 368));
    EXPECT_EQ(CloseButton(about)->y(), 328);
    // No close box: the splash closes itself, About closes with its button.
    EXPECT_FALSE(about.windowFlags().testFlag(Qt::WindowCloseButtonHint));
}

TEST(About, SplashHidesItselfOnTheSixthTick) {
    TFormAbout about;
    about.ShowSplash({100, 100, 750, 712});
    EXPECT_TRUE(about.isVisible());
    EXPECT_TRUE(OnTop(about));
    EXPECT_FALSE(CloseButton(about)->isVisible());
    EXPECT_TRUE(SplashTimer(about)->isActive());
    EXPECT_EQ(SplashTimer(about)->interval(), 1000);
    for (int i = 0; i < 5; ++i)
        about.TimerTimer();
    EXPECT_TRUE(about.isVisible());
    about.TimerTimer();
    EXPECT_FALSE(about.isVisible());
    EXPECT_FALSE(OnTop(about));
    EXPECT_FALSE(SplashTimer(about)->isActive());
}

TEST(About, FromTheMenuItHasCloseAndStaysUntilClosed) {
    TFormAbout about;
    about.ShowOver({0, 0, 650, 612});
    EXPECT_TRUE(about.isVisible());
    EXPECT_TRUE(CloseButton(about)->isVisible());
    EXPECT_FALSE(OnTop(about));
    EXPECT_FALSE(SplashTimer(about)->isActive());
    CloseButton(about)->click();
    EXPECT_FALSE(about.isVisible());
}

TEST(About, ChosenDuringTheSplashItStillHidesOnTheSixthTick) {
    TFormAbout about;
    about.ShowSplash({0, 0, 650, 612});
    about.TimerTimer();
    about.TimerTimer();
    about.ShowOver({0, 0, 650, 612});
    EXPECT_TRUE(CloseButton(about)->isVisible());
    EXPECT_FALSE(OnTop(about));
    for (int i = 0; i < 3; ++i)
        about.TimerTimer();
    EXPECT_TRUE(about.isVisible());
    about.TimerTimer();
    EXPECT_FALSE(about.isVisible());
}

TEST(About, IsCentredOnEveryShowingButNeverAboveOrLeftOfTheScreen) {
    TFormAbout about;
    const WindowRect rect{100, 50, 750, 662};
    about.ShowOver(rect);
    const QSize size = about.frameGeometry().size();
    about.ShowOver(rect);
    const QPoint centred(100 + (650 - size.width()) / 2, 50 + (612 - size.height()) / 2);
    EXPECT_EQ(about.pos(), centred);
    about.move(5, 5);
    about.ShowOver(rect);
    EXPECT_EQ(about.pos(), centred);

    // A main window partly off the top-left corner.
    about.ShowSplash({-600, -500, 50, 112});
    EXPECT_EQ(about.pos(), QPoint(0, 0));
    about.ShowOver({-600, 100, 50, 712});
    EXPECT_EQ(about.x(), 0);
    EXPECT_GT(about.y(), 0);
}
