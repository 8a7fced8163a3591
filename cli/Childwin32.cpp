// A batch's children on Windows: CreateProcess, anonymous pipes, Ctrl-Break.
#include "cli/Child.h"

#include <windows.h>

struct ChildProcess::Handles {
    HANDLE process = nullptr;
    DWORD id = 0;
    HANDLE input = nullptr; // the write end of its standard input, with input only
};

namespace {

std::string LastErrorText() {
    char text[256] = {};
    const DWORD code = GetLastError();
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       0, text, sizeof text, nullptr) == 0) {
        return "error " + std::to_string(code);
    }
    std::string out = text;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) {
        out.pop_back();
    }
    return out;
}

// One argument as the C runtime's parser reads it back: quoted when it must be, each
// quote escaped, and the backslashes before a quote (or the closing one) doubled.
std::string Quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
        return arg;
    }
    std::string out = "\"";
    std::size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        if (c == '"') {
            out.append(slashes * 2 + 1, '\\');
        } else {
            out.append(slashes, '\\');
        }
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, '\\');
    return out + "\"";
}

// Reads the pipe to its end into queue; closes it.
void ReadToEnd(HANDLE pipe, std::size_t unit, bool error, ChildQueue& queue) {
    ReadOutputToEnd(unit, error, queue, [pipe](char* block, std::size_t size) -> std::size_t {
        DWORD got = 0;
        // ERROR_BROKEN_PIPE: the child has ended.
        return ReadFile(pipe, block, static_cast<DWORD>(size), &got, nullptr) ? got : 0;
    });
    CloseHandle(pipe);
}

// A pipe whose one end (the child's) is inherited.
bool ChildPipe(HANDLE& ours, HANDLE& theirs, bool theirsReads) {
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof sa;
    sa.bInheritHandle = TRUE;
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!CreatePipe(&read, &write, &sa, 0)) {
        return false;
    }
    ours = theirsReads ? write : read;
    theirs = theirsReads ? read : write;
    SetHandleInformation(ours, HANDLE_FLAG_INHERIT, 0);
    return true;
}

void CloseIfOpen(HANDLE& h) {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
    }
    h = nullptr;
}

} // namespace

ChildProcess::ChildProcess() = default;

ChildProcess::~ChildProcess() {
    if (handles_ && handles_->process != nullptr && !waited_) {
        Wait();
    }
    JoinReaders();
    if (handles_) {
        CloseIfOpen(handles_->process);
    }
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         bool input, std::size_t unit, ChildQueue& queue, std::string& error) {
    HANDLE outOurs = nullptr, outTheirs = nullptr, errOurs = nullptr, errTheirs = nullptr;
    HANDLE inOurs = nullptr, inTheirs = nullptr;
    bool piped = ChildPipe(outOurs, outTheirs, false) && ChildPipe(errOurs, errTheirs, false);
    if (piped && input) {
        piped = ChildPipe(inOurs, inTheirs, true);
    } else if (piped) {
        SECURITY_ATTRIBUTES sa{};
        sa.nLength = sizeof sa;
        sa.bInheritHandle = TRUE;
        inTheirs = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                               OPEN_EXISTING, 0, nullptr);
        piped = inTheirs != INVALID_HANDLE_VALUE;
    }
    if (!piped) {
        error = LastErrorText();
        for (HANDLE* h : {&outOurs, &outTheirs, &errOurs, &errTheirs, &inOurs, &inTheirs}) {
            CloseIfOpen(*h);
        }
        return false;
    }
    std::string line;
    for (const std::string& a : args) {
        line += (line.empty() ? "" : " ") + Quoted(a);
    }
    std::vector<char> commandLine(line.begin(), line.end());
    commandLine.push_back('\0');
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = inTheirs;
    si.hStdOutput = outTheirs;
    si.hStdError = errTheirs;
    PROCESS_INFORMATION pi{};
    // A group of its own, so that Ctrl-Break can be sent to it alone; the console's
    // Ctrl-C reaches the batch, which passes it on.
    const BOOL created = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr,
                                        TRUE, CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &si, &pi);
    const std::string reason = created ? std::string() : LastErrorText();
    CloseIfOpen(outTheirs);
    CloseIfOpen(errTheirs);
    CloseIfOpen(inTheirs);
    if (!created) {
        error = reason;
        CloseIfOpen(outOurs);
        CloseIfOpen(errOurs);
        CloseIfOpen(inOurs);
        return false;
    }
    CloseHandle(pi.hThread);
    handles_ = std::make_unique<Handles>();
    handles_->process = pi.hProcess;
    handles_->id = pi.dwProcessId;
    handles_->input = inOurs;
    readers_.emplace_back(ReadToEnd, outOurs, unit, false, std::ref(queue));
    readers_.emplace_back(ReadToEnd, errOurs, unit, true, std::ref(queue));
    return true;
}

void ChildProcess::Interrupt() {
    if (handles_ && handles_->process != nullptr && !waited_) {
        GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, handles_->id);
    }
}

bool ChildProcess::Input(const std::string& text) {
    if (!handles_ || handles_->input == nullptr) {
        return false;
    }
    DWORD put = 0;
    return WriteFile(handles_->input, text.data(), static_cast<DWORD>(text.size()), &put,
                     nullptr) &&
           put == text.size();
}

void ChildProcess::CloseInput() {
    if (handles_) {
        CloseIfOpen(handles_->input);
    }
}

int ChildProcess::Wait() {
    if (!handles_ || handles_->process == nullptr) {
        return -1;
    }
    if (!waited_) {
        JoinReaders();
        CloseInput();
        WaitForSingleObject(handles_->process, INFINITE);
        DWORD code = 0;
        status_ = GetExitCodeProcess(handles_->process, &code) ? static_cast<int>(code) : -1;
        waited_ = true;
    }
    return status_;
}

std::string RunningProgramPath(const std::string& fallback) {
    char path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        return fallback;
    }
    return std::string(path, length);
}

bool ReadStandardInputByte(char& c) {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD got = 0;
    return in != nullptr && in != INVALID_HANDLE_VALUE && ReadFile(in, &c, 1, &got, nullptr) &&
           got == 1;
}
