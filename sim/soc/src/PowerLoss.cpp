// What the SoC keeps and what it loses while the system is off (hibernation, fast startup,
// shutdown). Sleep and runtime idle keep everything, so nothing here runs for them.
#include <soc/Soc.h>

namespace soc {

void Soc::PowerLoss() {
    std::lock_guard guard(lock_);
    // Lost: register state. Every register is back at its reset value (the blocks model none
    // but 0), PHY programming and status bits still pending included; each port is back at
    // its defaults and a port reset in progress is forgotten. A status bit that never clears
    // is a defect of the hardware, not state: it still reads set.
    for (auto& [physical, r] : registers_) {
        const std::uint32_t stuck = r.stickyReads < 0 ? r.stickyMask : 0;
        r.value = stuck;
        r.stickyMask = stuck;
        r.stickyReads = -1;
    }
    for (auto& [key, port] : ports_) {
        port.PowerLoss();
    }
    // Survives: the configuration of the world. Register behaviour (self-clearing,
    // write-1-to-clear and never-clearing bits), the hardware's reactions to writes (a PHY's
    // readiness after N status reads, its event handling), each port's attached device and reset
    // time, the firmware's memory and mappings that fail, the clock and the trace.
}

} // namespace soc
