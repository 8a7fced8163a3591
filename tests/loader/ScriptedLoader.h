#pragma once
// A receiver's loader played by the test on the master side of a pseudo-terminal, one
// step at a time between ticks of the sequence, so a whole load runs in one thread and
// on a fake clock. It can give replies that the simulated receiver never gives: an
// acknowledgement other than "OK", a long line ahead of it, an "OK" with no prompt
// behind it, or silence from any command or record on.

#include "tests/loader/Pty.h"

#include <string>
#include <vector>

class ScriptedLoader {
public:
    explicit ScriptedLoader(TestPty& pty) : pty_(pty) {}

    std::string ack = "OK"; // the acknowledgement line, without CR LF
    std::string beforeAck;  // sent ahead of each record's acknowledgement
    // Units are named by their text, records "#1", "#2", ... in the order they come in
    // (a resend counts as the next one).
    std::string silentFrom;      // this unit and everything after it get no answer
    std::string okWithoutPrompt; // this unit gets its "OK" but no prompt behind it

    // Everything taken in, one command or record each, in order.
    std::vector<std::string> seen;

    // Takes in what the sequence has written since the last call and answers it. A
    // record is all that was written since the last call: the sequence writes nothing
    // behind a record before it has been answered.
    void Service() {
        pending_ += pty_.ReadAvailable();
        while (!pending_.empty()) {
            std::string unit;
            if (pending_[0] == ';') {
                unit.swap(pending_);
            } else {
                const std::size_t cr = pending_.find('\r');
                if (cr == std::string::npos) {
                    break; // a command still on its way
                }
                unit = pending_.substr(0, cr + 1);
                pending_.erase(0, cr + 1);
            }
            seen.push_back(unit);
            Answer(unit);
        }
    }

    std::vector<std::string> Records() const { return Only(true); }
    std::vector<std::string> Commands() const { return Only(false); }

private:
    std::vector<std::string> Only(bool records) const {
        std::vector<std::string> out;
        for (const std::string& unit : seen) {
            if ((unit[0] == ';') == records) {
                out.push_back(unit);
            }
        }
        return out;
    }

    void Answer(const std::string& unit) {
        const std::string name = unit[0] == ';' ? "#" + std::to_string(++recordsIn_) : unit;
        silent_ = silent_ || name == silentFrom;
        const std::string prompt = name == okWithoutPrompt ? "" : ">";
        if (silent_) {
            // The loader has gone quiet.
        } else if (unit == "LOADSTAR\r") {
            awake_ = true;
            pty_.Write(">");
        } else if (!awake_) {
            // The receiver is not listening for the loader yet.
        } else if (unit == "Ver\r") {
            pty_.Write("KL 3.1\r\n>");
        } else if (unit == "Mfg\r") {
            pty_.Write("Kestrane\r\n>");
        } else if (unit == "RESET\r") {
            awake_ = false;
        } else if (unit == "On\r" || unit == "ERASE\r") {
            pty_.Write(ack + "\r\n" + prompt);
        } else if (unit[0] == ';') {
            pty_.Write(beforeAck + ack + "\r\n" + prompt);
        }
    }

    TestPty& pty_;
    std::string pending_;
    bool awake_ = false;
    bool silent_ = false;
    int recordsIn_ = 0;
};
