#pragma once
// The Receiver Setup dialog: reads the receiver's output and correction settings and
// sends new ones. Request asks for the Configuration report (4) and the Corrections
// status report (1); the first report of each kind after creation, Request or Apply
// fills the controls, later ones only the members, so reports that the receiver sends
// on its own never undo the user's edits. Apply sends the Navigation rate, Corrections
// and Output configuration commands, in that order, and then moves the program's own
// port to the receiver's new baud rate.
//
// Save... writes the settings the controls show to a settings profile (receiver/Profile.h)
// and Open... shows a profile's settings in the controls; neither sends anything, so an
// opened profile reaches the receiver only when the user presses Apply or OK. What Open
// showed stays until Request: later reports no longer refresh the controls.
//
// It is the recipient of ids 4 and 1 and passes every report on to the Load Software
// dialog. Created once at start-up, shown modelessly, hidden by OK and Cancel.

#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "connect/Portsearch.h"
#include "receiver/Rcvrsettings.h"
#include "ui/Windowrect.h"

class QLocale;

namespace Ui {
class TFormRcvrPort;
}

class TFormRcvrPort : public QWidget {
    Q_OBJECT
public:
    explicit TFormRcvrPort(QWidget* parent = nullptr);
    ~TFormRcvrPort() override;

    // Shows the dialog modelessly (placed over rect on its first showing only) and asks
    // the receiver for its settings.
    bool ShowOver(const WindowRect& rect);
    // Recipient of ids 4 and 1: frame starts at its "$", len is the whole frame.
    void OnReceiverReport(const std::uint8_t* frame, int len);
    // The Open Port dialog found the receiver at the rate of this entry of BaudRates.
    void SelectBaudRateEntry(int index);

    // Sends the two Output requests and lets the next reports refresh the controls.
    void RequestSettings();
    // Sets the controls from the members.
    void ShowSettings();
    // Whether Apply and OK can send the settings: not while a recording is replayed in
    // the receiver's place.
    void SetApplyAvailable(bool available);

    // What Save... and Open... do once a file is chosen. Saving refuses what Apply would
    // refuse and whatever a profile cannot hold, writing nothing; a file is written whole
    // or not at all. Opening a file that cannot be read or is no profile changes nothing.
    // Each tells the user why it failed and returns false.
    bool SaveProfileTo(const QString& path);
    bool OpenProfileFrom(const QString& path);

signals:
    // Every report frame of ids 4 and 1, passed on after this dialog has taken what it
    // shows; the Load Software dialog follows the GPS engine from it (the program
    // connects the two). frame is valid during the call only.
    void ReportPassedOn(const std::uint8_t* frame, int len);

private:
    void ButtonOKClick();
    void ButtonCancelClick();
    void ButtonApplyClick();
    void ButtonRequestClick();
    void ButtonDfltClick();
    void ButtonAltClick();
    void ButtonSaveClick();
    void ButtonOpenClick();

    // The NMEA toggles and the two combos, as Apply takes them; typed text that names no
    // entry gives way to the entry taken.
    void ReadControls(ReceiverSettings& settings);
    // The channel of the frequency typed in EditChannelNum; false, channel untouched, for
    // text that is not one.
    bool TypedChannel(std::int32_t& channel) const;
    void ShowFrequencyRefused();
    // Every setting the controls show, over the members for what they cannot show. With
    // refuse a frequency that is not a number is refused as Apply refuses it (false);
    // without, the members' channel stands in for it.
    bool ControlSettings(ReceiverSettings& settings, bool refuse);
    // False when the alternate frequency was refused and nothing was sent.
    bool ApplySettings();

    std::unique_ptr<Ui::TFormRcvrPort> ui;
    bool Positioned = false;
    // The offered rates; an entry's index in ComboBoxBaudRate is its index here, and in
    // the Open Port dialog's combo as well.
    static constexpr const std::array<std::uint32_t, 4>& BaudRates = kBaudRates;
    // The settings shown, and to be applied: BaudRate, NmeaFlags, BinaryFlags, NavRate,
    // and WaasState, CorrectionsState, FreqMode and ChannelNum from the last Corrections
    // status report.
    ReceiverSettings Settings;
    bool RefreshOnConfig = true;
    bool RefreshOnStatus = true;
    // The receiver's software version from the last Configuration report long enough to
    // carry it; a saved profile names it.
    std::optional<std::string> SoftwareVersion;
};

// A frequency in MHz as the dialog shows it: the shortest decimal of up to 15 significant
// digits, no trailing zeros, no group separators, with the locale's decimal separator.
QString MHzText(double mhz, const QLocale& locale);

// Reads a frequency in MHz typed with the locale's decimal separator. Group separators,
// and a "." where the locale's separator is another, are refused.
bool ParseMHz(const QString& text, const QLocale& locale, double& mhz);

extern TFormRcvrPort* FormRcvrPort;
