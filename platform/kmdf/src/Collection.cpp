// Framework collections: an ordered list of framework objects.
#include "State.h"

#include <algorithm>

using namespace kmdf;

NTSTATUS WdfCollectionCreate(PWDF_OBJECT_ATTRIBUTES CollectionAttributes,
                             WDFCOLLECTION* Collection) {
    SwitchPoint("WdfCollectionCreate");
    if (Collection == nullptr) {
        BugCheck("WdfCollectionCreate: no out-handle");
    }
    *Collection = nullptr;
    NTSTATUS status = InjectedFailure("WdfCollectionCreate");
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto* c = new CollectionImpl;
    Attach(c, CollectionAttributes, Current().driver, "WdfCollectionCreate");
    *Collection = reinterpret_cast<WDFCOLLECTION>(static_cast<Object*>(c));
    return STATUS_SUCCESS;
}

ULONG WdfCollectionGetCount(WDFCOLLECTION Collection) {
    SwitchPoint("WdfCollectionGetCount");
    auto* c = LookupAs<CollectionImpl>(Collection, ObjectKind::Collection, "WdfCollectionGetCount");
    std::lock_guard guard(Current().lock);
    return static_cast<ULONG>(c->items.size());
}

NTSTATUS WdfCollectionAdd(WDFCOLLECTION Collection, WDFOBJECT Object) {
    SwitchPoint("WdfCollectionAdd");
    auto* c = LookupAs<CollectionImpl>(Collection, ObjectKind::Collection, "WdfCollectionAdd");
    kmdf::Object* item = Lookup(Object, "WdfCollectionAdd");
    NTSTATUS status = InjectedFailure("WdfCollectionAdd");
    if (!NT_SUCCESS(status)) {
        return status;
    }
    std::lock_guard guard(Current().lock);
    c->items.push_back(item);
    return STATUS_SUCCESS;
}

VOID WdfCollectionRemove(WDFCOLLECTION Collection, WDFOBJECT Item) {
    SwitchPoint("WdfCollectionRemove");
    auto* c = LookupAs<CollectionImpl>(Collection, ObjectKind::Collection, "WdfCollectionRemove");
    std::lock_guard guard(Current().lock);
    auto it = std::find(c->items.begin(), c->items.end(), static_cast<kmdf::Object*>(Item));
    if (it == c->items.end()) {
        BugCheck("WdfCollectionRemove: the object is not in the collection");
    }
    c->items.erase(it);
}

WDFOBJECT WdfCollectionGetItem(WDFCOLLECTION Collection, ULONG Index) {
    SwitchPoint("WdfCollectionGetItem");
    auto* c = LookupAs<CollectionImpl>(Collection, ObjectKind::Collection, "WdfCollectionGetItem");
    std::lock_guard guard(Current().lock);
    return Index < c->items.size() ? c->items[Index] : nullptr;
}
