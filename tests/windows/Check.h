#pragma once

#include <string>

// A minimal check recorder for the programs that run under Wine, where no test framework is
// available: every failed check prints its place and text, the summary gives the exit code.
#define CHECK(condition) Check((condition), #condition, __FILE__, __LINE__)
#define CHECK_CONTAINS(text, part) CheckContains((text), (part), __FILE__, __LINE__)

bool Check(bool ok, const char* what, const char* file, int line);
bool CheckContains(const std::string& text, const std::string& part, const char* file, int line);

// Starts a named group of checks in the output.
void Case(const char* name);

// Prints the totals; returns the process exit code (0 when every check passed).
int Summary(const char* suite);

// Number of times `part` occurs in `text`.
size_t Occurrences(const std::string& text, const std::string& part);

// `text` with every "\n" turned into "\r\n", as a Windows text stream writes it.
std::string WithCrLf(const std::string& text);
