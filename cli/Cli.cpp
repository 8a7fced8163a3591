#include "cli/Cli.h"

#include "cli/Batch.h"
#include "cli/Child.h"
#include "connect/Portsearch.h"
#include "receiver/Profile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string_view>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

constexpr const char* kProgram = "kestrane-cli";

const std::vector<OptionInfo> kCommonOptions = {
    {"--port", "DEVICE|auto",
     "the receiver's serial device, or auto to search every device first (default: the "
     "first device listed by 'ports'); given more than once, info, set, diff and load run "
     "on every device at once"},
    {"--ports-from", "FILE",
     "with info, set, diff and load: run on every device FILE names, one a line (blank "
     "lines and lines starting with # are skipped)"},
    {"--baud", "RATE",
     "the port's baud rate: 4800, 9600, 19200 or 38400 (default 19200; with --port auto "
     "and no rate the search tries all four)"},
    {"--help", nullptr, "describe the program, or the command named with it"},
};

const std::vector<CommandInfo> kCommands = {
    {"ports", "", "list the serial devices",
     "Lists the serial devices, one a line, in the order the Open Port window offers them.",
     {}, nullptr, RunPorts, false},
    {"find", "[--device DEVICE]", "search for the receiver's device and baud rate",
     "Runs the automatic search of the Open Port window: every device (or only DEVICE), "
     "each at every rate (or only at --baud), about two seconds each, until the receiver "
     "answers. Each attempt is shown on standard error; a device that will not open is "
     "named there with the reason and skipped. Prints DEVICE RATE, or \"Failed to find "
     "unit.\" and exits 1.",
     {{"--device", "DEVICE", "search this device only (--port DEVICE does the same)"}},
     nullptr, RunFind},
    {"info", "[--json]", "show the receiver's settings",
     "Asks the receiver for its Configuration and Corrections status reports and prints "
     "its software version, GPS engine status, the NMEA sentences it sends, navigation "
     "rate, WAAS, corrections, correction frequency and the port's device and rate. Exits "
     "1 when no report arrives within three seconds. The JSON object is a settings "
     "profile as it stands: set --profile and diff --profile take it back.",
     {{"--json", nullptr, "print one JSON object instead of text"}}, nullptr, RunInfo},
    {"set",
     "[--profile FILE] [--nmea LIST] [--nav-rate 1|5] [--waas on|off] "
     "[--corrections on|off] [--freq default|MHZ] [--new-baud RATE] [--json]",
     "change the receiver's settings",
     "Reads the receiver's settings, changes only those given, and sends them as Receiver "
     "Setup's Apply does: the Navigation rate, Corrections and Output configuration "
     "commands, a pause of 200 ms, then the port moves to the new baud rate. As in Receiver "
     "Setup, the receiver's binary messages are switched off. Then reads the settings "
     "again, prints them, and exits 1, listing the differences, when the receiver does not "
     "report what was asked. A bad value is refused before anything is sent. With "
     "--profile the settings a profile holds (info --json writes one) are taken first, and "
     "the options given beside it change them further; a profile that cannot be read, "
     "has an unknown version or a value out of range is refused, naming the field, and "
     "nothing is sent.",
     {{"--profile", "FILE", "take the settings the profile FILE holds"},
      {"--json", nullptr, "print the settings read back as one JSON object, as info does"},
      {"--nmea", "LIST", "NMEA sentences to send, e.g. GGA,RMC (of GGA, GSA, ZDA, VTG, RMC), "
                         "or none"},
      {"--nav-rate", "1|5", "fixes per second"},
      {"--waas", "on|off", "WAAS"},
      {"--corrections", "on|off", "differential corrections"},
      {"--freq", "default|MHZ",
       "the default correction frequency, or an alternate one in MHz: a plain decimal from "
       "1525 to 1559 on a 0.5 kHz step, such as 1545.5"},
      {"--new-baud", "RATE", "the receiver's new baud rate: 4800, 9600, 19200 or 38400"}},
     nullptr, RunSet},
    {"diff", "--profile FILE [--json]", "compare the receiver's settings with a profile",
     "Reads the receiver's settings and lists, one a line, each setting the profile FILE "
     "holds that the receiver has otherwise (\"navigation rate: profile 5, receiver 1\"). "
     "Nothing is changed: only the two reports are asked for. Exits 0 when the receiver "
     "has every setting of the profile, 1 when any differs (their number then on standard "
     "error) or the receiver cannot be read.",
     {{"--profile", "FILE", "the profile to compare with"},
      {"--json", nullptr,
       "print one JSON object: the device and the list of differences"}},
     nullptr, RunDiff},
    {"load", "[--follow] [--json]", "load new software into the receiver",
     "Loads the software file FILE (.gst) into the receiver as the Load Software window "
     "does. The whole file is read and checked first; a name without .gst (\"Invalid File "
     "Type\") or a file that cannot be sent as it stands, or holds no record, is refused "
     "before a byte goes out (\"Error opening file\" and the reason on standard error). The "
     "receiver's "
     "loader is woken and the file sent record by record at 19200 baud, a record that is "
     "not acknowledged sent once more; then the port returns to its rate. On a terminal a "
     "progress line shows the records sent of the total, percent, records per second, time "
     "elapsed and time left; the status texts are lines above it. Exits 0 after "
     "\"Finished\" and \"Checking GPS Engine\", 1 otherwise; without --follow the "
     "receiver's outputs are then put back as they were before the load. Ctrl-C cancels "
     "the load (\"Cancelled\"): the receiver may then need a new load. Once \"Finished\" "
     "is shown the file is in the receiver, and Ctrl-C only stops the following of its "
     "engine. A closed standard output does not stop a load.",
     {{"--follow", nullptr,
       "then follow the GPS engine taking the software in (\"Downloading to GPS Engine\", "
       "\"Cycle Power Now\"), ask for the receiver's power to be cycled and Enter pressed, "
       "and end with \"Done\" and the new software version; exit 1 on \"Failed GPS Engine "
       "download\""},
      {"--json", nullptr,
       "say what happened as one JSON object a unit (as for several ports) instead of "
       "lines"}},
     "FILE", RunLoad, true, true},
    {"monitor",
     "[--log FILE] [--raw FILE] [--gpx OUT] [--csv OUT] [--duration SECONDS] "
     "[--serve [HOST:]PORT [--serve-raw]] [--reconnect] [--stats [SECONDS]] [--alerts] "
     "[--json] [--quiet]",
     "show and log what the receiver sends, and share it",
     "Shows what the receiver sends as the main window's monitor does: each of its NMEA "
     "sentences ($GP...) as \"HH:MM:SS: \" and the sentence, a byte that is not printable "
     "shown as U+FFFD, and each binary message as \"HH:MM:SS: Proprietary ID n\". With --log "
     "it also writes the main window's log: every sentence's bytes as received, each ended "
     "by CR LF. Runs until Ctrl-C or the end of --duration, then exits 0; exits 1 when the "
     "device goes away or standard output can no longer be written. With --reconnect a "
     "device that goes away (a USB adapter pulled out, a network connection closed) is "
     "waited for instead, by the name it was opened under, and reopened at the same rate "
     "about half a second after it returns; the log and the recording go on in the same "
     "files, and Ctrl-C and --duration end the waiting as they end the monitor. With "
     "--serve, other "
     "programs (gpsd, a navigation program) can connect to [HOST:]PORT (loopback unless a "
     "host is given) and receive the receiver's sentences as they arrive; a client that "
     "stops reading is dropped, and what clients send is ignored. With --raw every byte "
     "received is recorded as it arrives, frames included, for 'replay'; a write that "
     "fails stops the recording with a message, not the monitor, and the exit status is "
     "then 1. With --gpx and --csv the fixes are written at the end as a GPX 1.1 track and "
     "as a CSV table (a header row, then one row per fix, UTC times in ISO 8601, degrees "
     "to 8 places); a file that cannot be written makes the exit status 1. With --stats "
     "the link's counts follow on standard output at the end (and every SECONDS, when "
     "given): per NMEA sentence type and per binary message id the count and the rate a "
     "second over the last 10 seconds, the lines refused by their checksum, the lines that "
     "are not the receiver's sentences (noise, other talkers), the bytes and bytes a "
     "second, and the time since the last byte. With --alerts each alert is a line when it "
     "is raised and when it ends: \"HH:MM:SS ALERT Fix lost\" (no valid fix for 5 s), "
     "\"Differential lost\" (the GGA quality falls from 2 to 1 or 0), \"Corrections older "
     "than 30 s\", \"No data\" (no byte for 5 s), and \"HH:MM:SS END Fix back\", "
     "\"Differential back\", \"Corrections current\", \"Data back\" once the condition has "
     "been gone for 5 s, so a fix that comes and goes raises one alert. With --json the "
     "counts and the alerts are JSON objects, one a line, and nothing else is shown.",
     {{"--log", "FILE", "write the sentences to FILE (created, or emptied when it exists)"},
      {"--raw", "FILE", "record every byte received to FILE (created, or emptied)"},
      {"--gpx", "OUT", "at the end, write the fixes to OUT as a GPX track"},
      {"--csv", "OUT", "at the end, write the fixes to OUT as CSV"},
      {"--duration", "SECONDS", "stop after this many seconds (a plain decimal)"},
      {"--serve", "[HOST:]PORT", "share the sentences with TCP clients on this address"},
      {"--serve-raw", nullptr, "with --serve: share every byte received, frames included"},
      {"--stats", "[SECONDS]",
       "at the end show the link's counts and rates; with SECONDS (a plain decimal from 0.1) "
       "every SECONDS as well"},
      {"--alerts", nullptr, "show each alert as it is raised and as it ends"},
      {"--json", nullptr, "with --stats or --alerts: show them as JSON objects, one a line, "
                          "and nothing else"},
      {"--quiet", nullptr, "do not show the sentences and binary messages"},
      {"--reconnect", nullptr,
       "when the device goes away, wait for it to return and go on, instead of ending"}},
     nullptr, RunMonitor},
    {"replay", "[--speed N|max] [--log FILE] [--raw FILE] [--gpx OUT] [--csv OUT] [--quiet]",
     "replay a recording as if the receiver sent it",
     "Replays FILE through the receive path instead of a receiver, showing and logging it "
     "as monitor does: a raw recording (monitor --raw), a sentence log (monitor --log) or "
     "a capture as other tools write it (lines ended by LF alone are taken as lines). The "
     "sentences come at the pace of their own UTC times (GGA, RMC, ZDA), a gap in the "
     "recording taking at most 10 seconds, or --speed times faster, or as fast as "
     "possible with --speed max. Exits 0 at the end of the file or on Ctrl-C; exits 1 when "
     "FILE is not a recording (no sentence and no frame in its first 64 KiB) or cannot be "
     "read, or when an output file cannot be written.",
     {{"--speed", "N|max",
       "how many times faster than recorded (a plain decimal up to 1000; default 1), or "
       "max for as fast as possible"},
      {"--log", "FILE", "write the sentences to FILE (created, or emptied when it exists)"},
      {"--raw", "FILE", "record every byte replayed to FILE (created, or emptied)"},
      {"--gpx", "OUT", "at the end, write the fixes to OUT as a GPX track"},
      {"--csv", "OUT", "at the end, write the fixes to OUT as CSV"},
      {"--quiet", nullptr, "show nothing on standard output"}},
     "FILE", RunReplayCommand, false},
    {"report",
     "[--json] [--max-cep95 METRES] [--min-availability PERCENT] [--require-differential] "
     "[--duration SECONDS]",
     "report how precise the fixes were, and pass or fail an installation",
     "Reports how precise the receiver's fixes were: those of the recording FILE, replayed "
     "as fast as possible, or without FILE those the receiver sends for --duration seconds "
     "(or until Ctrl-C). Prints the number of epochs and valid fixes and their time span; "
     "the mean position; CEP50, CEP95 and 2DRMS; sigma east, north and up; the vertical "
     "95 %; availability (valid fixes of all epochs) and the longest gap without a fix; the "
     "share of time in each fix quality and mode; mean and maximum HDOP and satellites "
     "used. An epoch is the sentences of one UTC time; distances are from the mean "
     "position on the plane touching the WGS-84 ellipsoid there; CEP by nearest rank of "
     "the horizontal distances, 2DRMS = 2 sqrt(sigmaE^2 + sigmaN^2) (the manual page "
     "defines each figure). With criteria it is an installation check: each criterion "
     "that does not hold is listed on standard error and the exit status is 1; 0 when all "
     "hold. No epoch at all, a file that cannot be read or a device that goes away also "
     "exit 1.",
     {{"--json", nullptr, "print one JSON object instead of text"},
      {"--max-cep95", "METRES", "fail when CEP95 is over METRES (a plain decimal)"},
      {"--min-availability", "PERCENT", "fail when fewer than PERCENT of the epochs have a "
                                        "valid fix"},
      {"--require-differential", nullptr, "fail unless every valid fix is differential"},
      {"--duration", "SECONDS",
       "without FILE: read the receiver this many seconds (a plain decimal)"}},
     "FILE", RunReport, true, false, true},
};

