#pragma once
// The Open Port dialog: where the user chooses the serial device and the baud rate with
// which the program talks to the receiver. Each is set by hand (Manual) or searched for
// (Auto). With both on Manual, Apply opens the port at once; otherwise Apply starts the
// automatic search (connect/Portsearch.h), which the main window's poll advances through
// CheckSearch at the end of every tick.
//
// Created once at start-up; OK, Cancel, the close box and a search that finds the
// receiver only hide it, and it keeps its controls as they were left.
//
// Devices come and go (USB adapters are plugged in and pulled out while the program
// runs), so the device list is read again each time the dialog is shown and, while it is
// visible, once a second; the selected device stays selected while it is listed. A
// running search keeps the list it started with: its indexes point into it.

#include <QMetaObject>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "base/Clock.h"
#include "connect/Portsearch.h"
#include "connect/Regutils.h"
#include "ui/Windowrect.h"

class QComboBox;

namespace Ui {
class TFormPort;
}

class TFormPort : public QWidget {
    Q_OBJECT
public:
    // Lists the devices, makes the first one and 19200 the port manager's choice and has
    // the main window show them. The device list comes from the sysfs tty directory
    // sysfsRoot and the extra ports of the environment; the port is not opened.
    explicit TFormPort(QWidget* parent = nullptr,
                       const std::string& sysfsRoot = kDefaultSysfsTtyRoot);
    ~TFormPort() override;

    // Shows the dialog modelessly; placed over rect on its first showing only. The device
    // list is read again first, unless a search runs.
    void ShowOver(const WindowRect& rect);
    // Called at the end of every main window tick to advance an automatic search.
    void CheckSearch();
    // The Receiver Setup dialog moved the port to the rate of this entry of BaudRates.
    void SelectBaudRateEntry(int index);

    // Adds a network port (rfc2217://HOST:PORT or tcp://HOST:PORT) to the devices for
    // this run and selects it; a name that is not one gets a note and changes nothing.
    bool AddNetworkPort(const QString& name);

    // Opens device at rate as Apply does with device and rate on Manual: both buttons
    // are set to Manual, the device and the rate selected (the device offered for the
    // rest of the run when the system does not list it) and Apply's open carried out, a
    // device that will not open getting its note. For the program's start-up arguments.
    // False when the port did not open, or without trying when rate is not one of the
    // offered ones or a search runs.
    bool OpenPortGiven(const std::string& device, std::uint32_t rate);

    // The clock by which search attempts are timed (the system's calendar by default).
    void SetClock(Clock& clock);

    // The selection last read from the controls; BaudRate also follows the port
    // manager's rate at every status notification. Read by the software loader.
    std::string DeviceName;
    std::uint32_t BaudRate = 19200;

    // Search state, for the windows and tests that watch it.
    bool Searching() const { return search_.Searching(); }
    int DeviceIndex() const { return search_.DeviceIndex(); }
    int BaudIndex() const { return search_.BaudIndex(); }
    std::int32_t AttemptMessageCount() const { return search_.AttemptMessageCount(); }
    const DeviceList& DeviceNames() const { return deviceNames_; }

    // Click handler installed on the wait dialog's Cancel while a search runs.
    void SearchCancelClick();

signals:
    // The automatic search found the receiver at the rate of this entry of BaudRates; the
    // Receiver Setup dialog selects the same entry (the program connects the two).
    void ReceiverFoundAt(int baudIndex);

private:
    // What the search sees of this dialog and the windows around it.
    class Host : public SearchHost {
    public:
        explicit Host(TFormPort& form) : form_(form) {}
        bool DeviceManual() const override;
        bool BaudManual() const override;
        std::int32_t MessageCount() const override;
        int LastMessageId() const override;
        void AttemptOpened(const std::string& device, std::uint32_t rate, int deviceIndex,
                           int baudIndex) override;
        void AttemptNotOpened() override;
        void ShowAttempt(const std::string& text) override;
        void HideAttempt() override;
        void ReceiverFound(int baudIndex) override;
        void ReceiverNotFound() override;

    private:
        TFormPort& form_;
    };

    void ButtonDeviceNameClick();
    void ButtonBaudRateClick();
    void ButtonApplyClick();
    void ButtonOKClick();
    void ButtonCancelClick();
    // Asks for a network port's name and adds it to the devices for this run.
    void ButtonNetworkClick();

    void ReadSelection();
    // Reads the device list again and, if it changed, offers the new one, keeping the
    // selected device by name where it is still listed, else selecting entry 0. Does
    // nothing while a search runs.
    void RefreshDeviceList();
    void ApplySettings();
    void StartAttempt();
    void AdvanceDevice();
    void StopSearch();
    void InstallSearchCancel();
    void RemoveSearchCancel();

    std::unique_ptr<Ui::TFormPort> ui;
    std::string sysfsRoot_;
    // Network ports added for this run, and a device given at start-up that the system
    // did not list.
    std::vector<std::string> addedPorts_;
    DeviceList deviceNames_;
    // While the dialog is visible: follows devices that appear or vanish.
    QTimer deviceWatch_;
    // The offered rates; an entry's index in ComboBoxBaudRate is its index here.
    static constexpr const std::array<std::uint32_t, 4>& BaudRates = kBaudRates;
    bool Positioned = false;
    Host host_{*this};
    PortSearch search_;
};

// The index of the entry that a combo's edit field shows: the current entry when the
// text is its own, else the entry whose text the user typed exactly, else -1. Typed text
// that matches no entry is never a selection.
int SelectedEntry(const QComboBox& combo);
// Selects entry index and shows its text in the edit field, whatever was typed there.
void SelectEntry(QComboBox& combo, int index);
// The rate of a baud rate combo (whose entries are kBaudRates, in order): the selected
// entry's; with no entry selected, or typed text that names none, the default entry
// (19200) is selected and its rate taken. The selection is shown in the edit field.
std::uint32_t ReadBaudRateEntry(QComboBox& combo);

extern TFormPort* FormPort;
