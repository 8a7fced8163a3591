// The queue the children's outputs meet in (cli/Child.h).
#include "cli/Child.h"

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
