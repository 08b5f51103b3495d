// One thread at a time, switched where the seed says.
#include "WalkScheduler.h"

#include <thread>

namespace pelvane {

namespace {

thread_local WalkScheduler* t_scheduler = nullptr;
thread_local int t_task = -1;

} // namespace

void WalkScheduler::PickLocked() {
    current_ =
        runnable_.empty() ? -1 : runnable_[random_.Below(static_cast<int>(runnable_.size()))];
    turn_.notify_all();
}

void WalkScheduler::Run(std::uint64_t seed, const std::vector<std::function<void()>>& tasks) {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> hold(lock_);
        random_ = WalkRandom(seed);
        runnable_.clear();
        for (std::size_t i = 0; i < tasks.size(); ++i) {
            runnable_.push_back(static_cast<int>(i));
        }
        PickLocked();
    }
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        threads.emplace_back([this, &tasks, i] {
            t_scheduler = this;
            t_task = static_cast<int>(i);
            {
                std::unique_lock<std::mutex> hold(lock_);
                turn_.wait(hold, [&] { return current_ == t_task; });
            }
            tasks[i]();
            std::lock_guard<std::mutex> hold(lock_);
            runnable_.erase(std::find(runnable_.begin(), runnable_.end(), t_task));
            t_scheduler = nullptr;
            PickLocked();
        });
    }
    for (auto& t : threads) {
        t.join();
    }
}

void WalkScheduler::Point() {
    if (t_scheduler != this) {
        return;
    }
    std::unique_lock<std::mutex> hold(lock_);
    PickLocked();
    turn_.wait(hold, [&] { return current_ == t_task; });
}

} // namespace pelvane
