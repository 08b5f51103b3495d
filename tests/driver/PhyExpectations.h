#pragma once
// Expected PHY sequences, typed from the hardware documentation's tables and step rows.
#include "Sequence.h"

#include <cstdint>
#include <vector>

namespace seq {

struct TableEntry {
    enum Marker { Write, Skip, End } marker = Write;
    std::uint32_t offset = 0;
    std::uint32_t value = 0;
};

// Table A with the offsets of SS PHY 0, Table B with those of SS PHY 2, markers included.
const std::vector<TableEntry>& TableA();
const std::vector<TableEntry>& TableB();

// The writes of a table up to its end marker, every offset moved by `shift`.
Sequence TableWrites(const std::vector<TableEntry>& table, std::uint32_t shift);

Sequence HsPhyReset(unsigned n);
// HS PHY n with `overrides` at the override step.
Sequence HsPhy(unsigned n, const Sequence& overrides = {});

Sequence SsPhyReset(unsigned n);
// The ready poll of SS PHY n: ready at read `readyAtRead` (1 to 4), or never (0).
Sequence SsPhyPoll(unsigned n, int readyAtRead);
// SS PHY n with `overrides` at the override step and the poll above.
Sequence SsPhy(unsigned n, int readyAtRead = 1, const Sequence& overrides = {});

} // namespace seq