// The common options that only a command talking to a receiver takes.
bool IsPortOption(std::string_view name) {
    return name == "--port" || name == "--baud" || name == "--ports-from";
}

// The commands that run on many ports at once.
bool RunsOnManyPorts(const CommandInfo& c) {
    const std::string_view name = c.name;
    return name == "info" || name == "set" || name == "diff" || name == "load";
}

const CommandInfo* FindCommand(std::string_view name) {
    for (const CommandInfo& c : kCommands) {
        if (name == c.name) {
            return &c;
        }
    }
    return nullptr;
}

const OptionInfo* FindOption(const std::vector<OptionInfo>& options, std::string_view name) {
    for (const OptionInfo& o : options) {
        if (name == o.name) {
            return &o;
        }
    }
    return nullptr;
}

constexpr std::size_t kWidth = 79;
constexpr std::size_t kHelpColumn = 24;

// Writes text in lines of at most kWidth columns, broken between words; every line but
// the first begins with indent spaces, and the first continues from column `column`.
void Wrap(std::ostream& out, std::string_view text, std::size_t column, std::size_t indent) {
    std::size_t at = column;
    bool lineStart = true;
    while (!text.empty()) {
        const std::size_t space = text.find(' ');
        const std::string_view word = text.substr(0, space);
        text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
        if (!lineStart && at + 1 + word.size() > kWidth) {
            out << "\n" << std::string(indent, ' ');
            at = indent;
            lineStart = true;
        }
        if (!lineStart) {
            out << ' ';
            ++at;
        }
        out << word;
        at += word.size();
        lineStart = false;
    }
    out << "\n";
}

