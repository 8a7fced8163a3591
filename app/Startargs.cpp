#include "app/Startargs.h"

#include "connect/Portsearch.h"

namespace {

bool ParseRate(const std::string& text, std::uint32_t& rate) {
    for (const std::uint32_t r : kBaudRates) {
        if (text == std::to_string(r)) {
            rate = r;
            return true;
        }
    }
    return false;
}

StartArguments Refuse(const std::string& message) {
    StartArguments refused;
    refused.action = StartArguments::Action::Refused;
    refused.error = message;
    return refused;
}

} // namespace

StartArguments ParseStartArguments(const std::vector<std::string>& args) {
    StartArguments result;
    bool portGiven = false;
    bool baudGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        if (name == "--help" || name == "-h") {
            if (eq != std::string::npos) {
                return Refuse("option '" + name + "' takes no value");
            }
            result.action = StartArguments::Action::Help;
            continue;
        }
        if (name != "--port" && name != "--baud") {
            return Refuse(arg.size() > 1 && arg[0] == '-' ? "unknown option '" + name + "'"
                                                          : "unexpected argument '" + arg + "'");
        }
        std::string value;
        if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return Refuse("option '" + name + "' needs a value (" +
                          (name == "--port" ? "DEVICE" : "RATE") + ")");
        }
        if ((name == "--port" ? portGiven : baudGiven)) {
            return Refuse("option '" + name + "' given twice");
        }
        if (name == "--port") {
            if (value.empty()) {
                return Refuse("bad value '' for --port: a device");
            }
            result.device = value;
            portGiven = true;
        } else {
            if (!ParseRate(value, result.baud)) {
                return Refuse("bad value '" + value +
                              "' for --baud: one of 4800, 9600, 19200, 38400");
            }
            baudGiven = true;
        }
    }
    if (baudGiven && !portGiven) {
        return Refuse("--baud goes with --port");
    }
    return result;
}

std::string StartUsageText() {
    return "Usage: kestrane-utility [--port DEVICE [--baud RATE]]\n"
           "Sets up and services a Kestrane GPS receiver over a serial port.\n"
           "\n"
           "  --port DEVICE  open DEVICE at start-up, as Port > Configure... does with the\n"
           "                 device and the rate on Manual (a serial device such as\n"
           "                 /dev/ttyUSB0 or COM3, or rfc2217://HOST:PORT, tcp://HOST:PORT)\n"
           "  --baud RATE    with --port: 4800, 9600, 19200 or 38400 (default 19200)\n"
           "  --help         show this text\n"
           "\n"
           "Without --port no port opens until one is chosen with Port > Configure...\n";
}
