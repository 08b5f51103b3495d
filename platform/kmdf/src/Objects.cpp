// Framework objects: parents and children, typed contexts, deletion.
#include "State.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kmdf {

const char* KindName(ObjectKind kind) {
    switch (kind) {
    case ObjectKind::Driver:
        return "WDFDRIVER";
    case ObjectKind::Device:
        return "WDFDEVICE";
    case ObjectKind::Collection:
        return "WDFCOLLECTION";
    case ObjectKind::Memory:
        return "WDFMEMORY";
    case ObjectKind::IoTarget:
        return "WDFIOTARGET";
    case ObjectKind::ResourceList:
        return "WDFCMRESLIST";
    case ObjectKind::WorkItem:
        return "WDFWORKITEM";
    }
    return "object";
}

Object::~Object() {
    std::free(context);
}

Object* Lookup(WDFOBJECT handle, const char* routine) {
    auto& s = Current();
    std::lock_guard guard(s.lock);
    auto* o = static_cast<Object*>(handle);
    if (o == nullptr || s.live.count(o) == 0) {
        BugCheck(std::string(routine) + ": invalid or deleted framework handle");
    }
    return o;
}

NTSTATUS Attach(Object* object, PWDF_OBJECT_ATTRIBUTES attributes, Object* defaultParent,
                const char* routine) {
    auto& s = Current();
    Object* parent = defaultParent;
    if (attributes != nullptr) {
        if (attributes->Size != sizeof(WDF_OBJECT_ATTRIBUTES)) {
            BugCheck(std::string(routine) + ": object attributes were not initialised");
        }
        if (attributes->ParentObject != nullptr) {
            parent = Lookup(attributes->ParentObject, routine);
        }
        object->cleanup = attributes->EvtCleanupCallback;
        object->destroy = attributes->EvtDestroyCallback;
        if (attributes->ContextTypeInfo != nullptr) {
            std::size_t size = attributes->ContextTypeInfo->ContextSize;
            if (attributes->ContextSizeOverride > size) {
                size = attributes->ContextSizeOverride;
            }
            object->context = std::calloc(1, size == 0 ? 1 : size);
            object->contextType = attributes->ContextTypeInfo;
        }
    }
    std::lock_guard guard(s.lock);
    object->parent = parent;
    if (parent != nullptr) {
        parent->children.push_back(object);
    }
    object->owner = CallbackScope::OwnerNow();
    s.live.insert(object);
    return STATUS_SUCCESS;
}

static void ReleaseResources(Object* object) {
    auto& s = Current();
    if (object->kind == ObjectKind::Memory) {
        auto* m = static_cast<MemoryImpl*>(object);
        std::lock_guard guard(s.lock);
        auto it = s.pool.find(m->buffer);
        if (it != s.pool.end()) {
            PoolBlock block = it->second;
            s.pool.erase(it);
            FreePoolBlock(m->buffer, block);
        }
        m->buffer = nullptr;
    } else if (object->kind == ObjectKind::IoTarget) {
        CloseTarget(static_cast<IoTargetImpl*>(object), true);
    } else if (object->kind == ObjectKind::WorkItem) {
        FlushWorkItem(static_cast<WorkItemImpl*>(object)); // deletion waits for the callback
    }
}

// Children go first, newest first, as the framework disposes of an object tree.
void DeleteObject(Object* object) {
    auto& s = Current();
    std::vector<Object*> children;
    {
        std::lock_guard guard(s.lock);
        children = object->children;
    }
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        DeleteObject(*it);
    }
    if (object->cleanup != nullptr) {
        object->cleanup(object);
    }
    if (object->destroy != nullptr) {
        object->destroy(object);
    }
    ReleaseResources(object);
    std::lock_guard guard(s.lock);
    for (Object* o : s.live) {
        if (o->kind == ObjectKind::Collection) {
            auto& items = static_cast<CollectionImpl*>(o)->items;
            items.erase(std::remove(items.begin(), items.end(), object), items.end());
        }
    }
    if (object->parent != nullptr) {
        auto& siblings = object->parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), object), siblings.end());
    }
    s.live.erase(object);
    delete object;
}

} // namespace kmdf

using namespace kmdf;

PVOID WdfObjectGetTypedContextWorker(WDFOBJECT Handle, PCWDF_OBJECT_CONTEXT_TYPE_INFO TypeInfo) {
    SwitchPoint("WdfObjectGetTypedContextWorker");
    Object* o = Lookup(Handle, "WdfObjectGetTypedContextWorker");
    if (o->contextType == nullptr || TypeInfo == nullptr ||
        o->contextType != TypeInfo->UniqueType) {
        return nullptr;
    }
    return o->context;
}

VOID WdfObjectDelete(WDFOBJECT Object) {
    SwitchPoint("WdfObjectDelete");
    kmdf::Object* o = Lookup(Object, "WdfObjectDelete");
    if (o->kind == ObjectKind::Device || o->kind == ObjectKind::Driver ||
        o->kind == ObjectKind::ResourceList) {
        BugCheck(std::string("WdfObjectDelete: a driver may not delete a ") + KindName(o->kind));
    }
    if (o->kind == ObjectKind::IoTarget && static_cast<IoTargetImpl*>(o)->isDefault) {
        BugCheck("WdfObjectDelete: a driver may not delete the default I/O target");
    }
    DeleteObject(o);
}
