// The Receiver Status window fed by the simulated receiver through the main window's
// own poll: the fix shown, the points plotted with plausible circles, nothing drawn
// while hidden yet current when shown, Clear, and "No data" once the stream stops.

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include "Apptest.h"
#include "base/Clock.h"
#include "app/Mainform.h"
#include "receiver/Statusform.h"
#include "sim/Simreceiver.h"
#include "ui/Windowrect.h"

namespace {

QString Text(const char* label) {
    return FormStatus->findChild<QLabel*>(label)->text();
}

std::size_t Fixes() {
    return FormStatus->Status().History().Count();
}

} // namespace

TEST(StatusWindow, ShowsTheSimulatedReceiversFixAndScatter) {
    AppWindows windows;
    FakeClock clock;
    FormStatus->SetClock(clock);
    SimOptions options;
    options.navRate = 5;
    SimReceiver sim(options);
    ASSERT_TRUE(sim.Start());
    ASSERT_TRUE(OpenMainPort(sim.DevicePath(), 19200));
    FormMain->Timer->start();

    // Receiver > Status, the item after Load Software, opens it centred over the main window.
    QList<QAction*> items;
    for (QAction* top : FormMain->menuBar()->actions())
        if (top->text() == "Receiver")
            items = top->menu()->actions();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[2]->objectName() + "=" + items[2]->text(), "MenuRcvrStatus=Status");
    items[2]->trigger();
    ASSERT_TRUE(FormStatus->isVisible());
    EXPECT_EQ(FormStatus->windowTitle(), "Receiver Status");
    const QPoint centred =
        CentreOver(OuterRect(*FormMain), FormStatus->frameGeometry().width(),
                   FormStatus->frameGeometry().height(), true);
    EXPECT_EQ(FormStatus->frameGeometry().topLeft(), centred);

    // About three seconds of fixes at five a second.
    ASSERT_TRUE(WaitFor([] { return Fixes() >= 15; }, 8000));
    WaitFor([] { return false; }, 1100); // a tick of the window's own
    EXPECT_EQ(Text("LabelDataState"), "Receiving");
    EXPECT_EQ(Text("LabelQuality"), "Differential"); // corrections are on
    EXPECT_EQ(Text("LabelFixMode"), "3D");
    EXPECT_EQ(Text("LabelCorrectionAge"), "1.0 s");
    // Somewhere at 47..48° N, 122..123° W.
    EXPECT_TRUE(Text("LabelLatitude").contains(QRegularExpression("^47\u00B0\\d\\d\\.\\d{5}' N   47\\.\\d{6}$")))
        << Text("LabelLatitude").toStdString();
    EXPECT_TRUE(Text("LabelLongitude").contains(QRegularExpression("^122\u00B0\\d\\d\\.\\d{5}' W   -122\\.\\d{6}$")))
        << Text("LabelLongitude").toStdString();
    EXPECT_TRUE(Text("LabelSentences").endsWith(", 0 unusable"));
    EXPECT_GT(FormStatus->PlotDraws(), 0);

    // The receiver moves at 0.5 to 4 m/s: the fixes of t seconds lie on a track no longer
    // than 4 t, and they do not all coincide.
    const DeviationHistory::Stats& s = FormStatus->ShownStats();
    ASSERT_GE(s.count, 15u);
    EXPECT_EQ(Text("LabelFixCount"), QString("Fixes: %1").arg(s.count));
    const double seconds = (s.count - 1) / 5.0;
    EXPECT_GT(*s.cep50, 0.0);
    EXPECT_LE(*s.cep50, *s.cep95);
    EXPECT_LE(*s.cep95, 4.0 * seconds);
    EXPECT_GT(*s.sigmaEast + *s.sigmaNorth, 0.0);

    // Drawn at most once a tick (a second) while shown.
    int before = FormStatus->PlotDraws();
    WaitFor([] { return false; }, 2000);
    EXPECT_LE(FormStatus->PlotDraws() - before, 3);

    // Hidden: still decoding, nothing refreshed or drawn; shown again: current at once.
    FormStatus->findChild<QPushButton*>("ButtonClose")->click();
    ASSERT_FALSE(FormStatus->isVisible());
    before = FormStatus->PlotDraws();
    const QString hiddenCount = Text("LabelFixCount");
    const std::size_t hiddenFrom = Fixes();
    ASSERT_TRUE(WaitFor([&] { return Fixes() >= hiddenFrom + 8; }, 5000));
    WaitFor([] { return false; }, 1100);
    EXPECT_EQ(Text("LabelFixCount"), hiddenCount);
    EXPECT_EQ(FormStatus->PlotDraws(), before);
    FormMain->MenuRcvrStatusClick();
    EXPECT_EQ(Text("LabelFixCount"), QString("Fixes: %1").arg(Fixes()));

    // Clear starts the plot afresh; new fixes fill it again.
    FormStatus->findChild<QPushButton*>("ButtonClear")->click();
    EXPECT_EQ(Text("LabelFixCount"), "Fixes: 0");
    EXPECT_EQ(Text("LabelCep50"), "CEP50: --");
    ASSERT_TRUE(WaitFor([] { return Fixes() >= 2; }, 3000));

    // The stream stops: after 3 s without a fix sentence the values are greyed.
    sim.SetDead(true);
    WaitFor([] { return false; }, 500); // what was on the way arrives
    clock.Advance(2);
    WaitFor([] { return false; }, 1100);
    EXPECT_EQ(Text("LabelDataState"), "Receiving");
    clock.Advance(3);
    WaitFor([] { return false; }, 1100);
    EXPECT_EQ(Text("LabelDataState"), "No data for 5 s");
    EXPECT_FALSE(FormStatus->findChild<QGroupBox*>("GroupBoxFix")->isEnabled());
    FormMain->Timer->stop();
    sim.Stop();
}
