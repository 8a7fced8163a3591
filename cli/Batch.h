#pragma once
// Many receivers at once: info, set, diff or load run on every port given, each port by
// this program run again with that one port (cli/Child.h), all at the same time.
//
// What each unit writes is passed on line by line, prefixed with its device
// ("/dev/ttyUSB0: Finished"), its standard output to standard output and its standard
// error to standard error. A load on a terminal instead shows one progress line per unit
// below the other lines, redrawn in place. With --json nothing is passed on: when a unit
// ends, one JSON object a line says what it did:
//
//   {"device":"/dev/ttyUSB0","result":"ok","exit_status":0,"detail":"Done",
//    "seconds":41.2,"report":{...}}
//
// "report" is the JSON object the unit printed (info, set, diff), else "output" holds
// its lines (a load's "Sending Record" lines counted in "records_sent" of "records"
// instead); "messages" holds what it wrote on standard error. Without --json a table
// ends the run: device, result (ok, failed, cancelled, or differs for a diff that found
// differences), detail, time.
//
// Ctrl-C is passed on to every unit that still runs, once for each Ctrl-C, and each
// stops as it would alone: a load is cancelled, and one past "Finished" is not. The
// batch waits for all of them. Enter, when a unit following its engine asks for the
// receiver's power to be cycled, is passed on to the units that ask at that moment.
//
// The exit status is 0 when every unit succeeded, 2 when a unit found its command line
// wrong, 1 otherwise.

#include "cli/Cli.h"

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

struct BatchPlan {
    const CommandInfo* command = nullptr;
    std::vector<std::string> devices;
    // The arguments each unit takes after "--port DEVICE": the command line without its
    // ports (and without --json for a load, whose units speak in lines).
    std::vector<std::string> unitArgs;
    std::string program; // the program to run for each unit
    bool json = false;
    bool follow = false;       // load --follow: Enter is passed on
    std::size_t records = 0;   // load: the file's records, for the progress lines
    bool terminal = false;     // standard output is a terminal: progress lines for a load
    int columns = 80;          // its width: a progress line longer would wrap, and the
                               // lines would no longer be redrawn in place
};

int RunBatch(const BatchPlan& plan, std::ostream& out, std::ostream& err);

// The devices of a --ports-from file: one a line; blank lines and lines starting with #
// are skipped, spaces around a name removed. False, with the reason in error, when the
// file cannot be read.
bool ReadPortsFile(const std::string& path, std::vector<std::string>& devices,
                   std::string& error);
// The same from the file's text.
std::vector<std::string> DeviceListLines(std::string_view text);
