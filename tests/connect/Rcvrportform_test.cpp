// The Receiver Setup dialog with real widgets: its controls, how reports fill them, the
// frequency text, Apply's refusal of a bad frequency before anything is sent, and settings
// profiles saved from and opened into the controls.
// The dialogue with a simulated receiver is in Connection_test.cpp.

#include "proto/Memoutils.h"
#include "tests/common/Pty.h"
#include "tests/connect/Windows.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTemporaryDir>

#include <climits>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> ConfigReport(std::uint32_t nmea, std::uint32_t binary,
                                       std::uint8_t navRate, std::size_t payloadLen = 124) {
    std::vector<std::uint8_t> payload(payloadLen, 0);
    if (payloadLen > kCfgNavRate) {
        PutLE32(payload.data() + kCfgBinaryFlags, binary);
        PutLE32(payload.data() + kCfgNmeaFlags, nmea);
        payload[kCfgNavRate] = navRate;
    }
    std::vector<std::uint8_t> frame(payloadLen + kFrameOverhead);
    frame.resize(BuildMsg(kMsgConfigReport, payload.data(), payload.size(), frame.data()));
    return frame;
}

std::vector<std::uint8_t> CorrectionsReport(std::uint8_t waas, std::uint8_t corrections,
                                            std::uint8_t freqMode, std::int32_t channel,
                                            std::size_t payloadLen = 72) {
    std::vector<std::uint8_t> payload(payloadLen, 0);
    if (payloadLen > kCorrCorrectionsState) {
        PutLE32(payload.data() + kCorrChannel, static_cast<std::uint32_t>(channel));
        payload[kCorrFrequencyMode] = freqMode;
        payload[kCorrWaasState] = waas;
        payload[kCorrCorrectionsState] = corrections;
    }
    std::vector<std::uint8_t> frame(payloadLen + kFrameOverhead);
    frame.resize(BuildMsg(kMsgCorrectionsReport, payload.data(), payload.size(), frame.data()));
    return frame;
}

void Deliver(const std::vector<std::uint8_t>& frame) {
    FormRcvrPort->OnReceiverReport(frame.data(), static_cast<int>(frame.size()));
}

// Everything the controls show, to see what changed.
std::string Shown(const SetupControls& c) {
    QString s = c.baud->currentText() + "|" + c.nav->currentText() + "|" +
                QString::number(c.Nmea()) + "|" + c.freq->text() + "|" +
                QString::number(c.freq->isEnabled());
    for (const QToolButton* b : {c.waasOn, c.waasOff, c.corrOn, c.corrOff, c.dflt, c.alt})
        s += QString::number(b->isChecked());
    return s.toStdString();
}

void WriteFile(const QString& path, const std::string& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes.data(), qint64(bytes.size())), qint64(bytes.size()));
}

TEST(ReceiverSetupDialog, StartsFromItsInitialMembers) {
    TestWindows w({});
    SetupControls c;
    EXPECT_EQ(FormRcvrPort->windowTitle(), "Receiver Setup");
    ASSERT_EQ(c.baud->count(), 4);
    EXPECT_EQ(c.baud->itemText(0), "4800");
    EXPECT_EQ(c.baud->currentText(), "19200");
    ASSERT_EQ(c.nav->count(), 2);
    EXPECT_EQ(c.nav->itemText(1), "5");
    EXPECT_EQ(c.nav->currentText(), "1");
    EXPECT_EQ(c.Nmea(), 0u);
    EXPECT_FALSE(c.waasOn->isChecked());
    EXPECT_TRUE(c.waasOff->isChecked());
    EXPECT_TRUE(c.corrOn->isChecked());
    EXPECT_FALSE(c.corrOff->isChecked());
    EXPECT_TRUE(c.dflt->isChecked());
    EXPECT_FALSE(c.alt->isChecked());
    EXPECT_TRUE(c.freq->text().isEmpty());
    EXPECT_FALSE(c.freq->isEnabled());
    // The binary-message panel is hidden and the bottom part has taken its place.
    QWidget* bin = Child<QWidget>(FormRcvrPort, "PanelBinMsgs");
    QWidget* bottom = Child<QWidget>(FormRcvrPort, "PanelBottom");
    EXPECT_TRUE(bin->isHidden());
    EXPECT_EQ(bottom->y(), bin->y());
    EXPECT_LE(bottom->geometry().bottom(), FormRcvrPort->height());
    EXPECT_LE(Child<QPushButton>(FormRcvrPort, "ButtonOpen")->geometry().bottom(),
              bottom->height());
}

