#include "receiver/Rcvrportform.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QToolButton>

#include <string_view>

#include "connect/Portform.h"
#include "proto/Memoutils.h"
#include "proto/Port.h"
#include "receiver/Profile.h"
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

const QString kProfileFilter = QStringLiteral("Settings profiles (*.json);;All files (*)");
const QString kSaveTitle = QStringLiteral("Save a settings profile");
const QString kOpenTitle = QStringLiteral("Open a settings profile");

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
    connect(ui->ButtonSave, &QPushButton::clicked, this, &TFormRcvrPort::ButtonSaveClick);
    connect(ui->ButtonOpen, &QPushButton::clicked, this, &TFormRcvrPort::ButtonOpenClick);
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
    ConfigurationReport report;
    if (ReadConfigurationReport(frame, len, report)) {
        SoftwareVersion = SoftwareVersionText(report);
    }
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

void TFormRcvrPort::ReadControls(ReceiverSettings& settings) {
    settings.NmeaFlags = 0;
    const QToolButton* const nmea[] = {ui->ButtonGGA, ui->ButtonGSA, ui->ButtonZDA, ui->ButtonVTG,
                                       ui->ButtonRMC};
    for (int bit = 0; bit < 5; ++bit) {
        if (nmea[bit]->isChecked()) {
            settings.NmeaFlags |= 1u << bit;
        }
    }
    // The binary-message toggles are hidden and not read.
    settings.BinaryFlags = 0;

    settings.BaudRate = ReadBaudRateEntry(*ui->ComboBoxBaudRate);

    const int navIndex = SelectedEntry(*ui->ComboBoxNavRate);
    settings.NavRate = navIndex == 1 ? 5 : 1;
    SelectEntry(*ui->ComboBoxNavRate, navIndex == 1 ? 1 : 0);
}

bool TFormRcvrPort::TypedChannel(std::int32_t& channel) const {
    double mhz = 0;
    return ParseMHz(ui->EditChannelNum->text(), QLocale(), mhz) && MHzToChannel(mhz, channel);
}

void TFormRcvrPort::ShowFrequencyRefused() {
    if (FormNote != nullptr) {
        FormNote->ShowNote(OuterRect(*this),
                           QStringLiteral("'%1' is not a valid floating point value")
                               .arg(ui->EditChannelNum->text()));
    }
}

bool TFormRcvrPort::ControlSettings(ReceiverSettings& settings, bool refuse) {
    settings = Settings;
    ReadControls(settings);
    // Greyed WAAS buttons belong to a receiver without WAAS, which the members remember.
    if (ui->ButtonWAASON->isEnabled()) {
        settings.WaasState = ui->ButtonWAASON->isChecked() ? 1 : 0;
    }
    settings.CorrectionsState = ui->ButtonCorrectionsOn->isChecked() ? 0 : 1;
    settings.FreqMode = ui->ButtonAlt->isChecked() ? 1 : 0;
    if (settings.FreqMode != 0 && !TypedChannel(settings.ChannelNum) && refuse) {
        ShowFrequencyRefused();
        return false;
    }
    return true;
}

bool TFormRcvrPort::ApplySettings() {
    ReadControls(Settings);

    // The alternate frequency is checked before anything goes out, so a typing error
    // never leaves the receiver with half of its new settings.
    const bool alternate = ui->ButtonAlt->isChecked();
    std::int32_t channel = 0;
    if (alternate && !TypedChannel(channel)) {
        ShowFrequencyRefused();
        return false;
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

bool TFormRcvrPort::SaveProfileTo(const QString& path) {
    ReceiverSettings settings;
    if (!ControlSettings(settings, true)) {
        return false;
    }
    const std::string text = WriteProfile(ProfileFromSettings(settings, SoftwareVersion));
    const QString name = QDir::toNativeSeparators(path);

    // Apply sends any frequency that is a number, but a profile holds only those of the
    // band; a file that Open would refuse is not written.
    ReceiverProfile readBack;
    std::string error;
    if (!ParseProfile(text, readBack, error)) {
        QMessageBox::warning(this, kSaveTitle,
                             QStringLiteral("%1 was not written: a settings profile cannot "
                                            "hold these settings.\n%2")
                                 .arg(name, QString::fromStdString(error)));
        return false;
    }

    // The file is written aside and takes the name only when all of it is there, so a
    // failed write leaves no half of a profile and an earlier file as it was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.commit()) {
        QMessageBox::warning(this, kSaveTitle,
                             QStringLiteral("Cannot write %1:\n%2").arg(name, file.errorString()));
        return false;
    }
    return true;
}

bool TFormRcvrPort::OpenProfileFrom(const QString& path) {
    const QString name = QDir::toNativeSeparators(path);
    QFile file(path);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly)) {
        // One byte beyond the longest profile is enough for ParseProfile to refuse it.
        bytes = file.read(static_cast<qint64>(kProfileMaxBytes) + 1);
    }
    if (!file.isOpen() || file.error() != QFileDevice::NoError) {
        QMessageBox::warning(this, kOpenTitle,
                             QStringLiteral("Cannot read %1:\n%2").arg(name, file.errorString()));
        return false;
    }
    ReceiverProfile profile;
    std::string error;
    if (!ParseProfile(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                      profile, error)) {
        QMessageBox::warning(this, kOpenTitle,
                             QStringLiteral("%1 is not a settings profile this program can "
                                            "open; no setting was changed.\n%2")
                                 .arg(name, QString::fromStdString(error)));
        return false;
    }

    // The settings the profile leaves out stay as the controls show them, a frequency
    // typed there included even when it is not a number.
    ReceiverSettings settings;
    ControlSettings(settings, false);
    ApplyProfile(profile, settings);
    const QString typed = ui->EditChannelNum->text();
    Settings = settings;
    ShowSettings();
    if (!profile.Frequency) {
        ui->EditChannelNum->setText(typed);
    }
    // Reports the receiver sends from now on must not undo what was opened.
    RefreshOnConfig = false;
    RefreshOnStatus = false;
    return true;
}

void TFormRcvrPort::ButtonSaveClick() {
    // Refused settings are pointed out before the user picks a file for them.
    ReceiverSettings settings;
    if (!ControlSettings(settings, true)) {
        return;
    }
    QFileDialog dialog(this, kSaveTitle, QString(), kProfileFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("json"));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        SaveProfileTo(dialog.selectedFiles().constFirst());
    }
}

void TFormRcvrPort::ButtonOpenClick() {
    const QString path = QFileDialog::getOpenFileName(this, kOpenTitle, QString(), kProfileFilter);
    if (!path.isEmpty()) {
        OpenProfileFrom(path);
    }
}
