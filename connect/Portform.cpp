#include "connect/Portform.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QInputDialog>
#include <QPushButton>
#include <QString>
#include <algorithm>
#include <cstdlib>
#include <utility>

#include "connect/Opennote.h"
#include "proto/Port.h"
#include "serial/Netport.h"
#include "ui/Mainlink.h"
#include "ui/Noteform.h"
#include "ui/Scaleutils.h"
#include "ui/Waitform.h"
#include "ui_Portform.h"

TFormPort* FormPort = nullptr;

namespace {

// Shown by Apply when the machine offered no serial device at all.
const char* const kNoDeviceText = "No serial device was found to open.";

// How often the visible dialog reads the device list again.
constexpr int kDeviceWatchMs = 1000;

void ShowNoteOver(const QWidget& owner, const std::string& text) {
    if (FormNote != nullptr) {
        FormNote->ShowNote(OuterRect(owner), QString::fromStdString(text));
    }
}

} // namespace

void SelectEntry(QComboBox& combo, int index) {
    combo.setCurrentIndex(index);
    if (combo.isEditable() && index >= 0 && index < combo.count()) {
        combo.setEditText(combo.itemText(index));
    }
}

int SelectedEntry(const QComboBox& combo) {
    const int index = combo.currentIndex();
    if (!combo.isEditable()) {
        return index;
    }
    const QString text = combo.currentText();
    if (index >= 0 && index < combo.count() && combo.itemText(index) == text) {
        return index;
    }
    return combo.findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
}

std::uint32_t ReadBaudRateEntry(QComboBox& combo) {
    int index = SelectedEntry(combo);
    if (index < 0 || static_cast<std::size_t>(index) >= kBaudRates.size()) {
        index = kDefaultBaudIndex;
    }
    SelectEntry(combo, index);
    return kBaudRates[static_cast<std::size_t>(index)];
}

TFormPort::TFormPort(QWidget* parent, const std::string& sysfsRoot)
    : QWidget(parent, Qt::Window), ui(new Ui::TFormPort), sysfsRoot_(sysfsRoot),
      search_(CommPort, SystemClock(), deviceNames_, host_) {
    ui->setupUi(this);
    FitFormToControls(this);

    // With no device list from the system the two classic ports are offered.
    OfferedSerialDevices(deviceNames_, sysfsRoot_);
    for (const std::string& name : deviceNames_) {
        ui->ComboBoxDeviceName->addItem(QString::fromStdString(name));
    }
    if (!deviceNames_.empty()) {
        SelectEntry(*ui->ComboBoxDeviceName, 0);
    }

    DeviceName = deviceNames_.empty() ? std::string() : deviceNames_.front();
    PortDeviceName = DeviceName;
    BaudRate = kBaudRates[kDefaultBaudIndex];
    PortBaudRate = static_cast<std::int32_t>(BaudRate);

    for (std::uint32_t rate : BaudRates) {
        ui->ComboBoxBaudRate->addItem(QString::number(rate));
    }
    SelectEntry(*ui->ComboBoxBaudRate, kDefaultBaudIndex);

    NotifyPortChanged();

    connect(ui->ButtonDeviceNameAuto, &QAbstractButton::clicked, this,
            &TFormPort::ButtonDeviceNameClick);
    connect(ui->ButtonDeviceNameManual, &QAbstractButton::clicked, this,
            &TFormPort::ButtonDeviceNameClick);
    connect(ui->ButtonBaudRateAuto, &QAbstractButton::clicked, this,
            &TFormPort::ButtonBaudRateClick);
    connect(ui->ButtonBaudRateManual, &QAbstractButton::clicked, this,
            &TFormPort::ButtonBaudRateClick);
    connect(ui->ButtonApply, &QPushButton::clicked, this, &TFormPort::ButtonApplyClick);
    connect(ui->ButtonOK, &QPushButton::clicked, this, &TFormPort::ButtonOKClick);
    connect(ui->ButtonCancel, &QPushButton::clicked, this, &TFormPort::ButtonCancelClick);
    connect(ui->ButtonNetwork, &QPushButton::clicked, this, &TFormPort::ButtonNetworkClick);

    // A second is quick enough for a device just plugged in, and reading the sysfs
    // directory costs next to nothing.
    deviceWatch_.setInterval(kDeviceWatchMs);
    connect(&deviceWatch_, &QTimer::timeout, this, [this] {
        if (isVisible()) {
            RefreshDeviceList();
        }
    });
    deviceWatch_.start();
}

TFormPort::~TFormPort() {
    RemoveSearchCancel();
}

void TFormPort::SetClock(Clock& clock) {
    search_.SetClock(clock);
}

