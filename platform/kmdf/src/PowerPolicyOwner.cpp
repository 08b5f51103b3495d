// The power policy owner above the filter.
#include <kmdf/PowerPolicyOwner.h>

namespace kmdf {

const char* PolicyStateName(PolicyState state) {
    switch (state) {
    case PolicyState::Stopped:
        return "Stopped";
    case PolicyState::Started:
        return "Started";
    case PolicyState::WaitingUnarmed:
        return "WaitingUnarmed";
    case PolicyState::WaitingArmed:
        return "WaitingArmed";
    case PolicyState::Sleeping:
        return "Sleeping";
    case PolicyState::SystemAsleepNoWake:
        return "SystemAsleepNoWake";
    case PolicyState::Off:
        return "Off";
    case PolicyState::Removed:
        return "Removed";
    }
    return "?";
}

PowerPolicyOwner::PowerPolicyOwner(Machine& machine, DeviceId id) : machine_(machine), id_(id) {}

// A failed request tore the stack down. The device may have been enumerated again and its new
// stack started, whose owner carries on from there.
void PowerPolicyOwner::TornDown() {
    state_ = PolicyState::Removed;
    std::optional<DeviceId> next = machine_.Reenumerated(id_);
    if (next && machine_.DeviceStarted(*next)) {
        id_ = *next;
        state_ = PolicyState::Started;
    }
}

NTSTATUS PowerPolicyOwner::RequestDx(POWER_ACTION action, PolicyState next) {
    NTSTATUS status = machine_.ExitD0(id_, WdfPowerDeviceD3, action);
    if (NT_SUCCESS(status)) {
        state_ = next;
    } else {
        TornDown();
    }
    return status;
}

NTSTATUS PowerPolicyOwner::RequestD0(PolicyState next) {
    NTSTATUS status = machine_.EnterD0(id_);
    if (NT_SUCCESS(status)) {
        state_ = next;
    } else {
        TornDown();
    }
    return status;
}

NTSTATUS PowerPolicyOwner::Start() {
    if (state_ != PolicyState::Stopped) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    NTSTATUS status = machine_.StartDevice(id_);
    if (NT_SUCCESS(status)) {
        state_ = PolicyState::Started;
    } else if (!machine_.DevicePresent(id_)) {
        state_ = PolicyState::Removed; // a failed start removes the stack
    }
    return status;
}

// The framework stops a device from D0: one that idles is brought back first (its
// StoppingD0 state), and nothing is stopped while the system sleeps.
NTSTATUS PowerPolicyOwner::Stop() {
    switch (state_) {
    case PolicyState::Removed:
    case PolicyState::Stopped:
        return STATUS_SUCCESS;
    case PolicyState::Sleeping:
    case PolicyState::SystemAsleepNoWake:
        return STATUS_INVALID_DEVICE_STATE;
    case PolicyState::WaitingUnarmed:
    case PolicyState::WaitingArmed: {
        NTSTATUS status = RequestD0(PolicyState::Started);
        if (!NT_SUCCESS(status)) {
            return status;
        }
        break;
    }
    default:
        break;
    }
    NTSTATUS status = machine_.StopDevice(id_);
    state_ = machine_.DevicePresent(id_) ? PolicyState::Stopped : PolicyState::Removed;
    return status;
}

NTSTATUS PowerPolicyOwner::Idle(bool armedForWake) {
    if (state_ != PolicyState::Started) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    return RequestDx(PowerActionNone,
                     armedForWake ? PolicyState::WaitingArmed : PolicyState::WaitingUnarmed);
}

NTSTATUS PowerPolicyOwner::Active() {
    if (state_ != PolicyState::WaitingUnarmed && state_ != PolicyState::WaitingArmed) {
        return state_ == PolicyState::Started ? STATUS_SUCCESS : STATUS_INVALID_DEVICE_STATE;
    }
    return RequestD0(PolicyState::Started);
}

NTSTATUS PowerPolicyOwner::SystemTransition(POWER_ACTION action) {
    PolicyState asleep =
        action == PowerActionShutdownOff ? PolicyState::Off : PolicyState::Sleeping;
    switch (state_) {
    case PolicyState::Started:
        return RequestDx(action, asleep);
    case PolicyState::WaitingUnarmed:
        if (wakeFromSx_ && action == PowerActionSleep) {
            // SystemSleepNeedWake: back to D0, then down again to be armed for the system's wake.
            NTSTATUS status = RequestD0(PolicyState::Started);
            return NT_SUCCESS(status) ? RequestDx(action, asleep) : status;
        }
        // Idle and not armed: the system request stops at the owner, unless the system
        // hibernates through this device; then it goes on as for an armed device below.
        if (action != PowerActionHibernate || !machine_.HibernationPath(id_)) {
            state_ = action == PowerActionShutdownOff ? PolicyState::Off
                                                      : PolicyState::SystemAsleepNoWake;
            return STATUS_SUCCESS;
        }
        [[fallthrough]];
    case PolicyState::WaitingArmed: {
        // Armed in S0: back to D0 to disarm, then down again with the system's action.
        NTSTATUS status = RequestD0(PolicyState::Started);
        return NT_SUCCESS(status) ? RequestDx(action, asleep) : status;
    }
    default:
        return STATUS_INVALID_DEVICE_STATE;
    }
}

NTSTATUS PowerPolicyOwner::Sleep() {
    return SystemTransition(PowerActionSleep);
}

NTSTATUS PowerPolicyOwner::Hibernate() {
    return SystemTransition(PowerActionHibernate);
}

// A hybrid shutdown hibernates the kernel session: the stack sees S4 as for hibernation.
NTSTATUS PowerPolicyOwner::FastStartup() {
    return SystemTransition(PowerActionHibernate);
}

NTSTATUS PowerPolicyOwner::Shutdown() {
    return SystemTransition(PowerActionShutdownOff);
}

NTSTATUS PowerPolicyOwner::Resume() {
    switch (state_) {
    case PolicyState::Sleeping:
        return RequestD0(PolicyState::Started);
    case PolicyState::SystemAsleepNoWake:
        // The device stays in Dx until it is needed again.
        state_ = PolicyState::WaitingUnarmed;
        return STATUS_SUCCESS;
    default:
        return STATUS_INVALID_DEVICE_STATE;
    }
}

// A rebalance is an orderly stop and a start: an idle device is brought back to D0 first.
NTSTATUS PowerPolicyOwner::Rebalance(const std::optional<ResourceLists>& lists) {
    if (state_ == PolicyState::WaitingUnarmed || state_ == PolicyState::WaitingArmed) {
        NTSTATUS status = RequestD0(PolicyState::Started);
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    if (state_ != PolicyState::Started) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    NTSTATUS status = machine_.RebalanceDevice(id_, lists);
    state_ = machine_.DeviceStarted(id_) ? PolicyState::Started : PolicyState::Removed;
    return status;
}

// Nothing is powered up for a surprise removal: the device leaves from the state it is in.
NTSTATUS PowerPolicyOwner::SurpriseRemove() {
    switch (state_) {
    case PolicyState::Stopped:
    case PolicyState::Started:
    case PolicyState::WaitingUnarmed:
    case PolicyState::WaitingArmed:
        break;
    default:
        return STATUS_INVALID_DEVICE_STATE;
    }
    NTSTATUS status = machine_.SurpriseRemove(id_);
    state_ = PolicyState::Removed;
    return status;
}

} // namespace kmdf
