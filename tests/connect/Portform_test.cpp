// The Open Port dialog with real widgets and the real serial port on pseudo-terminals.

#include "tests/common/Pty.h"
#include "tests/connect/Windows.h"

#include <gtest/gtest.h>

#include <QKeyEvent>

#include <string>
#include <utility>
#include <vector>

namespace {

struct PortControls {
    QToolButton* deviceAuto = Child<QToolButton>(FormPort, "ButtonDeviceNameAuto");
    QToolButton* deviceManual = Child<QToolButton>(FormPort, "ButtonDeviceNameManual");
    QToolButton* baudAuto = Child<QToolButton>(FormPort, "ButtonBaudRateAuto");
    QToolButton* baudManual = Child<QToolButton>(FormPort, "ButtonBaudRateManual");
    QComboBox* device = Child<QComboBox>(FormPort, "ComboBoxDeviceName");
    QComboBox* baud = Child<QComboBox>(FormPort, "ComboBoxBaudRate");
    QPushButton* ok = Child<QPushButton>(FormPort, "ButtonOK");
    QPushButton* cancel = Child<QPushButton>(FormPort, "ButtonCancel");
    QPushButton* apply = Child<QPushButton>(FormPort, "ButtonApply");
};

QString Panel() {
    return FormMain->PanelText(0);
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

TEST(OpenPortDialog, StartsWithTheFirstDeviceAt19200Closed) {
    Pty a, b;
    ASSERT_TRUE(a.ok() && b.ok());
    TestWindows w({a.path(), b.path()});
    PortControls c;
    EXPECT_EQ(FormPort->windowTitle(), "Open Port");
    ASSERT_EQ(c.device->count(), 2);
    EXPECT_EQ(c.device->itemText(0), Q(a.path()));
    EXPECT_EQ(c.device->currentIndex(), 0);
    ASSERT_EQ(c.baud->count(), 4);
    EXPECT_EQ(c.baud->itemText(0), "4800");
    EXPECT_EQ(c.baud->itemText(3), "38400");
    EXPECT_EQ(c.baud->currentText(), "19200");
    EXPECT_TRUE(c.deviceManual->isChecked());
    EXPECT_TRUE(c.baudManual->isChecked());
    EXPECT_EQ(FormPort->DeviceName, a.path());
    EXPECT_EQ(FormPort->BaudRate, 19200u);
    EXPECT_EQ(PortDeviceName, a.path());
    EXPECT_EQ(PortBaudRate, 19200);
    EXPECT_EQ(Panel(), Q(a.path()) + " : 19200 : Closed");
    EXPECT_FALSE(CommPort.IsOpen());
    EXPECT_FALSE(FormPort->Searching());
}

TEST(OpenPortDialog, ControlsTabOrderAndButtons) {
    TestWindows w({});
    PortControls c;
    // Tab order: rate, device, Apply, OK, Cancel, then Network... (added beyond the
    // design); the speed buttons take no focus.
    std::vector<QWidget*> chain;
    QWidget* start = c.baud;
    QWidget* it = start;
    do {
        if (it->focusPolicy() & Qt::TabFocus && it->window() == FormPort &&
            (it == c.baud || it == c.device || qobject_cast<QPushButton*>(it) != nullptr))
            chain.push_back(it);
        it = it->nextInFocusChain();
    } while (it != start && chain.size() < 10);
    auto* network = Child<QPushButton>(FormPort, "ButtonNetwork");
    EXPECT_EQ(chain, (std::vector<QWidget*>{c.baud, c.device, c.apply, c.ok, c.cancel, network}));
    for (QToolButton* b : {c.deviceAuto, c.deviceManual, c.baudAuto, c.baudManual})
        EXPECT_EQ(b->focusPolicy(), Qt::NoFocus);
    for (QPushButton* b : {c.ok, c.cancel, c.apply, network}) {
        EXPECT_FALSE(b->isDefault());
        EXPECT_FALSE(b->autoDefault());
    }

    // One button of each group is down; clicking the down one leaves it down, and Auto
    // greys its combo.
    c.deviceAuto->click();
    EXPECT_TRUE(c.deviceAuto->isChecked());
    EXPECT_FALSE(c.deviceManual->isChecked());
    EXPECT_FALSE(c.device->isEnabled());
    c.deviceAuto->click();
    EXPECT_TRUE(c.deviceAuto->isChecked());
    EXPECT_FALSE(c.device->isEnabled());
    c.deviceManual->click();
    EXPECT_TRUE(c.device->isEnabled());
    c.baudAuto->click();
    EXPECT_FALSE(c.baud->isEnabled());
    EXPECT_TRUE(c.device->isEnabled());
    c.baudManual->click();
    c.baudManual->click();
    EXPECT_TRUE(c.baudManual->isChecked());
    EXPECT_TRUE(c.baud->isEnabled());
}

TEST(OpenPortDialog, ShowOverCentresOnFirstShowingOnlyAndNeverOffScreen) {
    {
        TestWindows w({});
        const QSize size = FormPort->frameGeometry().size();
        FormPort->ShowOver({100, 200, 100 + 651, 200 + 613});
        EXPECT_EQ(FormPort->frameGeometry().topLeft(),
                  QPoint(100 + (651 - size.width()) / 2, 200 + (613 - size.height()) / 2));
        // Later showings leave it where the user put it.
        FormPort->move(10, 20);
        FormPort->hide();
        FormPort->ShowOver({300, 300, 900, 900});
        EXPECT_EQ(FormPort->pos(), QPoint(10, 20));
        EXPECT_TRUE(FormPort->isVisible());
    }
    TestWindows w({});
    FormPort->ShowOver({-500, -400, -500 + 100, -400 + 50});
    EXPECT_EQ(FormPort->frameGeometry().topLeft(), QPoint(0, 0));
}

TEST(OpenPortDialog, ManualOpenOfAGoodDevice) {
    Pty a, b;
    ASSERT_TRUE(a.ok() && b.ok());
    TestWindows w({a.path(), b.path()});
    PortControls c;
    NoteCatcher notes;
    c.device->setCurrentIndex(1);
    c.baud->setCurrentIndex(1);
    c.apply->click();
    EXPECT_TRUE(CommPort.IsOpen());
    EXPECT_EQ(b.LineRate(), 9600u);
    EXPECT_EQ(PortDeviceName, b.path());
    EXPECT_EQ(PortBaudRate, 9600);
    EXPECT_EQ(FormPort->DeviceName, b.path());
    EXPECT_EQ(FormPort->BaudRate, 9600u);
    EXPECT_EQ(Panel(), Q(b.path()) + " : 9600 : Open");
    EXPECT_TRUE(notes.texts.empty());
    EXPECT_FALSE(FormWait->isVisible());

    // Opening again closes the port first, so the same device opens once more.
    c.baud->setCurrentIndex(3);
    c.apply->click();
    EXPECT_TRUE(CommPort.IsOpen());
    EXPECT_EQ(b.LineRate(), 38400u);
    EXPECT_EQ(Panel(), Q(b.path()) + " : 38400 : Open");

    // OK applies and hides.
    FormPort->ShowOver(OuterRect(*FormMain));
    c.device->setCurrentIndex(0);
    c.ok->click();
    EXPECT_FALSE(FormPort->isVisible());
    EXPECT_EQ(Panel(), Q(a.path()) + " : 38400 : Open");
    EXPECT_TRUE(notes.texts.empty());
}

TEST(OpenPortDialog, ManualOpenThatFailsNamesTheDeviceAndLeavesThePortClosed) {
    Pty held;
    ASSERT_TRUE(held.ok());
    SerialPort other; // another program holds this one
    ASSERT_TRUE(other.Open(held.path().c_str(), 19200, 0));
    const std::string missing = "/dev/kestrane-no-such-device";
    TestWindows w({missing, held.path()});
    PortControls c;
    NoteCatcher notes;

    c.baud->setCurrentIndex(0);
    c.apply->click();
    ASSERT_EQ(notes.texts.size(), 1u);
    EXPECT_EQ(notes.texts[0], Q("Error opening device " + missing) + "\nNo such file or directory");
    EXPECT_FALSE(CommPort.IsOpen());
    EXPECT_EQ(PortDeviceName, missing);
    EXPECT_EQ(PortBaudRate, 4800);
    EXPECT_EQ(Panel(), Q(missing) + " : 4800 : Closed");
    EXPECT_FALSE(FormWait->isVisible());

    c.device->setCurrentIndex(1);
    c.apply->click();
    ASSERT_EQ(notes.texts.size(), 2u);
    EXPECT_TRUE(notes.texts[1].startsWith(Q("Error opening device " + held.path() + "\n")));
    EXPECT_EQ(Panel(), Q(held.path()) + " : 4800 : Closed");
    EXPECT_TRUE(other.IsOpen());
}

TEST(OpenPortDialog, TypedTextThatMatchesNoEntryIsNeverUsed) {
    Pty a, b;
    ASSERT_TRUE(a.ok() && b.ok());
    TestWindows w({a.path(), b.path()});
    PortControls c;
    NoteCatcher notes;

    // Text of the user's own in both combos: the first device and 19200, shown selected.
    c.device->setCurrentIndex(1);
    c.device->setEditText("/dev/ttyNONSENSE");
    c.baud->setCurrentIndex(0);
    c.baud->setEditText("12345");
    c.apply->click();
    EXPECT_EQ(FormPort->DeviceName, a.path());
    EXPECT_EQ(FormPort->BaudRate, 19200u);
    EXPECT_EQ(c.device->currentIndex(), 0);
    EXPECT_EQ(c.device->currentText(), Q(a.path()));
    EXPECT_EQ(c.baud->currentIndex(), 2);
    EXPECT_EQ(c.baud->currentText(), "19200");
    EXPECT_EQ(a.LineRate(), 19200u);

    // Text that is exactly an entry's selects that entry.
    c.device->setEditText(Q(b.path()));
    c.baud->setEditText("9600");
    c.apply->click();
    EXPECT_EQ(FormPort->DeviceName, b.path());
    EXPECT_EQ(FormPort->BaudRate, 9600u);
    EXPECT_EQ(c.baud->currentIndex(), 1);
    EXPECT_EQ(b.LineRate(), 9600u);
    EXPECT_TRUE(notes.texts.empty());
}

// Apply starts a search at the selected entry of a combo whose button is on Manual and
// at the first entry of one on Auto, whatever that combo shows. Silent lines: every
// combination runs out its time and the search ends with its note.
TEST(OpenPortDialog, SearchStartsAtTheManualSelectionAndTheFirstAutoEntry) {
    Pty a, b;
    ASSERT_TRUE(a.ok() && b.ok());
    using Combo = std::pair<std::string, std::int32_t>;
    struct Case {
        const char* name;
        bool deviceAuto;
        bool baudAuto;
        std::vector<Combo> expected;
    };
    const std::vector<Case> cases = {
        {"device manual, rate auto",
         false,
         true,
         {{b.path(), 4800}, {b.path(), 9600}, {b.path(), 19200}, {b.path(), 38400}}},
        {"device auto, rate manual", true, false, {{a.path(), 38400}, {b.path(), 38400}}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TestWindows w({a.path(), b.path()});
        PortControls c;
        NoteCatcher notes;
        c.device->setCurrentIndex(1);
        c.baud->setCurrentIndex(3);
        (k.deviceAuto ? c.deviceAuto : c.deviceManual)->click();
        (k.baudAuto ? c.baudAuto : c.baudManual)->click();
        c.apply->click();
        ASSERT_TRUE(FormPort->Searching());
        const Combo first = k.expected.front();
        EXPECT_EQ(Child<QLabel>(FormWait, "Label")->text(),
                  Q("Attempting " + first.first + " at " + std::to_string(first.second)));
        // The combos follow the attempt.
        EXPECT_EQ(c.device->currentText(), Q(first.first));
        EXPECT_EQ(c.baud->currentText(), QString::number(first.second));

        std::vector<Combo> attempts{{PortDeviceName, PortBaudRate}};
        for (int s = 0; s < 30 && FormPort->Searching(); ++s) {
            for (int t = 0; t < 10 && FormPort->Searching(); ++t) {
                FormMain->TimerTimer();
                Pump();
                const Combo now{PortDeviceName, PortBaudRate};
                if (FormPort->Searching() && attempts.back() != now)
                    attempts.push_back(now);
            }
            w.clock.Advance(1);
        }
        EXPECT_FALSE(FormPort->Searching());
        EXPECT_EQ(attempts, k.expected);
        ASSERT_EQ(notes.texts.size(), 1u);
        EXPECT_EQ(notes.texts[0], "Failed to find unit.");
        // The selection read at Apply stays the dialog's device name.
        EXPECT_EQ(FormPort->DeviceName, b.path());
    }
}

// Every attempt closes the port; one whose device will not open must say so on the panel,
// also when it ends the search with "Failed to find unit.".
TEST(OpenPortDialog, PanelSaysClosedAfterAnAttemptThatDidNotOpen) {
    Pty a;
    ASSERT_TRUE(a.ok());
    const std::string missing = "/dev/kestrane-no-such-device";
    TestWindows w({a.path(), missing});
    PortControls c;
    NoteCatcher notes;
    c.deviceAuto->click();
    c.baudManual->click();
    c.apply->click();
    ASSERT_TRUE(FormPort->Searching());
    EXPECT_EQ(Panel(), Q(a.path()) + " : 19200 : Open");
    for (int s = 0; s < 5 && FormPort->Searching(); ++s) {
        for (int t = 0; t < 10 && FormPort->Searching(); ++t) {
            FormMain->TimerTimer();
            Pump();
        }
        w.clock.Advance(1);
    }
    EXPECT_FALSE(FormPort->Searching());
    EXPECT_EQ(notes.texts, std::vector<QString>{"Failed to find unit."});
    EXPECT_FALSE(CommPort.IsOpen());
    EXPECT_TRUE(Panel().endsWith(" : Closed")) << Panel().toStdString();
}

// Esc on the wait window is its Cancel while a search runs: the search ends, no note.
TEST(OpenPortDialog, EscOnTheWaitWindowCancelsTheSearch) {
    Pty a, b;
    ASSERT_TRUE(a.ok() && b.ok());
    TestWindows w({a.path(), b.path()});
    PortControls c;
    NoteCatcher notes;
    c.deviceAuto->click();
    c.apply->click();
    ASSERT_TRUE(FormWait->isVisible());
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(FormWait, &esc);
    EXPECT_FALSE(FormPort->Searching());
    EXPECT_FALSE(FormWait->isVisible());
    for (int i = 0; i < 5; ++i) {
        w.clock.Advance(2);
        FormMain->TimerTimer();
        Pump();
    }
    EXPECT_TRUE(notes.texts.empty());
    EXPECT_EQ(Panel(), Q(a.path()) + " : 19200 : Open");
}

TEST(OpenPortDialog, EmptyDeviceListOffersNothingAndApplySaysSo) {
    TestWindows w({});
    PortControls c;
    NoteCatcher notes;
    EXPECT_EQ(c.device->count(), 0);
    EXPECT_EQ(FormPort->DeviceName, "");
    EXPECT_EQ(Panel(), " : 19200 : Closed");
    c.apply->click();
    c.deviceAuto->click();
    c.apply->click();
    ASSERT_EQ(notes.texts.size(), 2u);
    EXPECT_EQ(notes.texts[0], "No serial device was found to open.");
    EXPECT_EQ(notes.texts[1], "No serial device was found to open.");
    EXPECT_FALSE(CommPort.IsOpen());
    EXPECT_FALSE(FormPort->Searching());
    EXPECT_FALSE(FormWait->isVisible());
}

} // namespace
