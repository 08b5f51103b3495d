// Framework work items. The system's worker runs queued items when the machine's current
// operation has returned (Machine::RunWorkItems), one of the schedules the real worker
// threads may take, so that runs stay repeatable. A flush runs a queued item at once, or
// waits for one running on another thread.
#include "State.h"

#include <algorithm>

using namespace kmdf;

namespace {

WorkItemImpl* Item(WDFWORKITEM handle, const char* routine) {
    return LookupAs<WorkItemImpl>(handle, ObjectKind::WorkItem, routine);
}

DeviceId DeviceOf(Machine::State& s, Object* o) {
    std::lock_guard guard(s.lock);
    for (; o != nullptr; o = o->parent) {
        for (auto& [id, node] : s.devices) {
            if (node->device == o) {
                return id;
            }
        }
    }
    return 0;
}

// The caller has claimed the item (taken it off the queue under the lock).
void Run(Machine::State& s, WorkItemImpl* item) {
    {
        Acquire(s, item->running, "EvtWorkItem");
        std::lock_guard running(item->running, std::adopt_lock);
        {
            std::lock_guard guard(s.lock);
            item->runner = std::this_thread::get_id();
        }
        {
            CallbackScope scope("EvtWorkItem", DeviceOf(s, item));
            item->config.EvtWorkItemFunc(reinterpret_cast<WDFWORKITEM>(static_cast<Object*>(item)));
        }
        std::lock_guard guard(s.lock);
        item->runner = std::thread::id();
    }
    std::lock_guard guard(s.lock);
    --item->claimed;
    s.workIdle.notify_all();
}

} // namespace

NTSTATUS WdfWorkItemCreate(PWDF_WORKITEM_CONFIG Config, PWDF_OBJECT_ATTRIBUTES Attributes,
                           WDFWORKITEM* WorkItem) {
    SwitchPoint("WdfWorkItemCreate");
    if (WorkItem == nullptr) {
        BugCheck("WdfWorkItemCreate: no out-handle");
    }
    *WorkItem = nullptr;
    if (Config == nullptr || Config->Size != sizeof(WDF_WORKITEM_CONFIG) ||
        Config->EvtWorkItemFunc == nullptr) {
        BugCheck("WdfWorkItemCreate: the configuration was not initialised");
    }
    if (Attributes == nullptr || Attributes->ParentObject == nullptr) {
        BugCheck("WdfWorkItemCreate: a work item needs a device or queue as its parent");
    }
    NTSTATUS status = InjectedFailure("WdfWorkItemCreate");
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto* item = new WorkItemImpl;
    item->config = *Config;
    Attach(item, Attributes, nullptr, "WdfWorkItemCreate");
    *WorkItem = reinterpret_cast<WDFWORKITEM>(static_cast<Object*>(item));
    return STATUS_SUCCESS;
}

VOID WdfWorkItemEnqueue(WDFWORKITEM WorkItem) {
    SwitchPoint("WdfWorkItemEnqueue");
    WorkItemImpl* item = Item(WorkItem, "WdfWorkItemEnqueue");
    auto& s = Current();
    std::lock_guard guard(s.lock);
    if (!item->queued) {
        item->queued = true;
        s.workQueue.push_back(item);
    }
}

WDFOBJECT WdfWorkItemGetParentObject(WDFWORKITEM WorkItem) {
    SwitchPoint("WdfWorkItemGetParentObject");
    return static_cast<Object*>(Item(WorkItem, "WdfWorkItemGetParentObject")->parent);
}

VOID WdfWorkItemFlush(WDFWORKITEM WorkItem) {
    SwitchPoint("WdfWorkItemFlush");
    FlushWorkItem(Item(WorkItem, "WdfWorkItemFlush"));
}

namespace kmdf {

void FlushWorkItem(WorkItemImpl* item) {
    auto& s = Current();
    bool queued;
    {
        std::lock_guard guard(s.lock);
        if (item->runner == std::this_thread::get_id()) {
            BugCheck("WdfWorkItemFlush: called from the work item's own callback");
        }
        queued = item->queued;
        if (queued) {
            auto& q = s.workQueue;
            q.erase(std::remove(q.begin(), q.end(), item), q.end());
            item->queued = false;
            ++item->claimed;
        }
    }
    if (queued) {
        Run(s, item);
    }
    // Returns once no other thread is about to run it or running it.
    std::unique_lock guard(s.lock);
    WaitUntil(
        s, guard, s.workIdle, [item] { return item->claimed == 0; }, "WdfWorkItemFlush");
}

void Machine::SetOwnWorker(bool own) {
    std::lock_guard guard(state_->lock);
    state_->ownWorker = own;
}

void Machine::RunWorkItems() {
    for (;;) {
        WorkItemImpl* item;
        {
            std::lock_guard guard(state_->lock);
            if (state_->workQueue.empty()) {
                return;
            }
            item = state_->workQueue.front();
            state_->workQueue.pop_front();
            item->queued = false;
            ++item->claimed;
        }
        Run(*state_, item);
    }
}

} // namespace kmdf
