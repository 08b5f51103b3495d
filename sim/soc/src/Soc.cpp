// The simulated SoC: register behaviour, firmware memory, clock and trace.
#include <soc/Soc.h>

#include <kmdf/History.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace soc {

namespace {

thread_local bool t_barrierPending = false;
std::atomic<std::uint64_t> g_nextThread{1};
thread_local std::uint64_t t_thread = 0;

std::uint64_t ThreadTag() {
    if (t_thread == 0) {
        t_thread = g_nextThread++;
    }
    return t_thread;
}

[[noreturn]] void Fault(const char* what, std::uint64_t physical) {
    std::fprintf(stderr, "soc: %s at physical 0x%llX\n", what,
                 static_cast<unsigned long long>(physical));
    std::fflush(stderr);
    std::abort();
}

// PORTSC k lives at 0x420 + 0x10 * (k - 1) of a controller block.
int PortIndex(const Location& at) {
    if (at.block != BlockKind::Controller || at.offset < 0x420 || at.offset > 0x450 ||
        (at.offset - 0x420) % 0x10 != 0) {
        return 0;
    }
    return static_cast<int>((at.offset - 0x420) / 0x10) + 1;
}

} // namespace

Soc::Soc() {
    // Every port starts powered, nothing attached, looking for a device.
    for (int i = 0; i < 3; ++i) {
        for (int k = 1; k <= 4; ++k) {
            ports_[{i, k}];
        }
    }
}

Location Soc::Checked(std::uint64_t physical, const char* what) const {
    if ((physical & 3) != 0) {
        Fault((std::string("misaligned 32-bit ") + what).c_str(), physical);
    }
    auto at = Locate(physical);
    if (!at) {
        Fault((std::string(what) + " of an address outside every register block").c_str(),
              physical);
    }
    return *at;
}

Soc::Register& Soc::At(const Location& at) {
    return registers_[PhysicalOf(at.block, at.instance, at.offset)];
}

std::uint32_t Soc::Peek(BlockKind block, int instance, std::uint32_t offset) {
    std::lock_guard guard(lock_);
    Location at{block, instance, offset};
    if (int k = PortIndex(at)) {
        return ports_[{instance, k}].Peek(clock_.NowNs());
    }
    return At(at).value;
}

void Soc::Poke(BlockKind block, int instance, std::uint32_t offset, std::uint32_t value) {
    std::lock_guard guard(lock_);
    At({block, instance, offset}).value = value;
}

void Soc::ClearBitsAfterReads(BlockKind block, int instance, std::uint32_t offset,
                              std::uint32_t mask, int reads) {
    std::lock_guard guard(lock_);
    Register& r = At({block, instance, offset});
    r.value |= mask;
    r.stickyMask = mask;
    r.stickyReads = reads;
}

void Soc::SelfClearing(BlockKind block, int instance, std::uint32_t offset, std::uint32_t mask) {
    std::lock_guard guard(lock_);
    At({block, instance, offset}).selfClearing = mask;
}

void Soc::WriteOneToClear(BlockKind block, int instance, std::uint32_t offset, std::uint32_t mask) {
    std::lock_guard guard(lock_);
    At({block, instance, offset}).writeOneToClear = mask;
}

PortModel& Soc::Port(int instance, int k) {
    std::lock_guard guard(lock_);
    return ports_[{instance, k}];
}

void Soc::OnWrite(BlockKind block, int instance, std::uint32_t offset, WriteHook hook) {
    std::lock_guard guard(lock_);
    writeHooks_[PhysicalOf(block, instance, offset)] = std::move(hook);
}

std::uint32_t Soc::RegisterView::Get(BlockKind block, int instance, std::uint32_t offset) {
    return soc_.At({block, instance, offset}).value;
}

void Soc::RegisterView::Set(BlockKind block, int instance, std::uint32_t offset,
                            std::uint32_t value) {
    soc_.At({block, instance, offset}).value = value;
}

void Soc::RegisterView::ClearBitsAfterReads(BlockKind block, int instance, std::uint32_t offset,
                                            std::uint32_t mask, int reads) {
    Register& r = soc_.At({block, instance, offset});
    r.value |= mask;
    r.stickyMask = mask;
    r.stickyReads = reads;
}

std::uint64_t Soc::RegisterView::NowNs() const {
    return soc_.clock_.NowNs();
}

void Soc::AddMemory(std::uint64_t physical, std::vector<std::uint8_t> bytes) {
    std::lock_guard guard(lock_);
    memory_.push_back({physical, std::move(bytes)});
}

void Soc::FailMappingAt(std::uint64_t physical) {
    std::lock_guard guard(lock_);
    failingMappings_.insert(physical);
}

