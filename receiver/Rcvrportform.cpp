#include "receiver/Rcvrportform.h"

#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QToolButton>

#include "connect/Portform.h"
#include "proto/Memoutils.h"
#include "proto/Port.h"
#include "receiver/Rcvrsettings.h"
#include "ui/Noteform.h"
#include "ui/Scaleutils.h"
#include "ui_Rcvrportform.h"

TFormRcvrPort* FormRcvrPort = nullptr;

namespace {

// A toggle of a two-button group: at most one of the two is down, and a down button
// clicked again goes up, so both may be up.
void PairToggles(QToolButton* a, QToolButton* b) {
    QObject::connect(a, &QToolButton::clicked, b, [b](bool down) {
        if (down)
            b->setChecked(false);
    });
    QObject::connect(b, &QToolButton::clicked, a, [a](bool down) {
        if (down)
            a->setChecked(false);
    });
}

} // namespace

QString MHzText(double mhz, const QLocale& locale) {
    // The C locale writes digits, "." and "e" only, without group separators.
    QString text = QLocale::c().toString(mhz, 'g', 15);
    text.replace(QLatin1Char('.'), locale.decimalPoint());
    return text;
}

bool ParseMHz(const QString& text, const QLocale& locale, double& mhz) {
    QString s = text.trimmed();
    const QString point = locale.decimalPoint();
    if (point != QLatin1String(".")) {
        if (s.contains(QLatin1Char('.'))) {
            return false;
        }
        s.replace(point, QLatin1String("."));
    }
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = c.toDouble(s, &ok);
    if (!ok) {
        return false;
    }
    mhz = value;
    return true;
}

TFormRcvrPort::TFormRcvrPort(QWidget* parent)
    : QWidget(parent, Qt::Window), ui(new Ui::TFormRcvrPort) {
    ui->setupUi(this);

    for (std::uint32_t rate : BaudRates) {
        ui->ComboBoxBaudRate->addItem(QString::number(rate));
    }
    SelectEntry(*ui->ComboBoxBaudRate, kDefaultBaudIndex);
    ui->ComboBoxNavRate->addItem(QStringLiteral("1"));
    ui->ComboBoxNavRate->addItem(QStringLiteral("5"));
    SelectEntry(*ui->ComboBoxNavRate, 0);

    PairToggles(ui->ButtonWAASON, ui->ButtonWAASOFF);
    PairToggles(ui->ButtonCorrectionsOn, ui->ButtonCorrectionsOff);
    PairToggles(ui->ButtonDflt, ui->ButtonAlt);

    ShowSettings();

    RegisterRecipient(
        kMsgConfigReport, this, [this](const std::uint8_t* f, int n) { OnReceiverReport(f, n); },
        0);
    RegisterRecipient(
        kMsgCorrectionsReport, this,
        [this](const std::uint8_t* f, int n) { OnReceiverReport(f, n); }, 0);

    // The binary-message toggles are not offered: their panel goes, and the bottom part
    // moves up into its place.
    ui->PanelBottom->move(ui->PanelBottom->x(), ui->PanelBinMsgs->y());
    ui->PanelBinMsgs->hide();
    FitFormToControls(this);

    connect(ui->ButtonOK, &QPushButton::clicked, this, &TFormRcvrPort::ButtonOKClick);
    connect(ui->ButtonCancel, &QPushButton::clicked, this, &TFormRcvrPort::ButtonCancelClick);
    connect(ui->ButtonApply, &QPushButton::clicked, this, &TFormRcvrPort::ButtonApplyClick);
    connect(ui->ButtonRequest, &QPushButton::clicked, this, &TFormRcvrPort::ButtonRequestClick);
    connect(ui->ButtonDflt, &QToolButton::clicked, this, &TFormRcvrPort::ButtonDfltClick);
    connect(ui->ButtonAlt, &QToolButton::clicked, this, &TFormRcvrPort::ButtonAltClick);
}

