// The commands of kestrane-cli: ports, find, info, set and diff.

#include "cli/Cli.h"

#include "proto/Port.h"
#include "proto/Jsontext.h"
#include "receiver/Profile.h"

namespace {

std::string OnOff(bool on) {
    return on ? "on" : "off";
}

void PrintSettings(std::ostream& out, const Traffic& t) {
    const ReceiverSettings& s = t.settings;
    out << "Device: " << PortDeviceName << "\n"
        << "Baud rate: " << s.BaudRate << "\n"
        << "Software version: " << (t.versionKnown ? SoftwareVersionText(t.config) : "unknown")
        << "\n"
        << "Engine status: "
        << (t.versionKnown ? std::to_string(t.config.engineLoadStatus) : "unknown") << "\n"
        << "NMEA sentences: " << NmeaListText(s.NmeaFlags) << "\n"
        << "Navigation rate: " << s.NavRate << "\n"
        << "WAAS: " << WaasText(s.WaasState) << "\n"
        << "Corrections: " << OnOff(s.CorrectionsState == 0) << "\n"
        << "Frequency: " << FrequencyText(s) << (s.FreqMode != 0 ? " MHz" : "") << "\n";
}

void PrintSettingsJson(std::ostream& out, const Traffic& t) {
    const ReceiverSettings& s = t.settings;
    std::string nmea;
    for (std::uint32_t bit = 1; bit <= kNmeaRMC; bit <<= 1) {
        if ((s.NmeaFlags & bit) != 0) {
            nmea += (nmea.empty() ? "" : ",") + JsonString(NmeaListText(bit));
        }
    }
    const bool alternate = s.FreqMode != 0;
    out << "{\"device\":" << JsonString(PortDeviceName)
        << ",\"profile_version\":" << kProfileFormatVersion << ",\"baud_rate\":" << s.BaudRate
        << ",\"software_version\":"
        << (t.versionKnown ? JsonString(SoftwareVersionText(t.config)) : "null")
        << ",\"engine_status\":"
        << (t.versionKnown ? std::to_string(t.config.engineLoadStatus) : "null")
        << ",\"nmea\":[" << nmea << "],\"nav_rate\":" << s.NavRate
        << ",\"waas\":" << JsonString(WaasText(s.WaasState))
        << ",\"corrections\":" << JsonString(OnOff(s.CorrectionsState == 0))
        << ",\"frequency\":" << JsonString(alternate ? "alternate" : "default")
        << ",\"frequency_mhz\":" << (alternate ? ChannelMHzText(s.ChannelNum) : "null")
        << ",\"channel\":" << (alternate ? std::to_string(s.ChannelNum) : "null") << "}\n";
}

bool ParseOnOff(const std::string& text, bool& on) {
    if (text == "on" || text == "off") {
        on = text == "on";
        return true;
    }
    return false;
}

} // namespace

bool ReadProfileOption(const std::string& file, ReceiverProfile& profile, std::ostream& err) {
    std::string error;
    if (!ReadProfileFile(file, profile, error)) {
        err << "Error in profile " << file << ": " << error << std::endl;
        return false;
    }
    return true;
}

int RunPorts(Invocation& inv) {
    const DeviceList devices = ListDevices();
    if (devices.empty()) {
        inv.err << "No serial device was found." << std::endl;
    }
    for (const std::string& d : devices) {
        inv.out << d << "\n";
    }
    return kExitOk;
}

int RunFind(Invocation& inv) {
    std::string device;
    if (inv.Has("--device")) {
        device = inv.Value("--device");
        if (device.empty()) {
            return inv.Usage("bad value '' for --device: a device");
        }
        if (inv.port.deviceGiven && !inv.port.autoDevice && inv.port.device != device) {
            return inv.Usage("--device '" + device + "' and --port '" + inv.port.device +
                             "' name different devices");
        }
    } else if (inv.port.deviceGiven && !inv.port.autoDevice) {
        device = inv.port.device;
    }
    const DeviceList devices = device.empty() ? ListDevices() : DeviceList{device};
    Traffic traffic;
    if (!SearchReceiver(devices, !device.empty(), inv.port, traffic, inv.err)) {
        return kExitFailed;
    }
    inv.out << PortDeviceName << " " << PortBaudRate << std::endl;
    return kExitOk;
}

int RunInfo(Invocation& inv) {
    Traffic traffic;
    if (!OpenConnection(inv.port, traffic, inv.err) || !ReadReports(traffic, inv.err)) {
        return kExitFailed;
    }
    if (inv.Has("--json")) {
        PrintSettingsJson(inv.out, traffic);
    } else {
        PrintSettings(inv.out, traffic);
    }
    return kExitOk;
}