TEST(ReceiverSetupDialog, ShowOverPlacesOnTheFirstShowingOnlyAndAsksEveryTime) {
    const std::vector<std::uint8_t> requests = {0x24, 0x78, 0xFF, 0x0B, 0x78, 0x24, 0x04, 0x9F,
                                                0xA9, 0x0D, 0x0A, 0x24, 0x78, 0xFF, 0x0B, 0x78,
                                                0x24, 0x01, 0x3A, 0xF9, 0x0D, 0x0A};
    Pty line;
    ASSERT_TRUE(line.ok());
    {
        TestWindows w({line.path()});
        Child<QPushButton>(FormPort, "ButtonApply")->click();
        ASSERT_TRUE(CommPort.IsOpen());
        const QSize size = FormRcvrPort->frameGeometry().size();
        EXPECT_TRUE(FormRcvrPort->ShowOver({100, 200, 100 + 651, 200 + 613}));
        EXPECT_TRUE(FormRcvrPort->isVisible());
        EXPECT_EQ(FormRcvrPort->frameGeometry().topLeft(),
                  QPoint(100 + (651 - size.width()) / 2, 200 + (613 - size.height()) / 2));
        EXPECT_EQ(line.ReadAll(50), requests);
        // Later showings ask again but leave the dialog where the user put it.
        FormRcvrPort->move(10, 20);
        FormRcvrPort->hide();
        EXPECT_TRUE(FormRcvrPort->ShowOver({300, 300, 900, 900}));
        EXPECT_EQ(FormRcvrPort->pos(), QPoint(10, 20));
        EXPECT_EQ(line.ReadAll(50), requests);
        FormRcvrPort->hide();
    }
    TestWindows w({});
    FormRcvrPort->ShowOver({-500, -400, -500 + 100, -400 + 50});
    EXPECT_EQ(FormRcvrPort->frameGeometry().topLeft(), QPoint(0, 0));
    FormRcvrPort->hide();
}

TEST(ReceiverSetupDialog, TogglesOfAGroupCanAllBeUp) {
    TestWindows w({});
    SetupControls c;
    c.waasOn->click();
    EXPECT_TRUE(c.waasOn->isChecked());
    EXPECT_FALSE(c.waasOff->isChecked());
    c.waasOn->click();
    EXPECT_FALSE(c.waasOn->isChecked());
    EXPECT_FALSE(c.waasOff->isChecked());
    c.corrOff->click();
    EXPECT_FALSE(c.corrOn->isChecked());
    EXPECT_TRUE(c.corrOff->isChecked());
    c.gga->click();
    c.rmc->click();
    EXPECT_EQ(c.Nmea(), kNmeaGGA | kNmeaRMC);
    // Alternate enables the frequency field, Default disables it; neither touches it.
    c.freq->setText("1550");
    c.alt->click();
    EXPECT_TRUE(c.freq->isEnabled());
    EXPECT_FALSE(c.dflt->isChecked());
    c.dflt->click();
    EXPECT_FALSE(c.freq->isEnabled());
    EXPECT_EQ(c.freq->text(), "1550");
}

