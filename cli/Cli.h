#pragma once
// kestrane-cli: the receiver utility's work from the command line, for scripts and for
// machines without a display. The same core as the windows: the serial port, the port
// manager's framers, the device list, the automatic search, Receiver Setup's reading
// and applying of settings, the loading sequence and after-load dialogue, and the main
// window's monitor text and log rule.
//
//   kestrane-cli [--port DEVICE|auto] [--baud RATE] COMMAND [options] [operand]
//   kestrane-cli --port DEVICE --port DEVICE ... COMMAND ...   (or --ports-from FILE)
//
// With more than one port, info, set, diff and load run on all of them at once, each in
// a process of its own (cli/Batch.h).
//
// Results go to standard output, messages to standard error. Exit status 0 on success,
// 1 when the operation failed, 2 for a usage error (the message names the argument).
// Standard output that cannot be written (a full disk, a reader that went away) fails
// the command, but for a load, which goes on to its end: a receiver must never be left
// half-loaded because a pipe closed. A closed pipe never kills the program.
//
// Every command is one entry of the command table: its name, synopsis, help text, the
// options it takes (with or without a value), at most one operand, and the function
// that runs it. The parser checks the common options and the shape of the command line;
// each command checks its own values before it opens the port, so a bad value is
// refused before a byte goes out.

#include "cli/Session.h"
#include "receiver/Profile.h"

#include <map>
#include <ostream>
#include <string>
#include <vector>

enum ExitStatus : int {
    kExitOk = 0,
    kExitFailed = 1,
    kExitUsage = 2,
};

struct OptionInfo {
    const char* name;  // "--json"
    const char* value; // placeholder of its value ("DEVICE"), or nullptr for a flag; in
                       // brackets ("[SECONDS]") a value that may be left out, taken from
                       // "=VALUE" or from the next argument when that is a number
    const char* help;
};

struct Invocation;

struct CommandInfo {
    const char* name;
    const char* synopsis; // what follows the command's name in its usage line
    const char* summary;  // one line for the overview
    const char* help;     // the description for COMMAND --help
    std::vector<OptionInfo> options;
    const char* operand; // name of its one operand ("FILE"), or nullptr for none
    int (*run)(Invocation& inv);
    // Whether it talks to a receiver, and so takes --port and --baud.
    bool usesPort = true;
    // Whether its work goes on when standard output cannot be written (a load, which
    // must not stop half-way for a closed pipe); for every other command a failed
    // write to standard output is a failure.
    bool outputOptional = false;
    // Whether it also runs without its operand (report: FILE, or the receiver itself).
    bool operandOptional = false;
};

// A parsed command line.
struct Invocation {
    const CommandInfo& command;
    std::ostream& out;
    std::ostream& err;
    PortChoice port;
    std::map<std::string, std::string> options; // given options of the command, by name
    std::string operand;

    bool Has(const std::string& name) const { return options.count(name) != 0; }
    const std::string& Value(const std::string& name) const { return options.at(name); }
    // Reports a usage error ("kestrane-cli: " and the message, then where help is) and
    // returns kExitUsage.
    int Usage(const std::string& message) const;
};

// The command table, in the order the overview lists it.
const std::vector<CommandInfo>& Commands();

// Runs the program on its arguments (argv[0] is the program's name) and returns the
// exit status.
int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err);

// The status text of each record a load sends ("Sending Record 5"), and what a load
// following the engine says when it waits for Enter: a batch reads both from its units.
inline constexpr const char* kSendingRecordText = "Sending Record";
inline constexpr const char* kPowerCyclePromptText =
    "Cycle the receiver's power, then press Enter.";

// How diff ends its count of differences on standard error ("2 settings differ from the
// profile."), by which a batch tells differences from a failure to read the receiver.
inline constexpr const char* kDiffersText = " from the profile.";

// Whether standard output is a terminal: progress is then drawn in place, and a file or
// pipe gets plain lines.
bool StandardOutputIsTerminal();
// The width of the terminal standard output is, in columns; 80 when it cannot be told.
int TerminalColumns();

// One of the four offered rates, written in decimal.
bool ParseBaud(const std::string& text, std::uint32_t& rate);

// A number written as a plain decimal: digits with at most one point, no sign, exponent,
// hexadecimal, infinity or spaces. False, value untouched, for anything else.
bool ParsePlainDecimal(const std::string& text, double& value);

// The commands.
int RunPorts(Invocation& inv);
int RunFind(Invocation& inv);
int RunInfo(Invocation& inv);
int RunSet(Invocation& inv);
int RunMonitor(Invocation& inv);
int RunReplayCommand(Invocation& inv);
int RunReport(Invocation& inv);
int RunLoad(Invocation& inv);
int RunDiff(Invocation& inv);

// Whether file is named as a software file (".gst"); "Invalid File Type" on err if not.
bool SoftwareFileNameTaken(const std::string& file, std::ostream& err);
// Checks a software file as a load does before a byte goes out, and counts its records.
// False after "Invalid File Type" or "Error opening file" and the reason on err.
bool CheckSoftwareFile(const std::string& file, std::size_t& records, std::ostream& err);
// Reads the profile file names; false after "Error in profile", the file and the field
// at fault, on err.
bool ReadProfileOption(const std::string& file, ReceiverProfile& profile, std::ostream& err);
