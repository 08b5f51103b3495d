#include "version/VersionText.h"

#include <algorithm>
#include <cstring>

#include "log/Log.h"

namespace {

// Longest text a version buffer of 64 bytes takes. Replies are never longer; the cap keeps
// the copy inside the caller's buffer even if one were.
constexpr size_t MaxVersionText = 63;

bool ReplyMatches(const std::string& reply, const std::string& head, const char* tag,
                  const char* variant) {
    if (head.find(tag) == std::string::npos) {
        return false;
    }
    if (variant[0] == '\0') {
        return reply.find('(') == std::string::npos;
    }
    return reply.find(variant) != std::string::npos;
}

} // namespace

void ExtractVersionText(const std::string& reply, const char* tag, const char* variant, char* out,
                        int available) {
    if (available <= 0) {
        LogError("pkgVersion no enough buffer!");
        return;
    }
    const size_t space = reply.find(' ');
    if (space == std::string::npos) {
        LogError("Version Formate Incorrect!");
        return;
    }
    const std::string head = reply.substr(0, space);
    const size_t paren = reply.find('(');
    const size_t end = paren == std::string::npos ? reply.size() : paren;

    size_t count = 0;
    if (ReplyMatches(reply, head, tag, variant) && end > space + 1) {
        count = std::min(end - (space + 1), MaxVersionText);
        std::memcpy(out, reply.data() + space + 1, count);
    }
    out[count] = '\0';
}