std::uint32_t Soc::ReadLocked(const Location& at) {
    if (int k = PortIndex(at)) {
        return ports_[{at.instance, k}].Read(clock_.NowNs());
    }
    Register& r = At(at);
    if (r.stickyMask != 0 && r.stickyReads == 0) {
        r.value &= ~r.stickyMask;
        r.stickyMask = 0;
    }
    std::uint32_t value = r.value;
    if (r.stickyMask != 0 && r.stickyReads > 0) {
        --r.stickyReads;
    }
    return value;
}

void Soc::WriteLocked(const Location& at, std::uint32_t value) {
    if (int k = PortIndex(at)) {
        ports_[{at.instance, k}].Write(value, clock_.NowNs());
        return;
    }
    Register& r = At(at);
    std::uint32_t next = (value & ~r.writeOneToClear) | (r.value & r.writeOneToClear & ~value);
    next &= ~r.selfClearing;
    next = (next & ~r.stickyMask) | (r.value & r.stickyMask);
    r.value = next;
    auto hook = writeHooks_.find(PhysicalOf(at.block, at.instance, at.offset));
    if (hook != writeHooks_.end()) {
        RegisterView view(*this);
        hook->second(value, view);
    }
}

void Soc::Append(TraceRecord r) {
    r.actor = VirtualClock::Actor();
    r.thread = ThreadTag();
    if (r.op == Op::Callback && !r.returned &&
        (r.function == "EvtDeviceD0Exit" || r.function == "EvtDeviceD0Entry")) {
        paths_[r.actor] = {r.function == "EvtDeviceD0Exit", false};
    }
    if (r.op == Op::Write || (r.op == Op::Request && r.target == "gpio")) {
        auto path = paths_.find(r.actor);
        if (path != paths_.end() && path->second.outOfD0) {
            path->second.touched = true;
        }
    }
    if (sink_ != nullptr && !trace_.empty()) {
        sink_->Take(trace_.back());
        trace_.clear();
    }
    kmdf::AppendBounded(trace_, std::move(r), traceLimit_);
}

void Soc::LimitTrace(std::size_t records) {
    std::lock_guard guard(lock_);
    traceLimit_ = records;
}

void Soc::StreamTrace(TraceSink* sink) {
    std::lock_guard guard(lock_);
    sink_ = sink;
}

void Soc::FlushTrace() {
    std::lock_guard guard(lock_);
    if (sink_ != nullptr) {
        for (const TraceRecord& r : trace_) {
            sink_->Take(r);
        }
        trace_.clear();
    }
}

std::uint32_t Soc::Read32(std::uint64_t physical) {
    std::lock_guard guard(lock_);
    Location at = Checked(physical, "read");
    TraceRecord r;
    r.tNs = clock_.NowNs();
    r.op = Op::Read;
    r.block = at.block;
    r.instance = at.instance;
    r.offset = at.offset;
    r.value = ReadLocked(at);
    r.barrier = t_barrierPending;
    t_barrierPending = false;
    Append(r);
    return r.value;
}

void Soc::Write32(std::uint64_t physical, std::uint32_t value) {
    std::lock_guard guard(lock_);
    Location at = Checked(physical, "write");
    TraceRecord r;
    r.tNs = clock_.NowNs();
    r.op = Op::Write;
    r.block = at.block;
    r.instance = at.instance;
    r.offset = at.offset;
    r.value = value;
    r.barrier = t_barrierPending;
    t_barrierPending = false;
    WriteLocked(at, value);
    Append(r);
}

void Soc::Barrier() {
    t_barrierPending = true;
}

kmdf::IoSpaceKind Soc::Classify(std::uint64_t physical, std::size_t length) {
    std::lock_guard guard(lock_);
    if (failingMappings_.count(physical) != 0) {
        return kmdf::IoSpaceKind::None;
    }
    for (const Memory& m : memory_) {
        if (physical >= m.physical && physical + length <= m.physical + m.bytes.size()) {
            return kmdf::IoSpaceKind::Memory;
        }
    }
    return RangeInOneBlock(physical, length) ? kmdf::IoSpaceKind::Registers
                                             : kmdf::IoSpaceKind::None;
}

void* Soc::MemoryAt(std::uint64_t physical, std::size_t length) {
    std::lock_guard guard(lock_);
    for (Memory& m : memory_) {
        if (physical >= m.physical && physical + length <= m.physical + m.bytes.size()) {
            return m.bytes.data() + (physical - m.physical);
        }
    }
    return nullptr;
}

// Consecutive counter reads of one thread are one busy-wait in the trace. A record of another
// thread in between starts a new one; the lengths still add up to the thread's own wait.
std::int64_t Soc::QueryPerformanceCounter() {
    std::lock_guard guard(lock_);
    std::uint64_t before = clock_.NowNs();
    std::int64_t value = clock_.ReadCounter();
    std::uint64_t tid = ThreadTag();
    if (!trace_.empty()) {
        TraceRecord& last = trace_.back();
        if (last.op == Op::Delay && last.delay == DelayKind::BusyWait && last.thread == tid) {
            last.lengthNs = clock_.NowNs() - last.tNs;
            ++last.counterReads;
            return value;
        }
    }
    TraceRecord r;
    r.tNs = before;
    r.op = Op::Delay;
    r.delay = DelayKind::BusyWait;
    r.lengthNs = clock_.NowNs() - before;
    r.counterReads = 1;
    Append(r);
    return value;
}

