#include "Check.h"

#include <cstdio>

namespace {

int checks = 0;
int failures = 0;
const char* currentCase = "";

} // namespace

bool Check(bool ok, const char* what, const char* file, int line) {
    ++checks;
    if (!ok) {
        ++failures;
        std::printf("FAILED [%s] %s:%d: %s\n", currentCase, file, line, what);
    }
    return ok;
}

bool CheckContains(const std::string& text, const std::string& part, const char* file, int line) {
    const bool ok = Check(text.find(part) != std::string::npos, part.c_str(), file, line);
    if (!ok) {
        std::printf("  in: <<%s>>\n", text.c_str());
    }
    return ok;
}

void Case(const char* name) {
    currentCase = name;
    std::printf("case %s\n", name);
}

int Summary(const char* suite) {
    std::printf("%s: %d checks, %d failed\n", suite, checks, failures);
    return failures == 0 ? 0 : 1;
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

std::string WithCrLf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}