void PrintOptions(std::ostream& out, const std::vector<OptionInfo>& options) {
    for (const OptionInfo& o : options) {
        std::string left = std::string("  ") + o.name;
        if (o.value != nullptr) {
            left += std::string(" ") + o.value;
        }
        out << left;
        if (left.size() < kHelpColumn) {
            out << std::string(kHelpColumn - left.size(), ' ');
        } else {
            out << "\n" << std::string(kHelpColumn, ' ');
        }
        Wrap(out, o.help, kHelpColumn, kHelpColumn);
    }
}

void PrintOverview(std::ostream& out) {
    out << "Usage: " << kProgram << " [--port DEVICE|auto] [--baud RATE] COMMAND [options]\n"
        << "       " << kProgram
        << " --port DEVICE --port DEVICE... | --ports-from FILE  info|set|diff|load ...\n"
        << "Finds, reads, configures, loads and logs a Kestrane GPS receiver.\n\n"
        << "Commands:\n";
    for (const CommandInfo& c : kCommands) {
        std::string left = std::string("  ") + c.name;
        out << left << std::string(left.size() < 12 ? 12 - left.size() : 1, ' ') << c.summary
            << "\n";
    }
    out << "\nCommon options:\n";
    PrintOptions(out, kCommonOptions);
    out << "\n'" << kProgram << " COMMAND --help' describes a command.\n"
        << "Exit status: 0 success, 1 the operation failed, 2 usage error.\n";
}

