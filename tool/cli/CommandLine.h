#pragma once

#include <string>

// True when both texts have the same length and equal units once the ASCII letters are
// folded to upper case. Every other unit compares unchanged.
bool EqualsIgnoreCase(std::wstring argument, std::wstring word);

// The usage text, ending with the date and time the tool was built.
std::string UsageText();
void PrintUsage();

// Runs the command word in argv[1] and gives the process exit code: 0 success, 1 failure,
// -1 for a missing or unknown word (after the usage text).
int RunCommandLine(int argc, wchar_t* argv[]);
