// Reading the event manifest: provider, templates, declared names and events.
#include "Manifest.h"

#include "XmlReader.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace timeline {

namespace {

using Names = std::map<std::string, std::uint64_t>;

const Names kStandardLevels = {{"win:LogAlways", 0}, {"win:Critical", 1},      {"win:Error", 2},
                               {"win:Warning", 3},   {"win:Informational", 4}, {"win:Verbose", 5}};
const Names kStandardOpcodes = {{"win:Info", 0},     {"win:Start", 1},    {"win:Stop", 2},
                                {"win:DC_Start", 3}, {"win:DC_Stop", 4},  {"win:Extension", 5},
                                {"win:Reply", 6},    {"win:Resume", 7},   {"win:Suspend", 8},
                                {"win:Send", 9},     {"win:Receive", 240}};
const Names kStandardTasks = {{"win:None", 0}};
const Names kStandardChannels = {{"win:System", 8}, {"win:Application", 9}, {"win:Security", 10}};

std::optional<std::uint64_t> Number(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = text.c_str() + (hex ? 2 : 0);
    char* end = nullptr;
    unsigned long long value = std::strtoull(digits, &end, hex ? 16 : 10);
    if (end == digits || *end != '\0' || *digits == '-' || *digits == '+') {
        return std::nullopt;
    }
    return value;
}

struct Declared {
    Names levels = kStandardLevels;
    Names opcodes = kStandardOpcodes;
    Names tasks = kStandardTasks;
    Names keywords;
    Names channels = kStandardChannels;
    std::map<std::string, std::vector<ManifestField>> templates;
    std::map<std::string, std::string> strings;
};

bool Fail(std::string* error, const std::string& what) {
    if (error != nullptr) {
        *error = what;
    }
    return false;
}

bool CollectNames(const XmlElement& provider, std::string_view element, const char* valueKey,
                  Names& names, std::string* error) {
    std::vector<const XmlElement*> found;
    provider.Collect(element, found);
    std::uint64_t next = 16; // channels without a value are numbered from 16 in order
    for (const XmlElement* e : found) {
        std::string name = e->Attribute("name");
        std::optional<std::uint64_t> value = Number(e->Attribute(valueKey));
        if (!value && element == "channel" && !e->Has(valueKey)) {
            value = next++;
        }
        if (name.empty() || !value) {
            return Fail(error, std::string(element) + " without a name or a " + valueKey);
        }
        names[name] = *value;
        if (e->Has("chid")) {
            names[e->Attribute("chid")] = *value;
        }
    }
    return true;
}

bool CollectTemplates(const XmlElement& provider, Declared& d, std::string* error) {
    std::vector<const XmlElement*> found;
    provider.Collect("template", found);
    for (const XmlElement* t : found) {
        std::vector<ManifestField> fields;
        for (const XmlElement* data : t->Children("data")) {
            fields.push_back({data->Attribute("name"), data->Attribute("inType")});
        }
        if (!d.templates.emplace(t->Attribute("tid"), std::move(fields)).second) {
            return Fail(error, "template " + t->Attribute("tid") + " declared twice");
        }
    }
    return true;
}

void CollectStrings(const XmlElement& root, Declared& d) {
    std::vector<const XmlElement*> found;
    root.Collect("string", found);
    for (const XmlElement* s : found) {
        d.strings.emplace(s->Attribute("id"), s->Attribute("value"));
    }
}

// A value given by number or by a declared name; an absent attribute is 0.
bool Resolve(const XmlElement& e, const char* key, const Names& names, std::uint64_t& out,
             std::string* error) {
    out = 0;
    if (!e.Has(key)) {
        return true;
    }
    std::string text = e.Attribute(key);
    auto named = names.find(text);
    if (named != names.end()) {
        out = named->second;
        return true;
    }
    std::optional<std::uint64_t> value = Number(text);
    if (!value) {
        return Fail(error, std::string(key) + " \"" + text + "\" is not declared");
    }
    out = *value;
    return true;
}

bool Keywords(const XmlElement& e, const Names& names, std::uint64_t& out, std::string* error) {
    out = 0;
    std::istringstream list(e.Attribute("keywords"));
    for (std::string name; list >> name;) {
        auto it = names.find(name);
        if (it == names.end()) {
            return Fail(error, "keyword \"" + name + "\" is not declared");
        }
        out |= it->second;
    }
    return true;
}

std::string Message(const std::string& reference, const Declared& d) {
    const std::string prefix = "$(string.";
    if (reference.compare(0, prefix.size(), prefix) != 0 || reference.back() != ')') {
        return reference;
    }
    std::string id = reference.substr(prefix.size(), reference.size() - prefix.size() - 1);
    auto it = d.strings.find(id);
    return it == d.strings.end() ? "" : it->second;
}

bool Event(const XmlElement& e, const Declared& d, ManifestEvent& out, std::string* error) {
    std::optional<std::uint64_t> id = Number(e.Attribute("value"));
    if (!id || *id > 0xFFFF) {
        return Fail(error, "event with a missing or bad value \"" + e.Attribute("value") + "\"");
    }
    out.id = static_cast<int>(*id);
    out.name = e.Attribute("symbol");
    std::string where = "event " + std::to_string(out.id) + ": ";
    std::uint64_t version = 0, channel = 0, level = 0, opcode = 0, task = 0;
    Names none;
    if (!Resolve(e, "version", none, version, error) ||
        !Resolve(e, "channel", d.channels, channel, error) ||
        !Resolve(e, "level", d.levels, level, error) ||
        !Resolve(e, "opcode", d.opcodes, opcode, error) ||
        !Resolve(e, "task", d.tasks, task, error) || !Keywords(e, d.keywords, out.keyword, error)) {
        if (error != nullptr) {
            *error = where + *error;
        }
        return false;
    }
    out.version = static_cast<int>(version);
    out.channel = static_cast<int>(channel);
    out.level = static_cast<int>(level);
    out.opcode = static_cast<int>(opcode);
    out.task = static_cast<int>(task);
    if (e.Has("template")) {
        auto t = d.templates.find(e.Attribute("template"));
        if (t == d.templates.end()) {
            return Fail(error,
                        where + "template \"" + e.Attribute("template") + "\" is not declared");
        }
        out.fields = t->second;
    }
    out.message = Message(e.Attribute("message"), d);
    return true;
}

} // namespace