TEST(ReceiverSetupDialog, FirstReportOfEachKindFillsTheControlsLaterOnesOnlyTheMembers) {
    TestWindows w({});
    SetupControls c;
    Deliver(ConfigReport(kNmeaGGA | kNmeaRMC, 0x2F, 5));
    EXPECT_EQ(c.Nmea(), kNmeaGGA | kNmeaRMC);
    EXPECT_EQ(c.nav->currentText(), "5");
    EXPECT_EQ(c.baud->currentText(), "19200");
    Deliver(CorrectionsReport(1, 1, 1, 41000));
    EXPECT_TRUE(c.waasOn->isChecked());
    EXPECT_TRUE(c.corrOff->isChecked());
    EXPECT_TRUE(c.alt->isChecked());
    EXPECT_EQ(c.freq->text(), "1545.5");
    EXPECT_TRUE(c.freq->isEnabled());

    // The user edits; the receiver reports again on its own: the edits stay.
    c.gsa->click();
    c.freq->setText("1550");
    Deliver(ConfigReport(kNmeaZDA, 0, 1));
    Deliver(CorrectionsReport(0, 0, 0, 0));
    EXPECT_EQ(c.Nmea(), kNmeaGGA | kNmeaGSA | kNmeaRMC);
    EXPECT_EQ(c.nav->currentText(), "5");
    EXPECT_EQ(c.freq->text(), "1550");
    // ... while the members took the reports in.
    FormRcvrPort->ShowSettings();
    EXPECT_EQ(c.Nmea(), kNmeaZDA);
    EXPECT_EQ(c.nav->currentText(), "1");
    EXPECT_TRUE(c.dflt->isChecked());
    EXPECT_TRUE(c.freq->text().isEmpty());
    EXPECT_FALSE(c.freq->isEnabled());

    // Request lets the next report of each kind refresh the controls again.
    FormRcvrPort->RequestSettings();
    Deliver(ConfigReport(kNmeaVTG, 0, 5));
    EXPECT_EQ(c.Nmea(), kNmeaVTG);
}

TEST(ReceiverSetupDialog, WaasNotAvailableDisablesItsButtonsForGood) {
    TestWindows w({});
    SetupControls c;
    Deliver(CorrectionsReport(2, 0, 0, 0));
    EXPECT_FALSE(c.waasOn->isChecked());
    EXPECT_TRUE(c.waasOff->isChecked());
    EXPECT_FALSE(c.waasOn->isEnabled());
    EXPECT_FALSE(c.waasOff->isEnabled());
    FormRcvrPort->RequestSettings();
    Deliver(CorrectionsReport(1, 0, 0, 0));
    EXPECT_TRUE(c.waasOn->isChecked());
    EXPECT_FALSE(c.waasOff->isChecked());
    EXPECT_FALSE(c.waasOn->isEnabled());
    EXPECT_FALSE(c.waasOff->isEnabled());
}

TEST(ReceiverSetupDialog, ReportsThatAreTooShortOrOddNeverBendTheControls) {
    TestWindows w({});
    SetupControls c;
    // Too short for the fields read: ignored, and the next good report still refreshes.
    Deliver(ConfigReport(kNmeaGGA, 0, 5, 30));
    Deliver(CorrectionsReport(1, 0, 1, 7, 71));
    EXPECT_EQ(c.Nmea(), 0u);
    EXPECT_EQ(c.nav->currentText(), "1");
    EXPECT_TRUE(c.dflt->isChecked());
    std::vector<std::uint8_t> tiny = {'$', 'x', 4};
    Deliver(tiny);
    FormRcvrPort->OnReceiverReport(nullptr, 0);
    Deliver(ConfigReport(0xFFFFFFFF, 0xFFFFFFFF, 7, 31));
    // Every NMEA toggle down; a navigation rate other than 5 shows as 1.
    EXPECT_EQ(c.Nmea(), 0x1Fu);
    EXPECT_EQ(c.nav->currentText(), "1");
    Deliver(CorrectionsReport(0xFF, 0xFF, 0xFF, INT_MIN));
    EXPECT_TRUE(c.corrOff->isChecked());
    EXPECT_TRUE(c.alt->isChecked());
    EXPECT_EQ(c.freq->text(), "-1072216.824");
    EXPECT_FALSE(c.waasOn->isEnabled());
    // A port rate outside the offered ones shows the default entry.
    PortBaudRate = 57600;
    FormRcvrPort->RequestSettings();
    Deliver(ConfigReport(0, 0, 1));
    EXPECT_EQ(c.baud->currentText(), "19200");
    PortBaudRate = 19200;
}

