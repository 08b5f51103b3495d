// One thread at a time, switched where the seed says.
#include "WalkScheduler.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pelvane {

namespace {

thread_local WalkScheduler* t_scheduler = nullptr;
thread_local int t_task = -1;

// At a point, the running thread goes on three times in four: a switch costs two handovers
// between host threads, and a stretch of a few accesses still meets every other stretch.
constexpr int kSwitchOneIn = 4;

// Turns in a row that went to threads still waiting: far more than the few threads of a step
// take to reach one that can go on, if there is one.
constexpr std::uint64_t kDeadlockTurns = 20000;

// The routines of the binding path, which were the only switch points among the framework
// and kernel routines when the first threaded walks were written: their replays still switch
// there alone, and so run as they ran when they were shrunk.
constexpr const char* kBindingPath[] = {
    "ExAcquireRundownProtection",
    "ExAllocatePool2",
    "ExFreePool",
    "ExReleaseRundownProtection",
    "ExWaitForRundownProtectionRelease",
    "IoGetDeviceInterfaces",
    "IoGetDeviceObjectPointer",
    "IoRegisterPlugPlayNotification",
    "IoUnregisterPlugPlayNotificationEx",
    "KeSetEvent",
    "KeWaitForSingleObject",
    "ObDereferenceObject",
    "WdfIoTargetClose",
    "WdfIoTargetCloseForQueryRemove",
    "WdfIoTargetCreate",
    "WdfIoTargetOpen",
    "WdfIoTargetQueryForInterface",
    "WdfIoTargetSendIoctlSynchronously",
    "WdfObjectDelete",
    "WdfWorkItemEnqueue",
    "WdfWorkItemFlush",
};

bool OnBindingPath(const char* routine) {
    return std::any_of(std::begin(kBindingPath), std::end(kBindingPath),
                       [routine](const char* r) { return std::strcmp(r, routine) == 0; });
}

} // namespace

void WalkScheduler::PickLocked(int passOver) {
    std::size_t n = runnable_.size();
    if (n == 0) {
        current_ = -1;
    } else if (passOver >= 0 && n > 1) {
        // A thread that waits lets another go on: one of the others.
        int pick = random_.Below(static_cast<int>(n) - 1);
        current_ = runnable_[pick];
        if (current_ == passOver) {
            current_ = runnable_[n - 1];
        }
    } else {
        current_ = runnable_[random_.Below(static_cast<int>(n))];
    }
    if (current_ < 0) {
        allEnded_.notify_all();
    } else {
        tasks_[current_].turn.notify_one();
    }
}

void WalkScheduler::SwitchLocked(std::unique_lock<std::mutex>& hold, bool waiting) {
    int self = t_task;
    PickLocked(waiting ? self : -1);
    tasks_[self].turn.wait(hold, [&] { return current_ == self; });
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
            tasks_[id].turn.wait(hold, [&] { return current_ == id; });
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
        allEnded_.wait(hold, [&] { return runnable_.empty(); });
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

void WalkScheduler::PointLocked(std::unique_lock<std::mutex>& hold) {
    idleTurns_ = 0;
    tasks_[t_task].waitingIn.clear();
    tasks_[t_task].spinning = false;
    if (random_.Below(kSwitchOneIn) == 0) {
        SwitchLocked(hold, false);
    }
}

void WalkScheduler::Point() {
    if (t_scheduler != this) {
        return;
    }
    std::unique_lock<std::mutex> hold(lock_);
    PointLocked(hold);
}

void WalkScheduler::Entered(const char* routine) {
    if (t_scheduler != this || (switches_ == SwitchSet::BindingPath && !OnBindingPath(routine))) {
        return;
    }
    // A stall reads the performance counter until its time has passed. The clock it reads is
    // its instance's, whose callbacks run one at a time, so the reads touch nothing that
    // another thread sees, and a switch among them would order nothing that a switch at the
    // first does not. The first read of a run is the point; the run ends at the thread's next
    // register access, call or wait.
    bool counter = std::strcmp(routine, "KeQueryPerformanceCounter") == 0;
    std::unique_lock<std::mutex> hold(lock_);
    if (counter && tasks_[t_task].spinning) {
        return;
    }
    PointLocked(hold);
    tasks_[t_task].spinning = counter;
}

void WalkScheduler::Blocked(const char* routine) {
    if (t_scheduler != this) {
        std::this_thread::yield();
        return;
    }
    std::unique_lock<std::mutex> hold(lock_);
    tasks_[t_task].waitingIn = routine;
    tasks_[t_task].spinning = false;
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
    SwitchLocked(hold, true);
}

} // namespace pelvane
