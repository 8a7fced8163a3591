#pragma once
// A unit of a batch: this program run again on one receiver, as a process of its own,
// since the port, its framers and the interrupt flag are one per process. Its standard
// output and standard error are read by a thread each into one queue that the batch
// waits on, so many children are followed from one loop on POSIX systems and Windows
// alike. Its standard input is the null device, or a pipe the batch writes to.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What a child wrote, or the end of one of its outputs.
struct ChildEvent {
    std::size_t unit = 0;
    bool error = false; // from its standard error, else its standard output
    bool end = false;   // that output ended (bytes is empty)
    std::string bytes;
};

class ChildQueue {
public:
    void Push(ChildEvent event);
    // Every event there is, waiting at most timeout for the first.
    std::vector<ChildEvent> Take(std::chrono::milliseconds timeout);

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<ChildEvent> events_;
};

class ChildProcess {
public:
    ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Waits for the child if it was started and not waited for.
    ~ChildProcess();

    // Starts program with args (args[0] is the program's name as it sees it). Its
    // outputs go to queue as events of unit. With input its standard input is a pipe
    // for Input, else the null device. False, with the reason in error, when it could
    // not be started.
    bool Start(const std::string& program, const std::vector<std::string>& args, bool input,
               std::size_t unit, ChildQueue& queue, std::string& error);
    // Ctrl-C for the child alone: it stops as a single command stops on Ctrl-C.
    void Interrupt();
    // Writes text to its standard input; false when it cannot take it any more.
    bool Input(const std::string& text);
    void CloseInput();
    // Waits for it to end and gives its exit status: 128 + the signal's number when a
    // signal ended it, -1 when it was never started.
    int Wait();

private:
    // Waits for the threads reading its outputs, which end with the outputs.
    void JoinReaders();

    struct Handles;
    std::unique_ptr<Handles> handles_;
    std::vector<std::thread> readers_;
    bool waited_ = false;
    int status_ = -1;
};

// For the platform's side: reads one of a child's outputs, read giving up to size bytes
// at block and 0 at its end, pushing what comes into queue and then the output's end.
void ReadOutputToEnd(std::size_t unit, bool error, ChildQueue& queue,
                     const std::function<std::size_t(char* block, std::size_t size)>& read);

// The path of the running program, for starting it again; fallback when the system
// cannot tell.
std::string RunningProgramPath(const std::string& fallback);

// Reads this process's standard input line by line on a thread of its own, pushing an
// event (unit kStandardInputUnit, bytes the line) for each line and an end event at its
// end. The thread is left to end with the program, and holds the queue as long.
inline constexpr std::size_t kStandardInputUnit = static_cast<std::size_t>(-1);
void ReadStandardInput(std::shared_ptr<ChildQueue> queue);
// One byte of standard input, waiting for it; false at its end or on an error.
bool ReadStandardInputByte(char& c);