TEST(ReceiverSetupDialog, FrequencyTextIsTheShortestDecimalInTheUsersLocale) {
    const QLocale en(QLocale::English, QLocale::UnitedStates);
    const QLocale de(QLocale::German, QLocale::Germany);
    struct Case {
        std::int32_t channel;
        const char* text;
    };
    const Case cases[] = {
        {41000, "1545.5"},         {0, "1525"},      {1, "1525.0005"},
        {-1, "1524.9995"},         {2000, "1526"},   {INT_MAX, "1075266.8235"},
        {INT_MIN, "-1072216.824"}, {3, "1525.0015"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.channel);
        const QString text = MHzText(ChannelToMHz(c.channel), en);
        EXPECT_EQ(text, c.text);
        QString german = QString(c.text).replace('.', ',');
        EXPECT_EQ(MHzText(ChannelToMHz(c.channel), de), german);
        // What is shown reads back as the same channel.
        double mhz = 0;
        std::int32_t channel = 0;
        ASSERT_TRUE(ParseMHz(german, de, mhz));
        ASSERT_TRUE(MHzToChannel(mhz, channel));
        EXPECT_EQ(channel, c.channel);
    }

    // Request then Apply, touching nothing, must send the channel the receiver reported:
    // every channel of a sweep reads back as itself from the text shown, in both locales.
    for (const QLocale& locale : {en, de}) {
        int wrong = 0;
        for (std::int32_t channel = -3000; channel <= 103000; channel += 7) {
            double mhz = 0;
            std::int32_t back = 0;
            if (!ParseMHz(MHzText(ChannelToMHz(channel), locale), locale, mhz) ||
                !MHzToChannel(mhz, back) || back != channel) {
                ++wrong;
            }
        }
        EXPECT_EQ(wrong, 0) << locale.name().toStdString();
    }

    double mhz = 0;
    EXPECT_TRUE(ParseMHz(" 1545.5 ", en, mhz));
    EXPECT_EQ(mhz, 1545.5);
    EXPECT_TRUE(ParseMHz("1.5455e3", en, mhz));
    EXPECT_EQ(mhz, 1545.5);
    for (const char* bad : {"", " ", "abc", "1545.5x", "1,545.5", "1545,5", "--1"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseMHz(bad, en, mhz));
    }
    // In a locale with a decimal comma a point is no separator at all.
    EXPECT_FALSE(ParseMHz("1545.5", de, mhz));
    EXPECT_FALSE(ParseMHz("1.545,5", de, mhz));
}

TEST(ReceiverSetupDialog, BadAlternateFrequencyIsRefusedBeforeAnythingIsSent) {
    Pty line;
    ASSERT_TRUE(line.ok());
    TestWindows w({line.path()});
    SetupControls c;
    NoteCatcher notes;
    Child<QPushButton>(FormPort, "ButtonApply")->click();
    ASSERT_TRUE(CommPort.IsOpen());
    FormRcvrPort->ShowOver(OuterRect(*FormMain));
    line.ReadAll(50); // the two requests of ShowOver
    c.alt->click();
    c.baud->setCurrentIndex(1);
    for (const char* text : {"", "abc", "1545,5", "9999999"}) {
        SCOPED_TRACE(text);
        c.freq->setText(text);
        c.ok->click();
        ASSERT_FALSE(notes.texts.empty());
        EXPECT_EQ(notes.texts.back(),
                  QString("'%1' is not a valid floating point value").arg(text));
        EXPECT_TRUE(FormRcvrPort->isVisible());
        EXPECT_TRUE(line.ReadAll(20).empty());
    }
    EXPECT_EQ(notes.texts.size(), 4u);
    EXPECT_EQ(PortBaudRate, 19200);
    EXPECT_EQ(line.LineRate(), 19200u);

    // Once the frequency is a number, Apply goes through and OK hides the dialog.
    c.freq->setText("1545.5");
    c.baud->setCurrentIndex(2);
    c.ok->click();
    EXPECT_EQ(notes.texts.size(), 4u);
    EXPECT_FALSE(FormRcvrPort->isVisible());
    EXPECT_EQ(line.ReadAll(50).size(), 11u + 18u + 44u);
}