void PrintCommandHelp(std::ostream& out, const CommandInfo& c) {
    std::string usage = std::string("Usage: ") + kProgram +
                        (c.usesPort ? " [--port DEVICE|auto] [--baud RATE] " : " ") + c.name;
    if (*c.synopsis != '\0') {
        usage += std::string(" ") + c.synopsis;
    }
    if (c.operand != nullptr) {
        usage += c.operandOptional ? std::string(" [") + c.operand + "]"
                                   : std::string(" ") + c.operand;
    }
    Wrap(out, usage, 0, 8);
    Wrap(out, c.help, 0, 0);
    if (!c.options.empty()) {
        out << "\nOptions:\n";
        PrintOptions(out, c.options);
    }
    std::vector<OptionInfo> common;
    for (const OptionInfo& o : kCommonOptions) {
        if (c.usesPort || !IsPortOption(o.name)) {
            common.push_back(o);
        }
    }
    out << "\nCommon options:\n";
    PrintOptions(out, common);
}

} // namespace

bool ParsePlainDecimal(const std::string& text, double& value) {
    bool digits = false;
    bool point = false;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            digits = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (!digits) {
        return false;
    }
    // Only digits and a point are left, which strtod reads the same in every locale
    // that uses a point; the program never sets another.
    value = std::strtod(text.c_str(), nullptr);
    return true;
}

