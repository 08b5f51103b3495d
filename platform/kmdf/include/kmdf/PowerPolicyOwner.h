#pragma once
// The host-controller driver above the filter, which owns its stack's power policy, as far as
// the filter can see it: a small state machine that turns system power events into the device
// power requests that the framework sends down the stack. States are named after the
// framework's own power policy states.
//
//   Started         + idle         -> Dx, action None           -> WaitingUnarmed / WaitingArmed
//   Waiting*        + active       -> D0                        -> Started
//   Started         + sleep, ...   -> Dx with the system action -> Sleeping (Off for shutdown)
//   WaitingUnarmed  + sleep, ...   -> no request at all          -> SystemAsleepNoWake (Off)
//   WaitingUnarmed  + sleep, wake from Sx enabled -> D0, then Dx with the sleep action
//   WaitingArmed    + sleep, ...   -> D0 to disarm, then Dx with the system action
//   WaitingUnarmed  + S4, with the hibernation file behind the device
//                                  -> D0, then Dx with the hibernate action: the image is
//                                     written through the device, which must be powered
//   Sleeping        + resume       -> D0                        -> Started
//   SystemAsleepNoWake + resume    -> no request; the device stays in Dx -> WaitingUnarmed
//   Waiting*        + stop         -> D0, then D0 exit to D3Final and release hardware
//   Started         + rebalance    -> D0 exit to D3Final, release, prepare, D0 entry -> Started
//   Waiting*        + rebalance    -> D0 first, as for a stop
//   Started, Waiting* + surprise removal -> D0 exit to D3Final only from D0, release -> Removed
//
// Hibernation and fast startup both reach the stack as S4 (PowerActionHibernate); a shutdown
// as a Dx request that the framework turns into D3Final. A failed transition tears the stack
// down (Machine::ExitD0, Machine::EnterD0): the owner is then Removed and sends nothing more,
// unless the framework had the device enumerated again (Machine::AllowRestarts) and the new
// stack started: the owner then carries on with that device, Started.
#include <kmdf/Machine.h>

namespace kmdf {

enum class PolicyState {
    Stopped,
    Started,
    WaitingUnarmed,
    WaitingArmed,
    Sleeping,
    SystemAsleepNoWake,
    Off,
    Removed,
};

const char* PolicyStateName(PolicyState state);

class PowerPolicyOwner {
  public:
    PowerPolicyOwner(Machine& machine, DeviceId id);

    NTSTATUS Start(); // prepare hardware, D0 entry
    // D0 exit to D3Final, release hardware. An idle device is brought to D0 first; while the
    // system sleeps a stop is refused (STATUS_INVALID_DEVICE_STATE). After a shutdown it only
    // releases the hardware, which lets a run balance its books.
    NTSTATUS Stop();

    // Runtime idle while the system stays in S0, armed for wake or not, and back.
    NTSTATUS Idle(bool armedForWake);
    NTSTATUS Active();

    // System transitions. Each is refused with STATUS_INVALID_DEVICE_STATE, without a
    // request, in a state where the system cannot make it.
    NTSTATUS Sleep();
    NTSTATUS Hibernate();
    NTSTATUS FastStartup();
    NTSTATUS Shutdown();
    NTSTATUS Resume();
    // The owner's wake settings for system sleep (off at first). With wake from Sx enabled,
    // an idle device that is not armed is brought to D0 and sent down again with the sleep
    // action, to be armed for the system's wake. Waking from hibernation or shutdown is not
    // modelled: those transitions are unchanged.
    void EnableWakeFromSx(bool enabled) { wakeFromSx_ = enabled; }

    // The device's PnP life beyond an orderly stop (Machine::RebalanceDevice and
    // Machine::SurpriseRemove), refused while the system sleeps or is off.
    NTSTATUS Rebalance(const std::optional<ResourceLists>& lists = {});
    NTSTATUS SurpriseRemove();

    PolicyState State() const { return state_; }
    DeviceId Id() const { return id_; }

  private:
    NTSTATUS SystemTransition(POWER_ACTION action);
    NTSTATUS RequestDx(POWER_ACTION action, PolicyState next);
    NTSTATUS RequestD0(PolicyState next);
    void TornDown();

    Machine& machine_;
    DeviceId id_;
    PolicyState state_ = PolicyState::Stopped;
    bool wakeFromSx_ = false;
};

} // namespace kmdf
