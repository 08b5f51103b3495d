#pragma once
// The driver's event manifest read back: its provider and, per event id, what the manifest
// declares. Names are resolved the way the manifest compiler resolves them: the standard
// win: levels and opcodes, or levels, opcodes, tasks, keywords and channels the provider
// declares itself. An attribute that is left out means 0 (channel, task, keyword, opcode,
// level, version) and a missing template means no payload.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace timeline {

struct ManifestField {
    std::string name;
    std::string inType; // e.g. "win:UInt32"
};

struct ManifestEvent {
    int id = 0;
    std::string name; // the event's symbol
    int version = 0;
    int channel = 0;
    int level = 0;
    int opcode = 0;
    int task = 0;
    std::uint64_t keyword = 0; // the keyword masks together
    std::vector<ManifestField> fields;
    std::string message; // the localised text, "" when the manifest has none

    std::size_t PayloadFieldCount() const { return fields.size(); }
};

struct Manifest {
    std::string providerName;
    std::string providerGuid; // as written, with braces
    std::string providerSymbol;
    std::map<int, ManifestEvent> events; // by id

    const ManifestEvent* Find(int id) const;
    // id -> name, e.g. for TimelineOptions::eventNames.
    std::map<int, std::string> EventNames() const;
};

// Fails with a message when the document is not well formed, has no provider, or an event
// has a missing or bad id, a name that resolves to nothing, an unknown template, or an id
// declared twice.
std::optional<Manifest> ParseManifest(std::string_view document, std::string* error);
std::optional<Manifest> LoadManifest(const std::string& path, std::string* error);

} // namespace timeline