const ManifestEvent* Manifest::Find(int id) const {
    auto it = events.find(id);
    return it == events.end() ? nullptr : &it->second;
}

std::map<int, std::string> Manifest::EventNames() const {
    std::map<int, std::string> names;
    for (const auto& [id, e] : events) {
        names[id] = e.name;
    }
    return names;
}

std::optional<Manifest> ParseManifest(std::string_view document, std::string* error) {
    std::string parseError;
    std::optional<XmlElement> root = ParseXml(document, &parseError);
    if (!root) {
        Fail(error, "not well-formed: " + parseError);
        return std::nullopt;
    }
    std::vector<const XmlElement*> providers;
    root->Collect("provider", providers);
    if (root->LocalName() != "instrumentationManifest" || providers.empty()) {
        Fail(error, "no provider in the manifest");
        return std::nullopt;
    }
    const XmlElement& provider = *providers.front();
    Declared d;
    if (!CollectNames(provider, "level", "value", d.levels, error) ||
        !CollectNames(provider, "opcode", "value", d.opcodes, error) ||
        !CollectNames(provider, "task", "value", d.tasks, error) ||
        !CollectNames(provider, "keyword", "mask", d.keywords, error) ||
        !CollectNames(provider, "channel", "value", d.channels, error) ||
        !CollectTemplates(provider, d, error)) {
        return std::nullopt;
    }
    CollectStrings(*root, d);
    Manifest m;
    m.providerName = provider.Attribute("name");
    m.providerGuid = provider.Attribute("guid");
    m.providerSymbol = provider.Attribute("symbol");
    std::vector<const XmlElement*> events;
    provider.Collect("event", events);
    for (const XmlElement* e : events) {
        ManifestEvent event;
        if (!Event(*e, d, event, error)) {
            return std::nullopt;
        }
        int id = event.id;
        if (!m.events.emplace(id, std::move(event)).second) {
            Fail(error, "event " + std::to_string(id) + " declared twice");
            return std::nullopt;
        }
    }
    return m;
}

std::optional<Manifest> LoadManifest(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Fail(error, "cannot open " + path);
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ParseManifest(text.str(), error);
}

} // namespace timeline