bool StandardOutputIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(STDOUT_FILENO) == 1;
#endif
}

int TerminalColumns() {
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) &&
        info.srWindow.Right > info.srWindow.Left) {
        return info.srWindow.Right - info.srWindow.Left + 1;
    }
#else
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
#endif
    return 80;
}

bool ParseBaud(const std::string& text, std::uint32_t& rate) {
    for (std::uint32_t r : kBaudRates) {
        if (text == std::to_string(r)) {
            rate = r;
            return true;
        }
    }
    return false;
}

namespace {

// The command on every port of ports and the files, each in a process of its own.
int RunManyPorts(Invocation& inv, std::vector<std::string> ports,
                 const std::vector<std::string>& portFiles, std::vector<std::string> unitArgs,
                 const char* argv0) {
    if (!RunsOnManyPorts(inv.command)) {
        return inv.Usage(std::string(inv.command.name) + " takes one port; info, set, diff "
                                                         "and load take several");
    }
    for (const std::string& file : portFiles) {
        std::string error;
        if (!ReadPortsFile(file, ports, error)) {
            inv.err << "Error reading " << file << ": " << error << std::endl;
            return kExitFailed;
        }
    }
    if (ports.empty()) {
        return inv.Usage("no device in " + portFiles.front());
    }
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (ports[i] == "auto") {
            return inv.Usage("--port auto searches for one receiver; name each device");
        }
        if (std::find(ports.begin(), ports.begin() + static_cast<std::ptrdiff_t>(i),
                      ports[i]) != ports.begin() + static_cast<std::ptrdiff_t>(i)) {
            // Two units on one port would talk over each other.
            return inv.Usage("the device " + ports[i] + " is named twice");
        }
    }

    BatchPlan plan;
    plan.command = &inv.command;
    plan.devices = ports;
    plan.unitArgs = std::move(unitArgs);
    plan.program = RunningProgramPath(argv0);
    plan.json = inv.Has("--json");
    plan.follow = inv.Has("--follow");
    plan.terminal = &inv.out == &std::cout && StandardOutputIsTerminal();
    plan.columns = plan.terminal ? TerminalColumns() : 80;
    // What every unit would refuse is refused once, before any starts.
    ReceiverProfile profile;
    if (inv.Has("--profile") && !ReadProfileOption(inv.Value("--profile"), profile, inv.err)) {
        return kExitFailed;
    }
    if (inv.command.name == std::string("load") &&
        !CheckSoftwareFile(inv.operand, plan.records, inv.err)) {
        return kExitFailed;
    }
    return RunBatch(plan, inv.out, inv.err);
}

} // namespace

const std::vector<CommandInfo>& Commands() {
    return kCommands;
}

int Invocation::Usage(const std::string& message) const {
    err << kProgram << ": " << message << "\n"
        << "Try '" << kProgram << " " << command.name << " --help'." << std::endl;
    return kExitUsage;
}

