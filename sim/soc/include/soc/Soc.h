#pragma once
// The simulated system-on-chip: its register blocks with their behaviour, the firmware's
// memory, the virtual clock and the access trace. It is the hardware under the KMDF stand-in.
#include <kmdf/Hardware.h>
#include <soc/Layout.h>
#include <soc/PortModel.h>
#include <soc/Trace.h>
#include <soc/VirtualClock.h>

#include <functional>
#include <map>
#include <mutex>
#include <ostream>
#include <set>
#include <vector>

namespace soc {

class Soc : public kmdf::Hardware {
  public:
    Soc();

    // Register state without a trace record and without behaviour.
    std::uint32_t Peek(BlockKind block, int instance, std::uint32_t offset);
    void Poke(BlockKind block, int instance, std::uint32_t offset, std::uint32_t value);

    // Behaviour. Bits of `mask` read as set for the next `reads` reads and clear from then on;
    // reads < 0: they never clear.
    void ClearBitsAfterReads(BlockKind block, int instance, std::uint32_t offset,
                             std::uint32_t mask, int reads);
    // Bits written as 1 take effect and read back as 0.
    void SelfClearing(BlockKind block, int instance, std::uint32_t offset, std::uint32_t mask);
    // Writing 1 clears the bit; writing 0 leaves it.
    void WriteOneToClear(BlockKind block, int instance, std::uint32_t offset, std::uint32_t mask);
    // PORTSC k (1..4) of a controller.
    PortModel& Port(int instance, int k);

    // Hardware that reacts to a write: the hook runs after the write took effect, inside the
    // access, and sees the registers through `view` (no trace records, no behaviour).
    class RegisterView {
      public:
        std::uint32_t Get(BlockKind block, int instance, std::uint32_t offset);
        void Set(BlockKind block, int instance, std::uint32_t offset, std::uint32_t value);
        void ClearBitsAfterReads(BlockKind block, int instance, std::uint32_t offset,
                                 std::uint32_t mask, int reads);
        std::uint64_t NowNs() const;

      private:
        friend class Soc;
        explicit RegisterView(Soc& soc) : soc_(soc) {}
        Soc& soc_;
    };
    using WriteHook = std::function<void(std::uint32_t written, RegisterView& view)>;
    void OnWrite(BlockKind block, int instance, std::uint32_t offset, WriteHook hook);

    // Super-speed PHY `phy` (0..3): after each write to its start register, its status
    // register reports busy (bit 6) for `busyReads` reads and ready from then on; busyReads
    // < 0: it never becomes ready. By default the PHY is ready at the first read.
    void SsPhyReadyAfter(int phy, int busyReads);

    // Ports, configured under the SoC's lock so that a test may change them while instances
    // run on other threads. k is 1..4; speeds and link states are the PORTSC field values
    // (soc::link). A port reset completes `ns` of virtual time after it was started, or never
    // for PortModel::kNever.
    void AttachPort(int instance, int k, std::uint32_t speed, std::uint32_t linkState);
    void DetachPort(int instance, int k);
    void SetPortLinkState(int instance, int k, std::uint32_t linkState);
    void SetPortResetTime(int instance, int k, std::uint64_t ns);
    // PORTSC k reads `value` from now on, with the port's behaviour on top (PortModel::SetValue).
    void SetPortValue(int instance, int k, std::uint32_t value);
    int PortResetsStarted(int instance, int k);

    // The event status of SS PHY `phy` (0..3): bit 2 reads busy for the next `busyReads`
    // reads (< 0: always), and the pending events `events` (bits 1:0) stay set until the
    // event clear register has been written 1 `clearWrites` times (< 0: never cleared).
    void SsPhyEventStatus(int phy, int busyReads, std::uint32_t events, int clearWrites);

    // Firmware memory (read through mappings as plain memory) and mappings that fail.
    void AddMemory(std::uint64_t physical, std::vector<std::uint8_t> bytes);
    void FailMappingAt(std::uint64_t physical);

    // A request that the driver sent to a device model outside the SoC (ACPI firmware, GPIO
    // controller, wake-line service): stamped with the time and actor, in order with the
    // register accesses. Fill op-specific fields of `r` (target, method, level, line, mode,
    // status); op, time, actor and thread are set here.
    void RecordRequest(TraceRecord r);