TFormRcvrPort::~TFormRcvrPort() = default;

bool TFormRcvrPort::ShowOver(const WindowRect& rect) {
    if (!Positioned) {
        move(CentreOver(rect, frameGeometry().width(), frameGeometry().height(), true));
        Positioned = true;
    }
    RequestSettings();
    show();
    return true;
}

void TFormRcvrPort::SelectBaudRateEntry(int index) {
    if (index >= 0 && index < ui->ComboBoxBaudRate->count()) {
        SelectEntry(*ui->ComboBoxBaudRate, index);
    }
}

void TFormRcvrPort::RequestSettings() {
    SendSettingsRequests(CommPort);
    RefreshOnConfig = true;
    RefreshOnStatus = true;
}

void TFormRcvrPort::OnReceiverReport(const std::uint8_t* frame, int len) {
    // A report too short for the fields read from it is ignored rather than read beyond
    // its end. The rate shown is our own port's, which the receiver's must match for the
    // report to have arrived at all.
    if (DecodeConfigurationSettings(frame, len, static_cast<std::uint32_t>(PortBaudRate),
                                    Settings)) {
        if (RefreshOnConfig) {
            ShowSettings();
        }
        RefreshOnConfig = false;
    } else if (DecodeCorrectionsSettings(frame, len, Settings)) {
        if (RefreshOnStatus) {
            ShowSettings();
        }
        RefreshOnStatus = false;
    }
    emit ReportPassedOn(frame, len);
}

void TFormRcvrPort::ShowSettings() {
    QToolButton* const nmea[] = {ui->ButtonGGA, ui->ButtonGSA, ui->ButtonZDA, ui->ButtonVTG,
                                 ui->ButtonRMC};
    for (int bit = 0; bit < 5; ++bit) {
        nmea[bit]->setChecked((Settings.NmeaFlags >> bit) & 1u);
    }
    ui->ButtonREFMON->setChecked(Settings.BinaryFlags & kBinREFMON);
    ui->ButtonQX->setChecked(Settings.BinaryFlags & kBinQX);
    ui->ButtonGPS->setChecked(Settings.BinaryFlags & kBinGPS);
    ui->ButtonSATS->setChecked(Settings.BinaryFlags & kBinSATS);
    ui->ButtonSYS->setChecked(Settings.BinaryFlags & kBinSYS);

    // A receiver without WAAS greys both buttons for the rest of the run: nothing here
    // enables them again.
    ui->ButtonWAASON->setChecked(Settings.WaasState == 1);
    ui->ButtonWAASOFF->setChecked(Settings.WaasState != 1);
    if (Settings.WaasState != 0 && Settings.WaasState != 1) {
        ui->ButtonWAASON->setEnabled(false);
        ui->ButtonWAASOFF->setEnabled(false);
    }

    ui->ButtonCorrectionsOn->setChecked(Settings.CorrectionsState == 0);
    ui->ButtonCorrectionsOff->setChecked(Settings.CorrectionsState != 0);

    ui->ButtonDflt->setChecked(Settings.FreqMode == 0);
    ui->ButtonAlt->setChecked(Settings.FreqMode != 0);

    ui->EditChannelNum->setText(MHzText(ChannelToMHz(Settings.ChannelNum), QLocale()));
    if (Settings.FreqMode != 0) {
        ui->EditChannelNum->setEnabled(true);
    } else {
        ui->EditChannelNum->clear();
        ui->EditChannelNum->setEnabled(false);
    }

    int baudIndex = -1;
    for (std::size_t i = 0; i < BaudRates.size(); ++i) {
        if (BaudRates[i] == Settings.BaudRate) {
            baudIndex = static_cast<int>(i);
        }
    }
    if (baudIndex < 0) {
        baudIndex = kDefaultBaudIndex;
        Settings.BaudRate = BaudRates[kDefaultBaudIndex];
    }
    SelectEntry(*ui->ComboBoxBaudRate, baudIndex);

    SelectEntry(*ui->ComboBoxNavRate, Settings.NavRate == 5 ? 1 : 0);
}