int RunSet(Invocation& inv) {
    // Every value is checked before the port is opened.
    std::uint32_t nmea = 0;
    if (inv.Has("--nmea") && !ParseNmeaList(inv.Value("--nmea"), nmea)) {
        return inv.Usage("bad value '" + inv.Value("--nmea") +
                         "' for --nmea: names of GGA, GSA, ZDA, VTG, RMC separated by "
                         "commas, or none");
    }
    std::uint8_t navRate = 1;
    if (inv.Has("--nav-rate")) {
        const std::string& v = inv.Value("--nav-rate");
        if (v != "1" && v != "5") {
            return inv.Usage("bad value '" + v + "' for --nav-rate: 1 or 5");
        }
        navRate = v == "5" ? 5 : 1;
    }
    bool waasOn = false;
    if (inv.Has("--waas") && !ParseOnOff(inv.Value("--waas"), waasOn)) {
        return inv.Usage("bad value '" + inv.Value("--waas") + "' for --waas: on or off");
    }
    bool correctionsOn = false;
    if (inv.Has("--corrections") && !ParseOnOff(inv.Value("--corrections"), correctionsOn)) {
        return inv.Usage("bad value '" + inv.Value("--corrections") +
                         "' for --corrections: on or off");
    }
    std::int32_t channel = 0;
    const bool alternate = inv.Has("--freq") && inv.Value("--freq") != "default";
    if (alternate && !ParseBandFrequency(inv.Value("--freq"), channel)) {
        return inv.Usage("bad value '" + inv.Value("--freq") + "' for --freq: default, or a " +
                         "frequency in MHz from " + std::to_string(kBandLowMHz) + " to " +
                         std::to_string(kBandHighMHz) +
                         " on a 0.5 kHz step, written as a plain decimal such as 1545.5");
    }
    std::uint32_t newBaud = 0;
    if (inv.Has("--new-baud") && !ParseBaud(inv.Value("--new-baud"), newBaud)) {
        return inv.Usage("bad value '" + inv.Value("--new-baud") +
                         "' for --new-baud: one of 4800, 9600, 19200, 38400");
    }
    if (inv.options.empty() || (inv.options.size() == 1 && inv.Has("--json"))) {
        return inv.Usage("set needs at least one setting to change");
    }
    ReceiverProfile profile;
    if (inv.Has("--profile") && !ReadProfileOption(inv.Value("--profile"), profile, inv.err)) {
        return kExitFailed;
    }

    Traffic traffic;
    if (!OpenConnection(inv.port, traffic, inv.err) || !ReadReports(traffic, inv.err)) {
        return kExitFailed;
    }
    const bool waasAsked = inv.Has("--waas") ? waasOn : profile.WaasOn.value_or(false);
    if (waasAsked && traffic.settings.WaasState != 1 && traffic.settings.WaasState != 0) {
        // Receiver Setup offers no WAAS buttons for such a receiver either.
        inv.err << "WAAS is not available on this receiver; nothing was changed." << std::endl;
        return kExitFailed;
    }

    // The profile first; the options given beside it override it.
    ReceiverSettings wanted = traffic.settings;
    ApplyProfile(profile, wanted);
    ApplyValues values = ApplyValuesFrom(wanted);
    if (inv.Has("--nmea")) {
        values.nmeaFlags = nmea;
    }
    if (inv.Has("--nav-rate")) {
        values.navRate = navRate;
    }
    if (inv.Has("--waas")) {
        values.waasOn = waasOn;
    }
    if (inv.Has("--corrections")) {
        values.correctionsOn = correctionsOn;
    }
    if (inv.Has("--freq")) {
        values.alternateFrequency = alternate;
        values.channel = alternate ? channel : 0;
    }
    if (inv.Has("--new-baud")) {
        values.baudRate = newBaud;
    }

    switch (SendApply(CommPort, values, PortBaudRate)) {
    case ApplyRate::Unchanged:
        break;
    case ApplyRate::Changed:
        PortBaudRate = static_cast<std::int32_t>(values.baudRate);
        break;
    case ApplyRate::Failed:
        inv.err << "Error changing baud rate" << std::endl;
        return kExitFailed;
    case ApplyRate::Refused:
        inv.err << kFixedRateApplyText << std::endl;
        return kExitFailed;
    }

    // Nothing received before or during the change may pass for the answer to it.
    CommPort.Purge();
    DiagFramer.Reset();
    LineFramer.Reset();
    if (!ReadReports(traffic, inv.err)) {
        return kExitFailed;
    }
    if (inv.Has("--json")) {
        PrintSettingsJson(inv.out, traffic);
    } else {
        PrintSettings(inv.out, traffic);
    }
    const std::vector<std::string> differences = ApplyDifferences(values, traffic.settings);
    if (!differences.empty()) {
        inv.err << "The receiver does not report what was asked:" << std::endl;
        for (const std::string& d : differences) {
            inv.err << "  " << d << std::endl;
        }
        return kExitFailed;
    }
    return kExitOk;
}

int RunDiff(Invocation& inv) {
    if (!inv.Has("--profile")) {
        return inv.Usage("diff needs --profile FILE");
    }
    ReceiverProfile profile;
    if (!ReadProfileOption(inv.Value("--profile"), profile, inv.err)) {
        return kExitFailed;
    }
    Traffic traffic;
    if (!OpenConnection(inv.port, traffic, inv.err) || !ReadReports(traffic, inv.err)) {
        return kExitFailed;
    }
    const std::vector<std::string> differences = DiffProfile(profile, traffic.settings);
    if (inv.Has("--json")) {
        std::string list;
        for (const std::string& d : differences) {
            list += (list.empty() ? "" : ",") + JsonString(d);
        }
        inv.out << "{\"device\":" << JsonString(PortDeviceName) << ",\"differences\":[" << list
                << "]}\n";
    } else {
        for (const std::string& d : differences) {
            inv.out << d << "\n";
        }
    }
    if (!differences.empty()) {
        inv.err << differences.size() << (differences.size() == 1 ? " setting differs" : " settings differ")
                << kDiffersText << std::endl;
        return kExitFailed;
    }
    return kExitOk;
}
