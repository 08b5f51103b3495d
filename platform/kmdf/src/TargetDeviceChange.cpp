// Target device change: query-remove, remove-cancelled and remove-complete of a named device,
// delivered to every I/O target registered on a file object of it. A target without the
// driver's callbacks gets the framework's defaults: closed on query-remove, left closed on
// remove-cancelled (an existing-device target has nothing to reopen with), closed for good on
// remove-complete.
#include "State.h"

#include <algorithm>
#include <thread>

using namespace kmdf;

namespace {

enum class Change { QueryRemove, RemoveCancelled, RemoveComplete };

std::vector<IoTargetImpl*> TargetsOn(Machine::State& s, const std::wstring& name) {
    std::lock_guard guard(s.lock);
    std::vector<IoTargetImpl*> out;
    for (IoTargetImpl* t : s.remoteTargets) {
        if (t->deviceName == name) {
            out.push_back(t);
        }
    }
    std::sort(out.begin(), out.end(), [](const IoTargetImpl* a, const IoTargetImpl* b) {
        return a->registered < b->registered;
    });
    return out;
}

WDFIOTARGET Handle(IoTargetImpl* t) {
    return reinterpret_cast<WDFIOTARGET>(static_cast<Object*>(t));
}

DeviceId Owner(Machine::State& s, IoTargetImpl* t) {
    std::lock_guard guard(s.lock);
    for (auto& [id, node] : s.devices) {
        if (node->device == t->device) {
            return id;
        }
    }
    return 0;
}

// Returns false when the driver's query-remove callback refused the removal.
bool Deliver(Machine::State& s, IoTargetImpl* t, Change change) {
    const WDF_IO_TARGET_OPEN_PARAMS& p = t->opened;
    DeviceId device = Owner(s, t);
    switch (change) {
    case Change::QueryRemove:
        if (p.EvtIoTargetQueryRemove == nullptr) {
            CloseTarget(t, false);
            return true;
        } else {
            CallbackScope scope("EvtIoTargetQueryRemove", device);
            return NT_SUCCESS(scope.Returned(p.EvtIoTargetQueryRemove(Handle(t))));
        }
    case Change::RemoveCancelled:
        if (p.EvtIoTargetRemoveCanceled != nullptr) {
            CallbackScope scope("EvtIoTargetRemoveCanceled", device);
            p.EvtIoTargetRemoveCanceled(Handle(t));
        }
        return true;
    case Change::RemoveComplete:
        if (p.EvtIoTargetRemoveComplete == nullptr) {
            CloseTarget(t, true);
        } else {
            CallbackScope scope("EvtIoTargetRemoveComplete", device);
            p.EvtIoTargetRemoveComplete(Handle(t));
        }
        return true;
    }
    return true;
}

// A target deleted since the list was taken is no longer told. One still registered is
// marked busy under the lock, so its deletion on another thread waits for the callback.
bool BeginDelivery(Machine::State& s, IoTargetImpl* t, Change change) {
    std::lock_guard guard(s.lock);
    if (s.remoteTargets.count(t) == 0) {
        return false;
    }
    if (change == Change::RemoveComplete) {
        s.remoteTargets.erase(t); // the registration ends with the device
    }
    t->delivering.push_back(std::this_thread::get_id());
    return true;
}

void EndDelivery(Machine::State& s, IoTargetImpl* t) {
    std::lock_guard guard(s.lock);
    auto it = std::find(t->delivering.begin(), t->delivering.end(), std::this_thread::get_id());
    t->delivering.erase(it);
    s.targetsIdle.notify_all();
}

// Returns false when the removal was refused.
bool DeliverIfRegistered(Machine::State& s, IoTargetImpl* t, Change change) {
    if (!BeginDelivery(s, t, change)) {
        return true;
    }
    bool accepted = Deliver(s, t, change);
    EndDelivery(s, t);
    return accepted;
}

void DeliverAll(Machine::State& s, const std::wstring& name, Change change) {
    for (IoTargetImpl* t : TargetsOn(s, name)) {
        DeliverIfRegistered(s, t, change);
    }
}

std::size_t ReferencesLocked(const Machine::State& s, const std::wstring& name) {
    std::size_t count = 0;
    for (auto& [object, references] : s.references) {
        auto* file = static_cast<const _FILE_OBJECT*>(object);
        if (file->DeviceObject != nullptr && Impl(file->DeviceObject)->Name == name) {
            count += static_cast<std::size_t>(references);
        }
    }
    return count;
}

std::size_t References(const Machine::State& s, const std::wstring& name) {
    std::lock_guard guard(s.lock);
    return ReferencesLocked(s, name);
}

// The PnP manager's veto: a file object still referenced keeps the device open. Once the
// query has passed, the device is remove-pending, and a create on it fails (a function
// driver fails every create after it succeeds a query-remove), so nobody can open it again
// before the removal completes or is cancelled. Opens made while the notifications were
// being delivered hold a reference and therefore veto.
bool PassQuery(Machine::State& s, const std::wstring& name) {
    std::lock_guard guard(s.lock);
    if (ReferencesLocked(s, name) != 0) {
        return false;
    }
    s.removePending.insert(name);
    return true;
}

void EndPending(Machine::State& s, const std::wstring& name) {
    std::lock_guard guard(s.lock);
    s.removePending.erase(name);
}

} // namespace