    // A PnP event of a device outside the SoC (Trace.h: target, event, service, vetoed), at
    // the latest time of any actor, as it concerns them all.
    void RecordPnp(TraceRecord r);

    // A system power event ("idle", "sleep", "hibernate", "power-off", ...) in the trace.
    void RecordSystem(const std::string& event);
    // The system is off (hibernation, fast startup, shutdown): every register returns to its
    // reset value and every port to its defaults. The world's configuration survives
    // (PowerLoss.cpp says which is which).
    void PowerLoss();
    // The hibernation file lies behind `instance`'s controller and the system goes to S4. A
    // register write or a GPIO request made for an instance once its D0 exit has begun, and
    // before its next D0 entry, powers down, suspends or resets something on its path: so does
    // the power-down of a runtime idle that the system went to S4 in.
    void WatchHibernationPath(int instance);
    // After the D0 exits: the image goes through the watched controller, written only when
    // nothing on its path changed since its last D0 exit began, if it is out of D0. Records
    // {"op":"system","event":"hibernation-image","device":NAME,"written":...} and ends the
    // watch; false, without a record, when nothing was watched.
    bool WriteHibernationImage(bool* written);

    // The actors' clocks; records carry the time of the actor that made them.
    VirtualClock& Clock() { return clock_; }
    std::vector<TraceRecord> Records() const;
    void ClearTrace();
    // Long runs (soaks) keep only the last `records` records; 0 (default) keeps all.
    void LimitTrace(std::size_t records);
    // Streamed runs hand each record to `sink` once it is complete and keep none of them: only
    // the last record waits, as a busy-wait may still grow. FlushTrace hands it over too.
    // nullptr keeps the records again.
    void StreamTrace(TraceSink* sink);
    void FlushTrace();
    void PrintText(std::ostream& out) const;
    void PrintJson(std::ostream& out) const;
    std::uint64_t Writes(BlockKind block, int instance, std::uint32_t offset) const;

    // kmdf::Hardware
    kmdf::IoSpaceKind Classify(std::uint64_t physical, std::size_t length) override;
    void* MemoryAt(std::uint64_t physical, std::size_t length) override;
    std::uint32_t Read32(std::uint64_t physical) override;
    void Write32(std::uint64_t physical, std::uint32_t value) override;
    void Barrier() override;
    std::int64_t QueryPerformanceCounter() override;
    std::int64_t PerformanceFrequency() override;
    void Sleep(std::int64_t interval100ns) override;
    void SetActor(int instance) override;
    void OnDiagnostic(const kmdf::DiagnosticRecord& d) override;
    void OnEvent(const kmdf::EventRecord& e) override;
    void OnCallback(const kmdf::CallbackTrace& c) override;

  private:
    struct Register {
        std::uint32_t value = 0;
        std::uint32_t selfClearing = 0;
        std::uint32_t writeOneToClear = 0;
        std::uint32_t stickyMask = 0;
        int stickyReads = -1;
    };
    struct Memory {
        std::uint64_t physical;
        std::vector<std::uint8_t> bytes;
    };

    Register& At(const Location& at);
    std::uint32_t ReadLocked(const Location& at);
    void WriteLocked(const Location& at, std::uint32_t value);
    void Append(TraceRecord r);
    TraceRecord Stamped(Op op) const; // a record of the calling thread's actor, now
    Location Checked(std::uint64_t physical, const char* what) const;

    mutable std::mutex lock_;
    VirtualClock clock_;
    std::map<std::uint64_t, Register> registers_;
    std::map<std::uint64_t, WriteHook> writeHooks_;
    std::map<std::pair<int, int>, PortModel> ports_;
    std::vector<Memory> memory_;
    std::set<std::uint64_t> failingMappings_;
    std::vector<TraceRecord> trace_;
    std::size_t traceLimit_ = 0;
    TraceSink* sink_ = nullptr;
    int hibernationPath_ = -1; // instance watched, -1 for none
    // Per instance: out of D0 since its last D0 exit began, and whether a register write or a
    // GPIO request was made for it since.
    struct PathState {
        bool outOfD0 = false;
        bool touched = false;
    };
    std::map<int, PathState> paths_;
};

} // namespace soc
