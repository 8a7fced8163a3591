#pragma once
// A receiver's loader played by the test on the master side of a pseudo-terminal, one
// step at a time between ticks of the sequence, so a whole load runs in one thread and
// on a fake clock. It can give replies that the simulated receiver never gives: an
// acknowledgement other than "OK", a long line ahead of it, an "OK" with no prompt
// behind it, silence from any command or record on, answers that come a few steps
// late, or one answer held back until the next unit has come in.

#include "tests/common/Pty.h"

#include <string>
#include <vector>

class ScriptedLoader {
public:
    explicit ScriptedLoader(Pty& pty) : pty_(pty) {}

    std::string ack = "OK"; // the acknowledgement line, without CR LF
    std::string beforeAck;  // sent ahead of each record's acknowledgement
    // Units are named by their text, records "#1", "#2", ... in the order they come in
    // (a resend counts as the next one).
    std::string silentFrom;      // this unit and everything after it get no answer
    std::string okWithoutPrompt; // this unit gets its "OK" but no prompt behind it
    std::string heldUntilNext;   // this unit is answered when the next one comes in
    int answerDelay = 0;         // Service calls between taking a unit and answering it

    // Everything taken in, one command or record each, in order.
    std::vector<std::string> seen;
    // Units that came in while the answer to another unit (other bytes) was still owed:
    // sent before what went before them had been answered (named as in silentFrom).
    std::vector<std::string> early;

    // Takes in what the sequence has written since the last call and answers it. A
    // record is all that was written since the last call: the sequence writes nothing
    // behind a record before it has been answered.
    void Service() {
        ++services_;
        pending_ += pty_.ReadAllText();
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
            for (const Owed& owed : owed_) {
                if (owed.unit != unit) {
                    early.push_back(unit[0] == ';' ? "#" + std::to_string(recordsIn_ + 1) : unit);
                    break;
                }
            }
            for (Owed& owed : owed_) {
                if (owed.due < 0) {
                    owed.due = services_; // held back until now
                }
            }
            const std::string answer = Answer(unit);
            if (answer.empty()) {
                // Nothing to say, nothing owed.
            } else if (name_ == heldUntilNext) {
                owed_.push_back({unit, -1, answer});
            } else if (answerDelay > 0 || !owed_.empty()) {
                owed_.push_back({unit, services_ + answerDelay, answer});
            } else {
                pty_.Write(answer);
            }
        }
        while (!owed_.empty() && owed_.front().due >= 0 && owed_.front().due <= services_) {
            pty_.Write(owed_.front().answer);
            owed_.erase(owed_.begin());
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

    // What the loader says to the unit (nothing: an empty text).
    std::string Answer(const std::string& unit) {
        name_ = unit[0] == ';' ? "#" + std::to_string(++recordsIn_) : unit;
        silent_ = silent_ || name_ == silentFrom;
        const std::string prompt = name_ == okWithoutPrompt ? "" : ">";
        if (silent_) {
            return ""; // the loader has gone quiet
        } else if (unit == "LOADSTAR\r") {
            awake_ = true;
            return ">";
        } else if (!awake_) {
            return ""; // the receiver is not listening for the loader yet
        } else if (unit == "Ver\r") {
            return "KL 3.1\r\n>";
        } else if (unit == "Mfg\r") {
            return "Kestrane\r\n>";
        } else if (unit == "RESET\r") {
            awake_ = false;
        } else if (unit == "On\r" || unit == "ERASE\r") {
            return ack + "\r\n" + prompt;
        } else if (unit[0] == ';') {
            return beforeAck + ack + "\r\n" + prompt;
        }
        return "";
    }

    struct Owed {
        std::string unit;
        int due; // the Service call that answers it; -1: the next unit that comes in
        std::string answer;
    };

    Pty& pty_;
    std::string pending_;
    bool awake_ = false;
    bool silent_ = false;
    int recordsIn_ = 0;
    int services_ = 0;
    std::string name_; // of the unit answered last
    std::vector<Owed> owed_;
};
