// The queue the children's outputs meet in, and standard input read into it (cli/Child.h).
#include "cli/Child.h"

#include <thread>

void ChildQueue::Push(ChildEvent event) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
    }
    ready_.notify_one();
}

std::vector<ChildEvent> ChildQueue::Take(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait_for(lock, timeout, [this] { return !events_.empty(); });
    std::vector<ChildEvent> out(std::make_move_iterator(events_.begin()),
                                std::make_move_iterator(events_.end()));
    events_.clear();
    return out;
}

void ChildProcess::JoinReaders() {
    for (std::thread& t : readers_) {
        if (t.joinable()) {
            t.join();
        }
    }
}

void ReadOutputToEnd(std::size_t unit, bool error, ChildQueue& queue,
                     const std::function<std::size_t(char* block, std::size_t size)>& read) {
    char block[4096];
    for (std::size_t got = 0; (got = read(block, sizeof block)) > 0;) {
        ChildEvent event;
        event.unit = unit;
        event.error = error;
        event.bytes.assign(block, got);
        queue.Push(std::move(event));
    }
    ChildEvent end;
    end.unit = unit;
    end.error = error;
    end.end = true;
    queue.Push(std::move(end));
}

void ReadStandardInput(std::shared_ptr<ChildQueue> queue) {
    std::thread([queue] {
        std::string line;
        char c = 0;
        while (ReadStandardInputByte(c)) {
            if (c != '\n') {
                line += c;
                continue;
            }
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            ChildEvent event;
            event.unit = kStandardInputUnit;
            event.bytes = std::move(line);
            queue->Push(std::move(event));
            line.clear();
        }
        ChildEvent end;
        end.unit = kStandardInputUnit;
        end.end = true;
        queue->Push(std::move(end));
    }).detach();
}
