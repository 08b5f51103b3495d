#pragma once

#include <string>

// One record at level 0 (progress and verdicts): log file only.
void LogDebug(std::string message);

// One record at level 3 (errors): log file and standard output.
void LogError(std::string message);
