#pragma once
// A receiver's loader played by the test on the master side of a pseudo-terminal, one
// step at a time between ticks of the sequence, so a whole load runs in one thread and
// on a fake clock. It records every command and record it is sent, with the line rate
// in force when it took them in, and answers as the loader does unless told to fail.

#include "tests/loader/Pty.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class ScriptedLoader {
public:
    struct Received {
        std::string bytes;
        std::uint32_t baud = 0;
    };

    explicit ScriptedLoader(TestPty& pty) : pty_(pty) {}

    // Failures to play.
    bool promptAfterWake = true; // answer "LOADSTAR\r" with the prompt
    std::string ack = "OK";      // the acknowledgement line, without CR LF
    std::map<int, int> dropAcks; // record number -> sendings left unanswered
    std::string beforeAck;       // sent ahead of each record's acknowledgement

    std::vector<Received> seen;
    int recordsAcked = 0;

    // Takes in what the sequence has written since the last call and answers it.
    // A record is all that was written since the last call: the sequence writes
    // nothing behind a record before it has been answered.
    void Service() {
        if (promptDue_) {
            promptDue_ = false;
            pty_.Write(">");
        }
        pending_ += pty_.ReadAvailable();
        const std::uint32_t baud = pty_.Baud();
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
            seen.push_back({unit, baud});
            Answer(unit);
        }
    }

    // Only the records, in the order they were sent (resends included).
    std::vector<std::string> Records() const {
        std::vector<std::string> out;
        for (const Received& r : seen) {
            if (!r.bytes.empty() && r.bytes[0] == ';') {
                out.push_back(r.bytes);
            }
        }
        return out;
    }

    // Only the text commands, in order.
    std::vector<std::string> Commands() const {
        std::vector<std::string> out;
        for (const Received& r : seen) {
            if (r.bytes.empty() || r.bytes[0] != ';') {
                out.push_back(r.bytes);
            }
        }
        return out;
    }

private:
    void Answer(const std::string& unit) {
        if (unit == "LOADSTAR\r") {
            // The loader starts up before it prompts: by then a program that moves
            // to 19200 has reopened its port.
            awake_ = true;
            promptDue_ = promptAfterWake;
            return;
        }
        if (!awake_) {
            return; // the receiver is not listening for the loader yet
        }
        if (unit == "Ver\r") {
            pty_.Write("KL 3.1\r\n>");
        } else if (unit == "Mfg\r") {
            pty_.Write("Kestrane\r\n>");
        } else if (unit == "On\r" || unit == "ERASE\r") {
            pty_.Write(ack + "\r\n>");
        } else if (unit == "RESET\r") {
            awake_ = false;
        } else if (unit[0] == ';') {
            const int number = recordsAcked + 1;
            auto drop = dropAcks.find(number);
            if (drop != dropAcks.end() && drop->second > 0) {
                --drop->second;
                return;
            }
            ++recordsAcked;
            pty_.Write(beforeAck + ack + "\r\n>");
        }
    }

    TestPty& pty_;
    std::string pending_;
    bool awake_ = false;
    bool promptDue_ = false;
};