TEST(ReceiverSetupDialog, FrequencyIsShownAndReadWithTheLocalesDecimalComma) {
    Pty line;
    ASSERT_TRUE(line.ok());
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    {
        TestWindows w({line.path()});
        SetupControls c;
        NoteCatcher notes;
        Child<QPushButton>(FormPort, "ButtonApply")->click();
        Deliver(CorrectionsReport(0, 0, 1, 41000));
        EXPECT_EQ(c.freq->text(), "1545,5");
        c.freq->setText("1550,25");
        c.apply->click();
        EXPECT_TRUE(notes.texts.empty());
        const std::vector<std::uint8_t> sent = line.ReadAll(50);
        ASSERT_EQ(sent.size(), 11u + 18u + 44u);
        // Channel (1550.25 - 1525) * 2000 = 50500 = 0xC544.
        EXPECT_EQ(std::vector<std::uint8_t>(sent.begin() + 11 + 6, sent.begin() + 11 + 12),
                  (std::vector<std::uint8_t>{1, 1, 0x44, 0xC5, 0, 0}));
    }
    QLocale::setDefault(saved);
}

TEST(ReceiverSetupDialog, RequestAndApplyWithNoPortOpen) {
    TestWindows w({});
    SetupControls c;
    NoteCatcher notes;
    // Requests to a closed port go nowhere and say nothing.
    FormRcvrPort->ShowOver(OuterRect(*FormMain));
    EXPECT_TRUE(notes.texts.empty());
    // A rate change cannot be made on a closed port: the user is told, nothing changes.
    c.baud->setCurrentIndex(1);
    c.apply->click();
    ASSERT_EQ(notes.texts.size(), 1u);
    EXPECT_EQ(notes.texts[0], "Error changing baud rate");
    EXPECT_EQ(PortBaudRate, 19200);
    EXPECT_EQ(Child<QComboBox>(FormPort, "ComboBoxBaudRate")->currentIndex(), 2);
    // The same rate needs no change.
    c.baud->setCurrentIndex(2);
    c.apply->click();
    EXPECT_EQ(notes.texts.size(), 1u);
    FormRcvrPort->hide();
}

TEST(ReceiverSetupDialog, SavedProfileHoldsTheControlsAndOpensBackWithNothingSent) {
    Pty line;
    ASSERT_TRUE(line.ok());
    TestWindows w({line.path()});
    SetupControls c;
    NoteCatcher notes;
    Child<QPushButton>(FormPort, "ButtonApply")->click();
    ASSERT_TRUE(CommPort.IsOpen());
    Deliver(ConfigReport(0, 0, 1));         // from software version 0.0
    Deliver(CorrectionsReport(1, 1, 0, 0)); // WAAS on, corrections off, default frequency
    c.baud->setCurrentIndex(3);
    c.SetNmea(kNmeaGGA | kNmeaRMC);
    c.nav->setCurrentIndex(1);
    c.waasOff->click();
    c.corrOn->click();
    c.alt->click();
    c.freq->setText("1545.5");

    QTemporaryDir dir;
    const QString path = dir.filePath("receiver.json");
    ASSERT_TRUE(FormRcvrPort->SaveProfileTo(path));
    const std::string saved = Shown(c);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject expected{{"profile_version", 1},    {"software_version", "0.0"},
                               {"baud_rate", 38400},      {"nmea", QJsonArray{"GGA", "RMC"}},
                               {"nav_rate", 5},           {"waas", "off"},
                               {"corrections", "on"},     {"frequency", "alternate"},
                               {"frequency_mhz", 1545.5}, {"channel", 41000}};
    EXPECT_EQ(QJsonDocument::fromJson(file.readAll()).toJson(QJsonDocument::Compact).toStdString(),
              QJsonDocument(expected).toJson(QJsonDocument::Compact).toStdString());

    c.baud->setCurrentIndex(0);
    c.SetNmea(kNmeaGSA);
    c.nav->setCurrentIndex(0);
    c.waasOn->click();
    c.corrOff->click();
    c.dflt->click();
    c.freq->setText("1550");
    ASSERT_TRUE(FormRcvrPort->OpenProfileFrom(path));
    EXPECT_EQ(Shown(c), saved);
    EXPECT_TRUE(notes.texts.empty());
    EXPECT_TRUE(line.ReadAll(50).empty());
}

