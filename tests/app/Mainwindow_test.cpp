// The main window as the program builds it: start-up state, menus, the splash, Port >
// Close, logging through the real save dialog, and the mended logging failures.

#include <QAction>
#include <QFontMetrics>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <fstream>
#include <gtest/gtest.h>

#include "Apptest.h"
#include "app/Mainform.h"
#include "ui/Memoutils.h"
#include "connect/Portform.h"
#include "loader/Loadsetupform.h"
#include "proto/Port.h"
#include "receiver/Rcvrportform.h"
#include "ui/Aboutform.h"
#include "ui/Helpform.h"
#include "ui/Noteform.h"
#include "ui/Waitform.h"

namespace {

class MainWindow : public ::testing::Test {
protected:
    AppWindows windows;
};

QAction* MenuItem(const char* name) {
    return FormMain->findChild<QAction*>(name);
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path) {
    const std::vector<std::uint8_t> b = ReadFileBytes(path);
    return {b.begin(), b.end()};
}

} // namespace

TEST_F(MainWindow, StartUpLeavesEveryWindowBuiltAndThePortClosedAt19200) {
    ASSERT_NE(FormMain, nullptr);
    EXPECT_NE(FormAbout, nullptr);
    EXPECT_NE(FormPort, nullptr);
    EXPECT_NE(FormRcvrPort, nullptr);
    EXPECT_NE(FormHelp, nullptr);
    EXPECT_NE(FormNote, nullptr);
    EXPECT_NE(FormWait, nullptr);
    EXPECT_NE(FormLoadSetup, nullptr);

    EXPECT_EQ(FormMain->windowTitle(), "Kestrane Receiver Utility");
    EXPECT_FALSE(CommPort.IsOpen());
    EXPECT_EQ(PortBaudRate, 19200);
    EXPECT_EQ(PortDeviceName, FormPort->DeviceName);
    EXPECT_EQ(FormMain->PanelText(0),
              QString::fromStdString(FormPort->DeviceName) + " : 19200 : Closed");
    EXPECT_EQ(FormMain->PanelText(1), "Logging: none");
    EXPECT_EQ(FormMain->messageCount, 0);
    EXPECT_EQ(FormMain->lastMessageId, 0);
    EXPECT_EQ(FormMain->Timer->interval(), 100);
    EXPECT_TRUE(Recipients.count(4) == 1 && Recipients.count(1) == 1);

    // Centred on the screen (a screen larger than the window: no clamping here).
    const QRect screen = FormMain->screen()->geometry();
    const QSize outer = FormMain->frameGeometry().size();
    ASSERT_GE(screen.width(), outer.width());
    ASSERT_GE(screen.height(), outer.height());
    EXPECT_EQ(FormMain->pos(), screen.topLeft() + QPoint((screen.width() - outer.width()) / 2,
                                                         (screen.height() - outer.height()) / 2));

    // The memo keeps as many lines as fit in it when the window is built; with the
    // design font's 13-pixel pitch that is 41.
    QPlainTextEdit* memo = MainMemo();
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(FormMain->MemoLineLimit(), VisibleLineCount(memo));
    if (QFontMetrics(memo->font()).lineSpacing() == 13) {
        EXPECT_EQ(FormMain->MemoLineLimit(), 41);
    }
}

TEST_F(MainWindow, MenusAreThoseOfTheDesignInOrder) {
    QStringList menus;
    QStringList items;
    for (QAction* top : FormMain->menuBar()->actions()) {
        menus << top->text();
        for (QAction* item : top->menu()->actions())
            items << item->objectName() + "=" + item->text();
    }
    EXPECT_EQ(menus, QStringList({"&File", "Port", "Receiver", "&Help"}));
    // The design's items, and the share and the reopening beyond them, after a separator
    // at the Port menu's end; the reopening is on from the start.
    // The File menu's recording and replay stand between the design's two items.
    EXPECT_EQ(items, QStringList({"MenuFileLogging=&Logging",
                                  "MenuFileRecordRaw=Record &Raw Data...", "=",
                                  "MenuFileReplay=&Replay...", "MenuFileReplayPause=Pa&use Replay",
                                  "MenuFileReplayStop=S&top Replay", "=Replay S&peed", "=",
                                  "MenuFileExit=E&xit",
                                  "MenuPortConfigure=Configure...", "MenuPortClose=Close", "=",
                                  "MenuPortShare=&Share on TCP...",
                                  "MenuPortReopen=&Reopen After Unplug",
                                  "MenuRcvrPort=Configure...", "MenuLoad=Load Software",
                                  "MenuRcvrStatus=Status", "MenuHelpContents=&Contents",
                                  "MenuHelpAbout=&About..."}));
    EXPECT_TRUE(MenuItem("MenuPortReopen")->isCheckable());
    EXPECT_TRUE(MenuItem("MenuPortReopen")->isChecked());
    EXPECT_TRUE(FormMain->ReopenOn());
}

