#pragma once

#include <string>
#include <vector>

// One record of the log, split into its parts.
struct Record {
    std::string tag;     // "[DEBUG]   ", "[ERROR]   " or ""
    std::string time;    // "YYYY-MM-DD HH:MM:SS"
    std::string message; // with the newlines that the message itself carried
};

// Splits log (or console) text into records. A line that does not start a record belongs to the
// message of the record before it. `wellFormed` is cleared when the text has anything else.
std::vector<Record> ParseRecords(const std::string& text, bool* wellFormed = nullptr);

// The messages of the records, in order.
std::vector<std::string> Messages(const std::vector<Record>& records);

// The messages of the records with the error tag, in order.
std::vector<std::string> ErrorMessages(const std::vector<Record>& records);
