// Text and JSON-lines forms of trace records.
#include <soc/Trace.h>

#include <cstdio>
#include <sstream>

namespace soc {

const char* OpName(Op op) {
    switch (op) {
    case Op::Read:
        return "read";
    case Op::Write:
        return "write";
    case Op::Delay:
        return "delay";
    case Op::Trace:
        return "trace";
    case Op::Event:
        return "event";
    case Op::Request:
        return "request";
    case Op::System:
        return "system";
    case Op::Callback:
        return "callback";
    case Op::Pnp:
        return "pnp";
    }
    return "?";
}

namespace {

const char* LevelName(int level) {
    static const char* const names[] = {"none", "critical", "error", "warning", "info", "verbose"};
    return level >= 0 && level <= 5 ? names[level] : "level?";
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Actor(int actor) {
    return actor < 0 ? "-" : InstanceName(actor);
}

} // namespace

std::string FormatText(const TraceRecord& r) {
    char head[64];
    std::snprintf(head, sizeof head, "%12llu ns %-9s ", static_cast<unsigned long long>(r.tNs),
                  Actor(r.actor).c_str());
    std::ostringstream out;
    out << head;
    char body[200];
    switch (r.op) {
    case Op::Read:
    case Op::Write: {
        std::string where = std::string(BlockName(r.block));
        if (r.block == BlockKind::Controller) {
            where += std::string("[") + InstanceName(r.instance) + "]";
        }
        std::snprintf(body, sizeof body, "%s %-5s %-22s +0x%05X %-22s 0x%08X",
                      r.barrier ? "dsb" : "   ", OpName(r.op), where.c_str(), r.offset,
                      RegisterName(r.block, r.offset).c_str(), r.value);
        out << body;
        break;
    }
    case Op::Delay:
        if (r.delay == DelayKind::Sleep) {
            std::snprintf(body, sizeof body, "    sleep %llu ns (interval %lld)",
                          static_cast<unsigned long long>(r.lengthNs),
                          static_cast<long long>(r.interval));
        } else {
            std::snprintf(body, sizeof body, "    busy-wait %llu ns (%llu counter reads)",
                          static_cast<unsigned long long>(r.lengthNs),
                          static_cast<unsigned long long>(r.counterReads));
        }
        out << body;
        break;
    case Op::Trace:
        out << "    " << LevelName(r.level) << " " << r.flag << " " << r.function << ": "
            << r.message;
        break;
    case Op::Event:
        out << "    event " << r.eventId << " opcode " << r.opcode;
        for (std::uint32_t v : r.payload) {
            out << " " << v;
        }
        break;
    case Op::Request: {
        out << "    request " << r.target;
        if (!r.method.empty()) {
            out << " " << r.method;
        }
        if (r.target == "gpio") {
            out << " level " << r.level;
        }
        if (r.line >= 0) {
            std::snprintf(body, sizeof body, " line 0x%llX", static_cast<long long>(r.line));
            out << body;
        }
        if (r.mode >= 0) {
            out << " mode " << r.mode;
        }
        if (r.service > 0) {
            out << " service " << r.service;
        }
        std::snprintf(body, sizeof body, " -> 0x%08X", static_cast<unsigned>(r.status));
        out << body;
        break;
    }
    case Op::System:
        out << "==== system " << r.event;
        if (!r.device.empty()) {
            out << " " << r.device << (r.written ? " written" : " not written");
        }
        break;
    case Op::Pnp:
        out << "==== pnp " << r.target << " " << r.event << " service " << r.service;
        if (r.event == "query-remove") {
            out << (r.vetoed ? " vetoed" : " passed");
        }
        break;
    case Op::Callback:
        out << "    callback " << r.function << (r.returned ? " return" : " enter") << " action "
            << r.action;
        if (r.state >= 0) {
            out << " state " << r.state;
        }
        if (r.returned) {
            std::snprintf(body, sizeof body, " -> 0x%08X", static_cast<unsigned>(r.status));
            out << body;
        }
        break;
    }
    return out.str();
}

std::string FormatJson(const TraceRecord& r) {
    std::ostringstream out;
    out << "{\"t_ns\":" << r.tNs << ",\"op\":\"" << OpName(r.op) << "\"";
    bool access = r.op == Op::Read || r.op == Op::Write;
    // The controller block belongs to one instance; the shared blocks are shown with the
    // instance whose callback made the access.
    int instance = access && r.block == BlockKind::Controller ? r.instance : r.actor;
    out << ",\"block\":" << (access ? JsonString(BlockName(r.block)) : "null");
    out << ",\"instance\":" << (instance < 0 ? "null" : std::to_string(instance));
    if (access) {
        out << ",\"offset\":" << r.offset << ",\"value\":" << r.value
            << ",\"barrier\":" << (r.barrier ? "true" : "false")
            << ",\"name\":" << JsonString(RegisterName(r.block, r.offset));
    } else {
        out << ",\"offset\":null,\"value\":null";
    }
    out << ",\"actor\":" << r.actor;
    if (r.op == Op::Delay) {
        out << ",\"kind\":\"" << (r.delay == DelayKind::Sleep ? "sleep" : "busy-wait")
            << "\",\"length_ns\":" << r.lengthNs;
        if (r.delay == DelayKind::Sleep) {
            out << ",\"interval\":" << r.interval;
        } else {
            out << ",\"counter_reads\":" << r.counterReads;
        }
    } else if (r.op == Op::Trace) {
        out << ",\"level\":" << r.level << ",\"flag\":" << JsonString(r.flag)
            << ",\"function\":" << JsonString(r.function)
            << ",\"message\":" << JsonString(r.message);
    } else if (r.op == Op::Event) {
        out << ",\"id\":" << r.eventId << ",\"opcode\":" << r.opcode << ",\"level\":" << r.level
            << ",\"payload\":[";
        for (std::size_t i = 0; i < r.payload.size(); ++i) {
            out << (i ? "," : "") << r.payload[i];
        }
        out << "]";
    } else if (r.op == Op::Request) {
        out << ",\"target\":" << JsonString(r.target);
        if (!r.method.empty()) {
            out << ",\"method\":" << JsonString(r.method);
        }
        if (r.target == "gpio") {
            out << ",\"level\":" << r.level;
        }
        if (r.line >= 0) {
            out << ",\"line\":" << r.line;
        }
        if (r.mode >= 0) {
            out << ",\"mode\":" << r.mode;
        }
        if (r.service > 0) {
            out << ",\"service\":" << r.service;
        }
        out << ",\"status\":" << r.status;
    } else if (r.op == Op::System) {
        out << ",\"event\":" << JsonString(r.event);
        if (!r.device.empty()) {
            out << ",\"device\":" << JsonString(r.device)
                << ",\"written\":" << (r.written ? "true" : "false");
        }
    } else if (r.op == Op::Pnp) {
        out << ",\"target\":" << JsonString(r.target) << ",\"event\":" << JsonString(r.event)
            << ",\"service\":" << r.service;
        if (r.event == "query-remove") {
            out << ",\"vetoed\":" << (r.vetoed ? "true" : "false");
        }
    } else if (r.op == Op::Callback) {
        out << ",\"name\":" << JsonString(r.function) << ",\"phase\":\""
            << (r.returned ? "return" : "enter") << "\",\"action\":" << r.action
            << ",\"state\":" << (r.state < 0 ? "null" : std::to_string(r.state));
        if (r.returned) {
            out << ",\"status\":" << static_cast<std::uint32_t>(r.status);
        }
    }
    out << "}";
    return out.str();
}

} // namespace soc