bool TFormRcvrPort::ReadControls() {
    Settings.NmeaFlags = 0;
    const QToolButton* const nmea[] = {ui->ButtonGGA, ui->ButtonGSA, ui->ButtonZDA, ui->ButtonVTG,
                                       ui->ButtonRMC};
    for (int bit = 0; bit < 5; ++bit) {
        if (nmea[bit]->isChecked()) {
            Settings.NmeaFlags |= 1u << bit;
        }
    }
    // The binary-message toggles are hidden and not read.
    Settings.BinaryFlags = 0;

    Settings.BaudRate = ReadBaudRateEntry(*ui->ComboBoxBaudRate);

    const int navIndex = SelectedEntry(*ui->ComboBoxNavRate);
    Settings.NavRate = navIndex == 1 ? 5 : 1;
    SelectEntry(*ui->ComboBoxNavRate, navIndex == 1 ? 1 : 0);
    return true;
}

bool TFormRcvrPort::ApplySettings() {
    ReadControls();

    // The alternate frequency is checked before anything goes out, so a typing error
    // never leaves the receiver with half of its new settings.
    const bool alternate = ui->ButtonAlt->isChecked();
    std::int32_t channel = 0;
    if (alternate) {
        const QString text = ui->EditChannelNum->text();
        double mhz = 0;
        if (!ParseMHz(text, QLocale(), mhz) || !MHzToChannel(mhz, channel)) {
            if (FormNote != nullptr) {
                FormNote->ShowNote(
                    OuterRect(*this),
                    QStringLiteral("'%1' is not a valid floating point value").arg(text));
            }
            return false;
        }
    }

    // The controls just read, and the three settings only the buttons and the edit hold.
    ApplyValues values = ApplyValuesFrom(Settings);
    values.alternateFrequency = alternate;
    values.channel = channel;
    values.waasOn = ui->ButtonWAASON->isChecked();
    values.correctionsOn = ui->ButtonCorrectionsOn->isChecked();
    switch (SendApply(CommPort, values, PortBaudRate)) {
    case ApplyRate::Unchanged:
        break;
    case ApplyRate::Changed:
        PortBaudRate = static_cast<std::int32_t>(Settings.BaudRate);
        NotifyPortChanged();
        if (FormPort != nullptr) {
            FormPort->SelectBaudRateEntry(ui->ComboBoxBaudRate->currentIndex());
        }
        break;
    case ApplyRate::Failed:
        if (FormNote != nullptr) {
            FormNote->ShowNote(OuterRect(*this), QStringLiteral("Error changing baud rate"));
        }
        break;
    case ApplyRate::Refused:
        if (FormNote != nullptr) {
            FormNote->ShowNote(OuterRect(*this), QString::fromLatin1(kFixedRateApplyText));
        }
        return false;
    }

    RefreshOnConfig = true;
    RefreshOnStatus = true;
    return true;
}

void TFormRcvrPort::SetApplyAvailable(bool available) {
    ui->ButtonApply->setEnabled(available);
    ui->ButtonOK->setEnabled(available);
}

void TFormRcvrPort::ButtonOKClick() {
    // A refused frequency keeps the dialog open so the user can correct it.
    if (ApplySettings()) {
        hide();
    }
}

void TFormRcvrPort::ButtonCancelClick() {
    hide();
}

void TFormRcvrPort::ButtonApplyClick() {
    ApplySettings();
}

void TFormRcvrPort::ButtonRequestClick() {
    RequestSettings();
}

void TFormRcvrPort::ButtonDfltClick() {
    ui->EditChannelNum->setEnabled(false);
}

void TFormRcvrPort::ButtonAltClick() {
    ui->EditChannelNum->setEnabled(true);
}