std::int64_t Soc::PerformanceFrequency() {
    std::lock_guard guard(lock_);
    return clock_.Frequency();
}

void Soc::Sleep(std::int64_t interval100ns) {
    std::lock_guard guard(lock_);
    // A relative interval is due that long from now, an absolute one at that time of the
    // actor's clock; the clock's tick model says when the sleep ends. An absolute time that
    // has passed ends the sleep at once.
    std::uint64_t now = clock_.NowNs();
    std::uint64_t ns = 0;
    if (interval100ns < 0) {
        ns = clock_.SleepEnd(now + static_cast<std::uint64_t>(-interval100ns) * 100) - now;
    } else if (static_cast<std::uint64_t>(interval100ns) * 100 > now) {
        ns = clock_.SleepEnd(static_cast<std::uint64_t>(interval100ns) * 100) - now;
    }
    TraceRecord r;
    r.tNs = now;
    r.op = Op::Delay;
    r.delay = DelayKind::Sleep;
    r.interval = interval100ns;
    r.lengthNs = ns;
    Append(r);
    clock_.Advance(ns);
}

void Soc::SetActor(int instance) {
    VirtualClock::SetActor(instance);
}

TraceRecord Soc::Stamped(Op op) const {
    TraceRecord r;
    r.tNs = clock_.NowNs();
    r.op = op;
    return r;
}

void Soc::OnDiagnostic(const kmdf::DiagnosticRecord& d) {
    std::lock_guard guard(lock_);
    TraceRecord r = Stamped(Op::Trace);
    r.level = d.level;
    r.flag = d.flagName;
    r.function = d.function;
    r.message = d.message;
    Append(r);
}

void Soc::OnEvent(const kmdf::EventRecord& e) {
    std::lock_guard guard(lock_);
    TraceRecord r = Stamped(Op::Event);
    r.eventId = e.id;
    r.opcode = e.opcode;
    r.level = e.level;
    for (auto& item : e.data) {
        for (std::size_t i = 0; i + 4 <= item.size(); i += 4) {
            std::uint32_t v;
            std::memcpy(&v, item.data() + i, 4);
            r.payload.push_back(v);
        }
    }
    Append(r);
}

void Soc::OnCallback(const kmdf::CallbackTrace& c) {
    std::lock_guard guard(lock_);
    TraceRecord r = Stamped(Op::Callback);
    r.function = c.name;
    r.returned = c.returned;
    r.action = c.action;
    r.state = c.state;
    r.status = c.status;
    Append(r);
}

void Soc::RecordSystem(const std::string& event) {
    std::lock_guard guard(lock_);
    TraceRecord r;
    r.tNs = clock_.LatestNs(); // the system's event reaches every instance
    r.op = Op::System;
    r.event = event;
    Append(r);
}

void Soc::WatchHibernationPath(int instance) {
    std::lock_guard guard(lock_);
    hibernationPath_ = instance;
}

bool Soc::WriteHibernationImage(bool* written) {
    std::lock_guard guard(lock_);
    if (hibernationPath_ < 0) {
        return false;
    }
    TraceRecord r;
    r.tNs = clock_.LatestNs();
    r.op = Op::System;
    r.event = "hibernation-image";
    r.device = InstanceName(hibernationPath_);
    const PathState path = paths_[hibernationPath_];
    r.written = !(path.outOfD0 && path.touched);
    *written = r.written;
    hibernationPath_ = -1;
    Append(r);
    return true;
}

void Soc::RecordRequest(TraceRecord r) {
    std::lock_guard guard(lock_);
    r.tNs = clock_.NowNs();
    r.op = Op::Request;
    Append(std::move(r));
}

void Soc::RecordPnp(TraceRecord r) {
    std::lock_guard guard(lock_);
    r.tNs = clock_.LatestNs();
    r.op = Op::Pnp;
    Append(std::move(r));
}

std::vector<TraceRecord> Soc::Records() const {
    std::lock_guard guard(lock_);
    return trace_;
}

void Soc::ClearTrace() {
    std::lock_guard guard(lock_);
    trace_.clear();
}

void Soc::PrintText(std::ostream& out) const {
    for (const TraceRecord& r : Records()) {
        out << FormatText(r) << "\n";
    }
}

void Soc::PrintJson(std::ostream& out) const {
    for (const TraceRecord& r : Records()) {
        out << FormatJson(r) << "\n";
    }
}

std::uint64_t Soc::Writes(BlockKind block, int instance, std::uint32_t offset) const {
    std::uint64_t n = 0;
    for (const TraceRecord& r : Records()) {
        n += r.op == Op::Write && r.block == block && r.instance == instance && r.offset == offset;
    }
    return n;
}

} // namespace soc