TEST_F(MainWindow, FirstShowingPutsTheSplashOnTopOverIt) {
    FormMain->show();
    ASSERT_TRUE(FormAbout->isVisible());
    EXPECT_TRUE(FormAbout->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_FALSE(FormAbout->findChild<QPushButton*>("ButtonClose")->isVisible());
    const QRect main = FormMain->frameGeometry();
    const QRect about = FormAbout->frameGeometry();
    EXPECT_LE(std::abs(about.center().x() - main.center().x()), 1);
    EXPECT_LE(std::abs(about.center().y() - main.center().y()), 1);
}

TEST_F(MainWindow, MenuItemsShowTheirWindowsAndReturnAtOnce) {
    FormMain->show();
    MenuItem("MenuPortConfigure")->trigger();
    EXPECT_TRUE(FormPort->isVisible());
    MenuItem("MenuRcvrPort")->trigger();
    EXPECT_TRUE(FormRcvrPort->isVisible());
    MenuItem("MenuLoad")->trigger();
    EXPECT_TRUE(FormLoadSetup->isVisible());
    MenuItem("MenuHelpContents")->trigger();
    EXPECT_TRUE(FormHelp->isVisible());
    MenuItem("MenuHelpAbout")->trigger();
    EXPECT_TRUE(FormAbout->isVisible());
    EXPECT_TRUE(FormAbout->findChild<QPushButton*>("ButtonClose")->isVisible());
}

TEST_F(MainWindow, PortPanelShowsThePortManagersStateAndHandsTheRateToOpenPort) {
    // The Receiver Setup dialog changed the rate: the panel and the Open Port dialog's
    // rate (which the software loader reads) both follow the port manager.
    PortDeviceName = "/dev/ttyS9";
    PortBaudRate = 4800;
    FormPort->BaudRate = 19200;
    FormMain->UpdatePortPanel();
    EXPECT_EQ(FormPort->BaudRate, 4800u);
    EXPECT_EQ(FormMain->PanelText(0), "/dev/ttyS9 : 4800 : Closed");

    PortBaudRate = 38400;
    NotifyPortChanged();
    EXPECT_EQ(FormPort->BaudRate, 38400u);
    EXPECT_EQ(FormMain->PanelText(0), "/dev/ttyS9 : 38400 : Closed");
}

TEST_F(MainWindow, PortCloseClosesThePortAndLeavesTheRestAlone) {
    // Nothing open: everything stays as it was.
    const QString before = FormMain->PanelText(0);
    MenuItem("MenuPortClose")->trigger();
    EXPECT_EQ(FormMain->PanelText(0), before);
    EXPECT_TRUE(FormMain->PanelText(0).endsWith(" : Closed"));

    PtyPeer peer;
    ASSERT_TRUE(peer.ok());
    ASSERT_TRUE(OpenMainPort(peer.SlavePath()));
    EXPECT_EQ(FormMain->PanelText(0), QString::fromStdString(peer.SlavePath()) + " : 19200 : Open");
    PumpTicks(peer, Bytes("$GPGGA,1*00\r\n"), 1);
    const QStringList memo = MemoLines();

    MenuItem("MenuPortClose")->trigger();
    EXPECT_FALSE(CommPort.IsOpen());
    EXPECT_EQ(FormMain->PanelText(0),
              QString::fromStdString(peer.SlavePath()) + " : 19200 : Closed");
    EXPECT_EQ(MemoLines(), memo);
    FormMain->TimerTimer(); // ticks go on with the port closed
}

TEST_F(MainWindow, LoggingThroughTheSaveDialogEmptiesTheFileAndWritesEachSentence) {
    const std::string path = TempPath("gps.txt");
    WriteText(path, "old contents that must go\r\n");
    PtyPeer peer;
    ASSERT_TRUE(OpenMainPort(peer.SlavePath()));

    ModalDriver driver;
    driver.fileAnswer = QString::fromStdString(path);
    MenuItem("MenuFileLogging")->trigger();
    EXPECT_EQ(driver.fileDialogs, 1);
    ASSERT_TRUE(FormMain->LoggingOn());
    EXPECT_EQ(ReadText(path), "");
    EXPECT_EQ(MenuItem("MenuFileLogging")->text(), "Close &log");
    EXPECT_EQ(FormMain->PanelText(1),
              "Logging: \" " + QString::fromStdString(path).section('/', -1) + " \"");

    PumpTicks(peer, Bytes("$GPGGA,1*00\r\n$GNGSA,2*00\r\n$GPRMC,3*00\r\n"), 2);
    EXPECT_EQ(ReadText(path), "$GPGGA,1*00\r\n$GPRMC,3*00\r\n");

    // Switching off: nothing more is written.
    MenuItem("MenuFileLogging")->trigger();
    EXPECT_FALSE(FormMain->LoggingOn());
    EXPECT_EQ(MenuItem("MenuFileLogging")->text(), "&Logging");
    EXPECT_EQ(FormMain->PanelText(1), "Logging: none");
    PumpTicks(peer, Bytes("$GPVTG,4*00\r\n"), 1);
    EXPECT_EQ(ReadText(path), "$GPGGA,1*00\r\n$GPRMC,3*00\r\n");
    EXPECT_EQ(driver.notes, QStringList());
}

TEST_F(MainWindow, CancellingTheSaveDialogLeavesLoggingOff) {
    ModalDriver driver; // fileAnswer null: cancel
    MenuItem("MenuFileLogging")->trigger();
    EXPECT_EQ(driver.fileDialogs, 1);
    EXPECT_FALSE(FormMain->LoggingOn());
    EXPECT_EQ(FormMain->PanelText(1), "Logging: none");
    EXPECT_EQ(MenuItem("MenuFileLogging")->text(), "&Logging");
}

TEST_F(MainWindow, ALogFileThatCannotBeOpenedIsReportedAndLoggingStaysOff) {
    ModalDriver driver;
    EXPECT_FALSE(FormMain->StartLogging(QString::fromStdString(TempPath("no/such/dir/gps.txt"))));
    EXPECT_FALSE(FormMain->LoggingOn());
    EXPECT_EQ(FormMain->PanelText(1), "Logging: none");
    EXPECT_EQ(MenuItem("MenuFileLogging")->text(), "&Logging");
    ASSERT_TRUE(WaitFor([&] { return !driver.notes.isEmpty(); }));
    EXPECT_TRUE(driver.notes[0].startsWith("Error opening log file gps.txt\n"))
        << driver.notes[0].toStdString();

    // An empty name changes nothing and says nothing.
    EXPECT_FALSE(FormMain->StartLogging(QString()));
    WaitFor([] { return false; }, 50);
    EXPECT_EQ(driver.notes.size(), 1);
}

TEST_F(MainWindow, AFailedWriteIsReportedAndSwitchesLoggingOff) {
    PtyPeer peer;
    ASSERT_TRUE(OpenMainPort(peer.SlavePath()));
    ModalDriver driver;
    ASSERT_TRUE(FormMain->StartLogging("/dev/full")); // opens, but every flush fails
    ASSERT_TRUE(FormMain->LoggingOn());
    PumpTicks(peer, Bytes("$GPGGA,1*00\r\n$GPGGA,2*00\r\n"), 2);
    EXPECT_FALSE(FormMain->LoggingOn());
    EXPECT_EQ(FormMain->PanelText(1), "Logging: none");
    EXPECT_EQ(MenuItem("MenuFileLogging")->text(), "&Logging");
    // The note opens after the tick, once.
    ASSERT_TRUE(WaitFor([&] { return !driver.notes.isEmpty(); }));
    WaitFor([] { return false; }, 50);
    ASSERT_EQ(driver.notes.size(), 1);
    EXPECT_TRUE(driver.notes[0].startsWith("Error writing log file full\n"));
    // The monitor itself went on.
    EXPECT_EQ(MemoTexts(), QStringList({"$GPGGA,1*00", "$GPGGA,2*00"}));
}

TEST_F(MainWindow, ClosingTheWindowWhileLoggingLeavesEveryLineOnDisk) {
    PtyPeer peer;
    ASSERT_TRUE(OpenMainPort(peer.SlavePath()));
    const std::string path = TempPath("close.log");
    ASSERT_TRUE(FormMain->StartLogging(QString::fromStdString(path)));
    std::string stream;
    std::string expected;
    for (int i = 0; i < 60; ++i) {
        const std::string s = "$GPGGA,line" + std::to_string(i) + "*00";
        stream += s + "\r\n";
        expected += s + "\r\n";
    }
    ASSERT_EQ(PumpTicks(peer, Bytes(stream), 60), 60);

    QSignalSpy closed(FormMain, &TFormMain::FormClosed);
    MenuItem("MenuFileExit")->trigger(); // as the close box
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(FormMain->isVisible());
    EXPECT_FALSE(CommPort.IsOpen());
    // Read while the program still holds the file: every line is already there.
    EXPECT_EQ(ReadText(path), expected);
}
