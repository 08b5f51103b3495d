#include "ChildProcess.h"

#include <vector>

namespace {

std::wstring TemporaryFileName() {
    wchar_t folder[MAX_PATH] = {};
    wchar_t name[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"out", 0, name);
    return name;
}

HANDLE CreateInheritableFile(const std::wstring& name) {
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof(attributes);
    attributes.bInheritHandle = TRUE;
    return CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string ReadWholeFile(HANDLE file) {
    std::string text;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        text.append(chunk, read);
    }
    return text;
}

} // namespace

ChildResult RunChild(const std::wstring& program, const std::wstring& arguments) {
    ChildResult result{false, 0, ""};
    const std::wstring outputName = TemporaryFileName();
    const HANDLE output = CreateInheritableFile(outputName);
    if (output == INVALID_HANDLE_VALUE) {
        return result;
    }

    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty()) {
        commandLine += L" " + arguments;
    }
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (CreateProcessW(program.c_str(), writable.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       nullptr, &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        result.started = GetExitCodeProcess(process.hProcess, &result.exitCode) != FALSE;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        result.output = ReadWholeFile(output);
    }
    CloseHandle(output);
    DeleteFileW(outputName.c_str());
    return result;
}

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}
