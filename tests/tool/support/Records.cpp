#include "Records.h"

#include <regex>
#include <sstream>

std::vector<Record> ParseRecords(const std::string& text, bool* wellFormed) {
    static const std::regex recordLine(
        R"(^(\[DEBUG\]   |\[ERROR\]   |) (\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) : (.*)$)");
    std::vector<Record> records;
    if (wellFormed)
        *wellFormed = text.empty() || text.back() == '\n';
    std::istringstream lines(text);
    std::string line;
    std::smatch match;
    while (std::getline(lines, line)) {
        if (std::regex_match(line, match, recordLine)) {
            records.push_back({match[1], match[2], match[3]});
        } else if (!records.empty()) {
            records.back().message += "\n" + line;
        } else if (wellFormed) {
            *wellFormed = false;
        }
    }
    return records;
}

std::vector<std::string> Messages(const std::vector<Record>& records) {
    std::vector<std::string> messages;
    for (const auto& record : records)
        messages.push_back(record.message);
    return messages;
}

std::vector<std::string> ErrorMessages(const std::vector<Record>& records) {
    std::vector<std::string> messages;
    for (const auto& record : records) {
        if (record.tag == "[ERROR]   ")
            messages.push_back(record.message);
    }
    return messages;
}