void TFormPort::ShowOver(const WindowRect& rect) {
    RefreshDeviceList();
    if (!Positioned) {
        move(CentreOver(rect, frameGeometry().width(), frameGeometry().height(), true));
        Positioned = true;
    }
    show();
}

void TFormPort::SelectBaudRateEntry(int index) {
    if (index >= 0 && index < ui->ComboBoxBaudRate->count()) {
        SelectEntry(*ui->ComboBoxBaudRate, index);
    }
}

// ---------------------------------------------------------------------------------------
// Controls

void TFormPort::ButtonDeviceNameClick() {
    ui->ComboBoxDeviceName->setEnabled(ui->ButtonDeviceNameManual->isChecked());
}

void TFormPort::ButtonBaudRateClick() {
    ui->ComboBoxBaudRate->setEnabled(ui->ButtonBaudRateManual->isChecked());
}

void TFormPort::ButtonApplyClick() {
    ApplySettings();
}

void TFormPort::ButtonOKClick() {
    ApplySettings();
    hide();
}

void TFormPort::ButtonCancelClick() {
    // Nothing is undone, and a search in progress goes on.
    hide();
}

// Only list entries count: a combo without a valid entry gets its default entry, shown
// selected.
void TFormPort::ReadSelection() {
    const int device = SelectedEntry(*ui->ComboBoxDeviceName);
    if (deviceNames_.empty()) {
        DeviceName.clear();
        ui->ComboBoxDeviceName->setEditText(QString());
    } else if (device < 0 || static_cast<std::size_t>(device) >= deviceNames_.size()) {
        SelectEntry(*ui->ComboBoxDeviceName, 0);
        DeviceName = deviceNames_.front();
    } else {
        SelectEntry(*ui->ComboBoxDeviceName, device);
        DeviceName = deviceNames_[static_cast<std::size_t>(device)];
    }

    BaudRate = ReadBaudRateEntry(*ui->ComboBoxBaudRate);
}

void TFormPort::ButtonNetworkClick() {
    bool given = false;
    const QString name = QInputDialog::getText(
        this, QStringLiteral("Network Port"),
        QStringLiteral("A serial line behind a network server, for this run:\n"
                       "rfc2217://HOST:PORT (rates can change) or tcp://HOST:PORT"),
        QLineEdit::Normal, QStringLiteral("rfc2217://"), &given);
    if (given) {
        AddNetworkPort(name);
    }
}

bool TFormPort::AddNetworkPort(const QString& name) {
    const std::string text = name.trimmed().toStdString();
    NetPort::Kind kind;
    std::string host;
    std::string port;
    if (!NetPort::ParseName(text, kind, host, port)) {
        ShowNoteOver(*this, "'" + text +
                                "' is not a network port's name: rfc2217://HOST:PORT or "
                                "tcp://HOST:PORT");
        return false;
    }
    if (std::find(addedPorts_.begin(), addedPorts_.end(), text) == addedPorts_.end()) {
        addedPorts_.push_back(text);
    }
    RefreshDeviceList();
    const auto at = std::find(deviceNames_.begin(), deviceNames_.end(), text);
    if (at != deviceNames_.end()) {
        SelectEntry(*ui->ComboBoxDeviceName, static_cast<int>(at - deviceNames_.begin()));
    }
    return true;
}

bool TFormPort::OpenPortGiven(const std::string& device, std::uint32_t rate) {
    const auto rateAt = std::find(BaudRates.begin(), BaudRates.end(), rate);
    if (device.empty() || rateAt == BaudRates.end() || Searching()) {
        return false;
    }
    RefreshDeviceList();
    if (std::find(deviceNames_.begin(), deviceNames_.end(), device) == deviceNames_.end()) {
        addedPorts_.push_back(device);
        RefreshDeviceList();
    }
    const auto at = std::find(deviceNames_.begin(), deviceNames_.end(), device);
    if (at == deviceNames_.end()) {
        return false;
    }
    SelectEntry(*ui->ComboBoxDeviceName, static_cast<int>(at - deviceNames_.begin()));
    SelectEntry(*ui->ComboBoxBaudRate, static_cast<int>(rateAt - BaudRates.begin()));
    ui->ButtonDeviceNameManual->setChecked(true);
    ui->ButtonBaudRateManual->setChecked(true);
    ButtonDeviceNameClick();
    ButtonBaudRateClick();
    ApplySettings();
    return CommPort.IsOpen();
}

