// One thread at a time, switched where the seed says.
#include "WalkScheduler.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace pelvane {

namespace {

thread_local WalkScheduler* t_scheduler = nullptr;
thread_local int t_task = -1;

// Turns in a row that went to threads still waiting: far more than the few threads of a step
// take to reach one that can go on, if there is one.
constexpr std::uint64_t kDeadlockTurns = 20000;

} // namespace

void WalkScheduler::PickLocked() {
    current_ =
        runnable_.empty() ? -1 : runnable_[random_.Below(static_cast<int>(runnable_.size()))];
    turn_.notify_all();
}

void WalkScheduler::SwitchLocked(std::unique_lock<std::mutex>& hold) {
    PickLocked();
    int self = t_task;
    turn_.wait(hold, [&] { return current_ == self; });
}

bool WalkScheduler::OnThread() const {
    return t_scheduler == this;
}

bool WalkScheduler::OthersEnded() const {
    for (std::size_t id = 0; id < tasks_.size(); ++id) {
        if (static_cast<int>(id) != worker_ && !tasks_[id].ended) {
            return false;
        }
    }
    return true;
}

// The caller holds the lock and has made the task runnable.
void WalkScheduler::Start(int id, std::function<void()> body) {
    tasks_[id].thread = std::thread([this, id, body = std::move(body)] {
        t_scheduler = this;
        t_task = id;
        {
            std::unique_lock<std::mutex> hold(lock_);
            turn_.wait(hold, [&] { return current_ == id; });
        }
        body();
        std::lock_guard<std::mutex> hold(lock_);
        tasks_[id].ended = true;
        runnable_.erase(std::find(runnable_.begin(), runnable_.end(), id));
        idleTurns_ = 0;
        t_scheduler = nullptr;
        PickLocked();
    });
}

void WalkScheduler::Run(std::uint64_t seed, const std::function<void()>& main,
                        const std::function<void()>& worker) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        random_ = WalkRandom(seed);
        tasks_.clear();
        runnable_.clear();
        idleTurns_ = 0;
        tasks_.emplace_back();
        runnable_.push_back(0);
        Start(0, main);
        tasks_.emplace_back();
        worker_ = 1;
        runnable_.push_back(worker_);
        Start(worker_, [this, &worker] {
            for (;;) {
                bool last;
                {
                    std::lock_guard<std::mutex> hold(lock_);
                    last = OthersEnded(); // nothing can be queued after this run
                }
                worker();
                if (last) {
                    return;
                }
                Blocked("the system worker's queue");
            }
        });
        PickLocked();
    }
    {
        std::unique_lock<std::mutex> hold(lock_);
        turn_.wait(hold, [&] { return runnable_.empty(); });
    }
    for (Task& task : tasks_) {
        task.thread.join();
    }
    std::lock_guard<std::mutex> hold(lock_);
    tasks_.clear();
    worker_ = -1;
}

int WalkScheduler::Spawn(std::function<void()> task) {
    std::lock_guard<std::mutex> hold(lock_);
    int id = static_cast<int>(tasks_.size());
    tasks_.emplace_back();
    runnable_.push_back(id);
    Start(id, std::move(task));
    return id;
}

void WalkScheduler::Join(const std::vector<int>& ids) {
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            bool ended =
                std::all_of(ids.begin(), ids.end(), [this](int id) { return tasks_[id].ended; });
            if (ended) {
                return;
            }
        }
        Blocked("a join of the step's threads");
    }
}

void WalkScheduler::Point() {
    if (t_scheduler != this) {
        return;
    }
    std::unique_lock<std::mutex> hold(lock_);
    idleTurns_ = 0;
    tasks_[t_task].waitingIn.clear();
    SwitchLocked(hold);
}

void WalkScheduler::Blocked(const char* routine) {
    if (t_scheduler != this) {
        std::this_thread::yield();
        return;
    }
    std::unique_lock<std::mutex> hold(lock_);
    tasks_[t_task].waitingIn = routine;
    if (++idleTurns_ > kDeadlockTurns) {
        std::string waits;
        for (const Task& task : tasks_) {
            if (!task.ended) {
                waits += (waits.empty() ? "" : "; ") + task.waitingIn;
            }
        }
        std::fprintf(stderr, "*** STOP (stand-in): deadlock, every thread waits: %s\n",
                     waits.c_str());
        std::fflush(stderr);
        std::abort();
    }
    SwitchLocked(hold);
}

} // namespace pelvane
