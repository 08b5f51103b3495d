#pragma once

#include <string>

#include <windows.h>

struct ChildResult {
    bool started;
    DWORD exitCode;
    std::string output; // everything the child wrote to standard output
};

// Runs `program` with `arguments` (the command line after the program name), its standard
// output captured in a temporary file, and waits for it to end.
ChildResult RunChild(const std::wstring& program, const std::wstring& arguments);

// The folder this test program was started from, with a trailing backslash.
std::wstring ProgramFolder();