TEST(ReceiverSetupDialog, PartialProfileChangesOnlyItsSettingAndLaterReportsKeepIt) {
    TestWindows w({});
    SetupControls c;
    c.alt->click();
    c.freq->setText("1550,5"); // typed, not yet a number: it stays as typed
    const std::string before = Shown(c);
    QTemporaryDir dir;
    WriteFile(dir.filePath("nav.json"), "{\"profile_version\":1,\"nav_rate\":5}");
    ASSERT_TRUE(FormRcvrPort->OpenProfileFrom(dir.filePath("nav.json")));
    EXPECT_EQ(c.nav->currentText().toStdString(), "5");
    // The reports of the receiver's own settings, the first since the dialog was made.
    Deliver(ConfigReport(kNmeaZDA, 0, 1));
    Deliver(CorrectionsReport(1, 1, 0, 0));
    EXPECT_EQ(c.nav->currentText().toStdString(), "5");
    c.nav->setCurrentIndex(0);
    EXPECT_EQ(Shown(c), before);
}

TEST(ReceiverSetupDialog, ProfileThatCannotBeOpenedChangesNoControlAndSaysWhy) {
    TestWindows w({});
    SetupControls c;
    NoteCatcher notes;
    c.nav->setCurrentIndex(1);
    c.gga->click();
    const std::string before = Shown(c);
    QTemporaryDir dir;
    struct Case {
        const char* file;
        std::string bytes; // none: no such file
        const char* named;
    };
    const Case cases[] = {
        {"cut.json", "{\"profile_version\":1,\"nav_rate\":1", "not JSON"},
        {"v2.json", "{\"profile_version\":2,\"nav_rate\":1}", "profile_version"},
        {"baud.json", "{\"profile_version\":1,\"nav_rate\":1,\"baud_rate\":12345}", "baud_rate"},
        {"long.json", "{\"profile_version\":1,\"nav_rate\":1}" + std::string(65536, ' '),
         "longer than 65536 bytes"},
        {"none.json", "", "No such file"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.file);
        const QString path = dir.filePath(k.file);
        if (!k.bytes.empty())
            WriteFile(path, k.bytes);
        const std::size_t shown = notes.texts.size();
        EXPECT_FALSE(FormRcvrPort->OpenProfileFrom(path));
        ASSERT_EQ(notes.texts.size(), shown + 1);
        EXPECT_TRUE(notes.texts.back().contains(path)) << notes.texts.back().toStdString();
        EXPECT_TRUE(notes.texts.back().contains(k.named)) << notes.texts.back().toStdString();
        EXPECT_EQ(Shown(c), before);
    }
}

TEST(ReceiverSetupDialog, SaveWritesNothingItCannotStandBehind) {
    TestWindows w({});
    SetupControls c;
    NoteCatcher notes;
    QTemporaryDir dir;
    const QString path = dir.filePath("p.json");
    c.alt->click();
    c.freq->setText("abc");
    EXPECT_FALSE(FormRcvrPort->SaveProfileTo(path));
    ASSERT_EQ(notes.texts.size(), 1u);
    EXPECT_EQ(notes.texts[0], "'abc' is not a valid floating point value");
    // Apply would send this one; a profile holds only the band's frequencies.
    c.freq->setText("1600");
    EXPECT_FALSE(FormRcvrPort->SaveProfileTo(path));
    ASSERT_EQ(notes.texts.size(), 2u);
    EXPECT_TRUE(notes.texts[1].contains("frequency_mhz")) << notes.texts[1].toStdString();
    EXPECT_FALSE(QFile::exists(path));

    c.freq->setText("1545.5");
    const QString nowhere = dir.filePath("gone/p.json");
    EXPECT_FALSE(FormRcvrPort->SaveProfileTo(nowhere));
    ASSERT_EQ(notes.texts.size(), 3u);
    EXPECT_TRUE(notes.texts[2].contains(nowhere)) << notes.texts[2].toStdString();
}

} // namespace