namespace kmdf {

bool Machine::QueryRemoveDevice(const std::wstring& name) {
    WorkAfterReturn work{*this};
    bool refused = false;
    {
        std::lock_guard guard(state_->lock);
        state_->queryTold.clear();
    }
    for (IoTargetImpl* t : TargetsOn(*state_, name)) {
        // Told only if still registered when its turn comes (BeginDelivery).
        std::uint64_t file = 0;
        {
            std::lock_guard guard(state_->lock);
            if (state_->remoteTargets.count(t) != 0 && t->remoteFile != nullptr) {
                file = t->remoteFile->serial;
            }
        }
        bool accepted = DeliverIfRegistered(*state_, t, Change::QueryRemove);
        if (file != 0) {
            std::lock_guard guard(state_->lock);
            state_->queryTold.push_back(file);
        }
        refused = !accepted || refused;
    }
    if (refused || !PassQuery(*state_, name)) {
        DeliverAll(*state_, name, Change::RemoveCancelled);
        return false;
    }
    return true;
}

void Machine::CancelRemoveDevice(const std::wstring& name) {
    WorkAfterReturn work{*this};
    EndPending(*state_, name);
    DeliverAll(*state_, name, Change::RemoveCancelled);
}

void Machine::CompleteRemoveDevice(const std::wstring& name) {
    WorkAfterReturn work{*this};
    DeliverAll(*state_, name, Change::RemoveComplete);
    RemoveNamedDevice(name);
    EndPending(*state_, name);
}

void Machine::SurpriseRemoveDevice(const std::wstring& name) {
    WorkAfterReturn work{*this};
    RemoveNamedDevice(name);
    DeliverAll(*state_, name, Change::RemoveComplete);
}

std::size_t Machine::DeviceReferences(const std::wstring& name) const {
    return References(*state_, name);
}

std::vector<std::uint64_t> Machine::FilesToldOfLastQuery() const {
    std::lock_guard guard(state_->lock);
    return state_->queryTold;
}

std::vector<std::uint64_t> Machine::DeviceFiles(const std::wstring& name) const {
    std::lock_guard guard(state_->lock);
    std::vector<std::uint64_t> files;
    for (auto& [object, references] : state_->references) {
        auto* file = static_cast<const _FILE_OBJECT*>(object);
        if (references > 0 && file->DeviceObject != nullptr &&
            Impl(file->DeviceObject)->Name == name) {
            files.push_back(file->serial);
        }
    }
    return files;
}

} // namespace kmdf