int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err) {
    const CommandInfo* command = nullptr;
    const auto usage = [&err, &command](const std::string& message) {
        err << kProgram << ": " << message << "\n"
            << "Try '" << kProgram << (command != nullptr ? std::string(" ") + command->name : "")
            << " --help'." << std::endl;
        return kExitUsage;
    };

    bool help = false;
    std::string portOption; // the first of --port and --baud given, if any
    PortChoice port;
    std::vector<std::string> ports;     // every --port, in order
    std::vector<std::string> portFiles; // every --ports-from
    std::vector<bool> unitArg(static_cast<std::size_t>(argc), true); // kept for a batch's units
    std::map<std::string, std::string> options;
    std::string operand;
    bool haveOperand = false;
    bool onlyOperands = false;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!onlyOperands && arg == "--") {
            onlyOperands = true;
            continue;
        }
        if (!onlyOperands && arg.size() > 1 && arg[0] == '-') {
            const std::size_t eq = arg.find('=');
            const std::string name = arg.substr(0, eq);
            const OptionInfo* option = FindOption(kCommonOptions, name);
            if (option == nullptr && command != nullptr) {
                option = FindOption(command->options, name);
            }
            if (option == nullptr) {
                return usage("unknown option '" + name + "'" +
                             (command != nullptr ? std::string(" for ") + command->name : ""));
            }
            std::string value;
            if (option->value == nullptr) {
                if (eq != std::string::npos) {
                    return usage("option '" + name + "' takes no value");
                }
            } else if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
            } else if (*option->value == '[') {
                // An optional value: the next argument when it is a number.
                double number = 0;
                if (i + 1 < argc && ParsePlainDecimal(argv[i + 1], number)) {
                    value = argv[++i];
                }
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                return usage("option '" + name + "' needs a value (" + option->value + ")");
            }
            if (IsPortOption(name) && portOption.empty()) {
                portOption = name;
            }
            if (name == "--port" || name == "--ports-from" ||
                (name == "--json" && command != nullptr && command->name == std::string("load"))) {
                // Each unit of a batch gets its own port; a load's units speak in lines.
                unitArg[static_cast<std::size_t>(i)] = false;
                if (eq == std::string::npos && option->value != nullptr) {
                    unitArg[static_cast<std::size_t>(i - 1)] = false;
                }
            }
            if (name == "--help") {
                help = true;
            } else if (name == "--ports-from") {
                portFiles.push_back(value);
            } else if (name == "--port") {
                if (value.empty()) {
                    return usage("bad value '' for --port: a device or auto");
                }
                ports.push_back(value);
                port.deviceGiven = true;
                port.autoDevice = value == "auto";
                port.device = port.autoDevice ? std::string() : value;
            } else if (name == "--baud") {
                if (!ParseBaud(value, port.baud)) {
                    return usage("bad value '" + value +
                                 "' for --baud: one of 4800, 9600, 19200, 38400");
                }
                port.baudGiven = true;
            } else {
                options[name] = value;
            }
            continue;
        }
        if (command == nullptr) {
            command = FindCommand(arg);
            if (command == nullptr) {
                return usage("unknown command '" + arg + "'");
            }
        } else if (command->operand != nullptr && !haveOperand) {
            operand = arg;
            haveOperand = true;
        } else {
            return usage("unexpected argument '" + arg + "' for " + command->name);
        }
    }

    if (help) {
        if (command != nullptr) {
            PrintCommandHelp(out, *command);
        } else {
            PrintOverview(out);
        }
        return kExitOk;
    }
    if (command == nullptr) {
        PrintOverview(err);
        return kExitUsage;
    }
    Invocation inv{*command, out, err, port, options, operand};
    if (!command->usesPort && !portOption.empty()) {
        return inv.Usage("option '" + portOption + "' is not taken by " + command->name);
    }
    if (command->operand != nullptr && !haveOperand && !command->operandOptional) {
        return inv.Usage(std::string(command->name) + " needs " + command->operand);
    }
    int status = kExitOk;
    if (ports.size() > 1 || !portFiles.empty() ||
        (command->name == std::string("load") && inv.Has("--json"))) {
        std::vector<std::string> args;
        for (int i = 1; i < argc; ++i) {
            if (unitArg[static_cast<std::size_t>(i)]) {
                args.push_back(argv[i]);
            }
        }
        status = RunManyPorts(inv, ports, portFiles, args, argv[0]);
    } else {
        status = command->run(inv);
    }

    // What the command printed must have reached standard output; a result lost on a
    // full disk or in a closed pipe is not a success.
    const bool failedBefore = !out;
    errno = 0;
    out.flush();
    if (!out) {
        const int error = failedBefore ? 0 : errno;
        err << kProgram << ": error writing standard output"
            << (error != 0 ? std::string(": ") + std::strerror(error) : std::string());
        if (command->outputOptional) {
            err << " (the " << command->name << " went on to its end)";
        } else if (status == kExitOk) {
            status = kExitFailed;
        }
        err << std::endl;
    }
    return status;
}
