// Comparison of expected register sequences with the SoC's trace.
#include "Sequence.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace seq {

namespace {

std::string Hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

std::string Where(soc::BlockKind block, std::uint32_t offset) {
    std::string name = soc::RegisterName(block, offset);
    return std::string(soc::BlockName(block)) + " " + Hex(offset) +
           (name.empty() ? "" : " (" + name + ")");
}

bool IsAccess(const soc::TraceRecord& r, soc::Op op, const Step& s, int controllerInstance) {
    return r.op == op && r.block == s.block && r.offset == s.offset &&
           (s.block != soc::BlockKind::Controller || r.instance == controllerInstance);
}

// How many trace records step `s` takes at `at`, or 0 with `why` filled when it does not match.
std::size_t MatchStep(const std::vector<soc::TraceRecord>& t, std::size_t at, const Step& s,
                      int controllerInstance, std::string& why) {
    auto missing = [&](std::size_t i) {
        if (i >= t.size()) {
            why = "the trace ended";
            return true;
        }
        return false;
    };
    switch (s.kind) {
    case Kind::Read:
        if (missing(at)) {
            return 0;
        }
        if (!IsAccess(t[at], soc::Op::Read, s, controllerInstance)) {
            why = "another access";
            return 0;
        }
        if (s.readValue && t[at].value != *s.readValue) {
            why = "read " + Hex(t[at].value);
            return 0;
        }
        return 1;
    case Kind::Write:
        if (missing(at)) {
            return 0;
        }
        if (!IsAccess(t[at], soc::Op::Write, s, controllerInstance)) {
            why = "another access";
            return 0;
        }
        if (t[at].value != s.value) {
            why = "wrote " + Hex(t[at].value);
            return 0;
        }
        return 1;
    case Kind::Modify: {
        if (missing(at) || missing(at + 1)) {
            return 0;
        }
        if (!IsAccess(t[at], soc::Op::Read, s, controllerInstance) ||
            !IsAccess(t[at + 1], soc::Op::Write, s, controllerInstance)) {
            why = "not a read and a write of that register";
            return 0;
        }
        std::uint32_t want = s.value | (t[at].value & ~s.mask);
        if (t[at + 1].value != want) {
            why = "read " + Hex(t[at].value) + ", wrote " + Hex(t[at + 1].value) + " instead of " +
                  Hex(want);
            return 0;
        }
        return 2;
    }
    case Kind::Sleep:
        if (missing(at)) {
            return 0;
        }
        if (t[at].op != soc::Op::Delay || t[at].delay != soc::DelayKind::Sleep ||
            t[at].interval != s.interval) {
            why = "another record";
            return 0;
        }
        return 1;
    case Kind::Stall:
        if (missing(at)) {
            return 0;
        }
        if (t[at].op != soc::Op::Delay || t[at].delay != soc::DelayKind::BusyWait) {
            why = "another record";
            return 0;
        }
        if (t[at].lengthNs < s.stallNs || t[at].lengthNs >= s.stallNs + 1000) {
            why = "busy-waited " + std::to_string(t[at].lengthNs) + " ns";
            return 0;
        }
        return 1;
    }
    return 0;
}

} // namespace

std::string Step::Describe() const {
    switch (kind) {
    case Kind::Read:
        return "read " + Where(block, offset) + (readValue ? " seeing " + Hex(*readValue) : "");
    case Kind::Write:
        return "write " + Where(block, offset) + " := " + Hex(value);
    case Kind::Modify:
        return "modify " + Where(block, offset) + " value " + Hex(value) + " mask " + Hex(mask);
    case Kind::Sleep:
        return "sleep " + std::to_string(interval);
    case Kind::Stall:
        return "busy-wait " + std::to_string(stallNs) + " ns";
    }
    return "?";
}

Step Read(soc::BlockKind block, std::uint32_t offset) {
    Step s;
    s.kind = Kind::Read;
    s.block = block;
    s.offset = offset;
    return s;
}

Step ReadSees(soc::BlockKind block, std::uint32_t offset, std::uint32_t value) {
    Step s = Read(block, offset);
    s.readValue = value;
    return s;
}

Step Write(soc::BlockKind block, std::uint32_t offset, std::uint32_t value) {
    Step s;
    s.kind = Kind::Write;
    s.block = block;
    s.offset = offset;
    s.value = value;
    return s;
}

Step Field(soc::BlockKind block, std::uint32_t offset, std::uint32_t value, std::uint32_t mask) {
    Step s;
    s.kind = Kind::Modify;
    s.block = block;
    s.offset = offset;
    s.value = value;
    s.mask = mask;
    return s;
}

Step Set(soc::BlockKind block, std::uint32_t offset, std::uint32_t bits) {
    return Field(block, offset, bits, bits);
}

Step Clear(soc::BlockKind block, std::uint32_t offset, std::uint32_t bits) {
    return Field(block, offset, 0, bits);
}

Step SleepUs(std::int64_t us) {
    Step s;
    s.kind = Kind::Sleep;
    s.interval = -10 * us;
    return s;
}

Step SleepMs(std::int64_t ms) {
    Step s;
    s.kind = Kind::Sleep;
    s.interval = -10000 * ms;
    return s;
}

Step StallUs(std::uint64_t us) {
    Step s;
    s.kind = Kind::Stall;
    s.stallNs = us * 1000;
    return s;
}

Sequence& operator+=(Sequence& a, const Sequence& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<soc::TraceRecord> Hardware(const std::vector<soc::TraceRecord>& trace) {
    std::vector<soc::TraceRecord> out;
    std::copy_if(trace.begin(), trace.end(), std::back_inserter(out), [](const auto& r) {
        return r.op == soc::Op::Read || r.op == soc::Op::Write || r.op == soc::Op::Delay;
    });
    return out;
}

::testing::AssertionResult Matches(const std::vector<soc::TraceRecord>& trace,
                                   const Sequence& expected, int controllerInstance) {
    std::vector<soc::TraceRecord> t = Hardware(trace);
    std::size_t at = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        std::string why;
        std::size_t used = MatchStep(t, at, expected[i], controllerInstance, why);
        if (used == 0) {
            std::ostringstream out;
            out << "step " << i << " of " << expected.size() << ", " << expected[i].Describe()
                << ": " << why << " at trace record " << at << " of " << t.size() << "\n";
            out << "expected next:\n";
            for (std::size_t k = i; k < std::min(expected.size(), i + 4); ++k) {
                out << "    " << expected[k].Describe() << "\n";
            }
            out << "trace around it:\n";
            for (std::size_t k = at >= 4 ? at - 4 : 0; k < std::min(t.size(), at + 5); ++k) {
                out << (k == at ? " >> " : "    ") << soc::FormatText(t[k]) << "\n";
            }
            return ::testing::AssertionFailure() << out.str();
        }
        at += used;
    }
    if (at != t.size()) {
        std::ostringstream out;
        out << "the trace goes on after the " << expected.size() << " expected steps, "
            << t.size() - at << " more records:\n";
        for (std::size_t k = at; k < std::min(t.size(), at + 6); ++k) {
            out << "    " << soc::FormatText(t[k]) << "\n";
        }
        return ::testing::AssertionFailure() << out.str();
    }
    return ::testing::AssertionSuccess();
}

} // namespace seq