void TFormPort::RefreshDeviceList() {
    if (Searching()) {
        return;
    }
    DeviceList fresh;
    OfferedSerialDevices(fresh, sysfsRoot_);
    for (const std::string& added : addedPorts_) {
        if (std::find(fresh.begin(), fresh.end(), added) == fresh.end()) {
            fresh.push_back(added);
        }
    }
    if (fresh == deviceNames_) {
        return; // also leaves whatever the user is typing alone
    }
    const int selected = SelectedEntry(*ui->ComboBoxDeviceName);
    std::string kept;
    if (selected >= 0 && static_cast<std::size_t>(selected) < deviceNames_.size()) {
        kept = deviceNames_[static_cast<std::size_t>(selected)];
    }
    deviceNames_ = std::move(fresh);
    ui->ComboBoxDeviceName->clear();
    int index = -1;
    for (std::size_t i = 0; i < deviceNames_.size(); ++i) {
        ui->ComboBoxDeviceName->addItem(QString::fromStdString(deviceNames_[i]));
        if (index < 0 && deviceNames_[i] == kept) {
            index = static_cast<int>(i);
        }
    }
    if (index < 0) {
        index = 0;
    }
    if (!deviceNames_.empty()) {
        SelectEntry(*ui->ComboBoxDeviceName, index);
    }
}

void TFormPort::ApplySettings() {
    ReadSelection();

    // With no device there is nothing to open or search; say so rather than pretend.
    if (deviceNames_.empty()) {
        ShowNoteOver(*this, kNoDeviceText);
        return;
    }

    const bool deviceManual = ui->ButtonDeviceNameManual->isChecked();
    const bool baudManual = ui->ButtonBaudRateManual->isChecked();
    if (deviceManual && baudManual) {
        if (CommPort.IsOpen()) {
            CommPort.Close();
        }
        if (!CommPort.Open(DeviceName.c_str(), BaudRate, 0)) {
            ShowNoteOver(*this, OpenFailureNote(DeviceName, static_cast<int>(CommPort.lastError()),
                                                CommPort.errorText()));
        }
        CommPort.SetBlocking(false);
        PortDeviceName = DeviceName;
        PortBaudRate = static_cast<std::int32_t>(BaudRate);
        NotifyPortChanged();
        return;
    }

    const int deviceIndex = deviceManual ? ui->ComboBoxDeviceName->currentIndex() : 0;
    const int baudIndex = baudManual ? ui->ComboBoxBaudRate->currentIndex() : 0;
    search_.Start(deviceIndex, baudIndex);
}

// ---------------------------------------------------------------------------------------
// Automatic search

void TFormPort::StartAttempt() {
    search_.StartAttempt();
}

void TFormPort::CheckSearch() {
    search_.Check();
}

void TFormPort::AdvanceDevice() {
    search_.AdvanceDevice();
}

void TFormPort::StopSearch() {
    search_.Stop();
}

void TFormPort::SearchCancelClick() {
    StopSearch();
}

void TFormPort::InstallSearchCancel() {
    if (FormWait != nullptr) {
        FormWait->AttachCancel(this, [this] { SearchCancelClick(); });
    }
}

void TFormPort::RemoveSearchCancel() {
    if (FormWait != nullptr && FormWait->CancelAttachedTo(this)) {
        FormWait->DetachCancel();
    }
}

bool TFormPort::Host::DeviceManual() const {
    return form_.ui->ButtonDeviceNameManual->isChecked();
}

bool TFormPort::Host::BaudManual() const {
    return form_.ui->ButtonBaudRateManual->isChecked();
}

std::int32_t TFormPort::Host::MessageCount() const {
    return MainWindow != nullptr ? MainWindow->MessageCount() : 0;
}

int TFormPort::Host::LastMessageId() const {
    return MainWindow != nullptr ? MainWindow->LastMessageId() : 0;
}

void TFormPort::Host::AttemptOpened(const std::string& device, std::uint32_t rate, int deviceIndex,
                                    int baudIndex) {
    PortDeviceName = device;
    PortBaudRate = static_cast<std::int32_t>(rate);
    SelectEntry(*form_.ui->ComboBoxDeviceName, deviceIndex);
    SelectEntry(*form_.ui->ComboBoxBaudRate, baudIndex);
    NotifyPortChanged();
}

void TFormPort::Host::AttemptNotOpened() {
    // The attempt closed the port: the panel must not go on saying "Open".
    NotifyPortChanged();
}

void TFormPort::Host::ShowAttempt(const std::string& text) {
    if (FormWait != nullptr) {
        FormWait->ShowWait(OuterRect(form_), QString::fromStdString(text));
    }
    form_.InstallSearchCancel();
}

void TFormPort::Host::HideAttempt() {
    if (FormWait != nullptr) {
        FormWait->hide();
    }
    form_.RemoveSearchCancel();
}

void TFormPort::Host::ReceiverFound(int baudIndex) {
    form_.hide();
    emit form_.ReceiverFoundAt(baudIndex);
}

void TFormPort::Host::ReceiverNotFound() {
    ShowNoteOver(form_, "Failed to find unit.");
}
