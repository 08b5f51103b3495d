#include "PipeServer.h"

#include <cstdio>
#include <thread>

namespace mcusim {

const wchar_t InterfaceListFile[] = L"C:\\mcusim\\interfaces";

namespace {

constexpr unsigned ListeningInstances = 4;

std::string PipePath(unsigned index, unsigned length) {
    char base[96];
    std::snprintf(base, sizeof base,
                  "\\\\.\\pipe\\ROOT#MCUINTERFACE#%04u#{dd0ebedb-f1d6-4cfa-acca-71e66d3178ca}",
                  index);
    std::string path = base;
    if (length > path.size() + 1) {
        // A pipe name takes no further backslash: '#' stands for the reference string's.
        path += '#';
        path.append(length - path.size(), 'R');
    }
    return path;
}

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::string Hex(const uint8_t* bytes, size_t length) {
    std::string text;
    char digits[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        text += digits;
    }
    return text;
}

// Waits for an overlapped call that may have completed at once; false when it failed.
bool Finish(HANDLE file, OVERLAPPED& overlapped, BOOL started, DWORD& bytes) {
    if (!started && GetLastError() != ERROR_IO_PENDING)
        return false;
    return GetOverlappedResult(file, &overlapped, &bytes, TRUE) != FALSE;
}

bool WriteList(const std::vector<std::string>& paths) {
    CreateDirectoryW(L"C:\\mcusim", nullptr);
    HANDLE list = CreateFileW(InterfaceListFile, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (list == INVALID_HANDLE_VALUE)
        return false;
    std::string text;
    for (const std::string& path : paths)
        text += path + "\n";
    DWORD written = 0;
    BOOL ok = WriteFile(list, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(list);
    return ok && written == text.size();
}

} // namespace

PipeServer::PipeServer(McuSettings settings) : model(std::move(settings)) {}

bool PipeServer::Start(std::string& error) {
    started = GetTickCount();
    const McuSettings& settings = model.Settings();
    // Instances that take only the client's writes refuse the tool's read-write opens with
    // ERROR_ACCESS_DENIED, as a device refuses them. No other open error of a device has a
    // counterpart among pipes, and every instance of a pipe must have the same access (one
    // that differs is not created), so a pipe cannot let some opens through and refuse later.
    if (settings.denyOpen != 0 && settings.denyOpen != ERROR_ACCESS_DENIED) {
        error = "--deny-open: a named pipe can refuse an open only with 5 (access denied)";
        return false;
    }
    if (settings.denyOpen != 0 && settings.allowOpens != 0) {
        error = "--allow-opens: a named pipe refuses either every open or none";
        return false;
    }
    for (unsigned i = 0; i < settings.interfaces; ++i)
        paths.push_back(PipePath(i, i == 0 ? settings.pathLength : 0));
    if (!WriteList(paths)) {
        error = "cannot list the interfaces";
        return false;
    }
    // An open that finds no listening instance fails with ERROR_PIPE_BUSY, where a device open
    // never does: several instances listen at once, more than the tool ever has open.
    for (unsigned i = 0; i < paths.size(); ++i) {
        for (unsigned spare = 0; spare < ListeningInstances; ++spare)
            std::thread(&PipeServer::Accept, this, i).detach();
    }
    return true;
}

void PipeServer::Accept(unsigned index) {
    const std::wstring name = Wide(paths[index]);
    const DWORD access = model.Settings().denyOpen != 0 ? PIPE_ACCESS_INBOUND : PIPE_ACCESS_DUPLEX;
    for (;;) {
        HANDLE file = CreateNamedPipeW(name.c_str(), access | FILE_FLAG_OVERLAPPED,
                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                       PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            Trace("cannot create a pipe instance: " + std::to_string(GetLastError()));
            return;
        }
        OVERLAPPED overlapped = {};
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        DWORD unused = 0;
        BOOL connected = ConnectNamedPipe(file, &overlapped);
        const DWORD error = connected ? ERROR_SUCCESS : GetLastError();
        // A client may open an instance before it listens (ERROR_PIPE_CONNECTED), and may also
        // have written and closed it since (ERROR_NO_DATA): what it wrote is still there to read,
        // and a device never drops a request it took.
        if (error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA)
            connected = TRUE;
        else
            connected = Finish(file, overlapped, connected, unused);
        CloseHandle(overlapped.hEvent);
        if (!connected) {
            CloseHandle(file);
            continue;
        }
        {
            std::lock_guard guard(lock);
            ++opens;
            files.push_back(file);
        }
        Trace("open interface " + std::to_string(index));
        std::thread(&PipeServer::Serve, this, file).detach();
    }
}

void PipeServer::Serve(HANDLE file) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    for (;;) {
        uint8_t request[256];
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event;
        DWORD got = 0;
        BOOL read = ReadFile(file, request, sizeof request, nullptr, &overlapped);
        // A longer message is cut to the buffer, as the device file's receive cuts it.
        if (!Finish(file, overlapped, read, got) && GetLastError() != ERROR_MORE_DATA)
            break;
        React(request, got);
    }
    CloseHandle(event);
    {
        std::lock_guard guard(lock);
        for (auto it = files.begin(); it != files.end(); ++it) {
            if (*it == file) {
                files.erase(it);
                break;
            }
        }
    }
    DisconnectNamedPipe(file);
    CloseHandle(file);
}

void PipeServer::React(const uint8_t* request, size_t length) {
    std::lock_guard order(queue);
    Trace("request " + Hex(request, length));
    Reaction reaction = model.React(request, length);
    if (reaction.drop) {
        // Every open file ends; each one's reader closes it when its read fails.
        Trace("dropping every open file");
        std::lock_guard guard(lock);
        for (HANDLE open : files)
            DisconnectNamedPipe(open);
        return;
    }
    if (reaction.delayMs)
        Sleep(reaction.delayMs);
    for (const auto& answer : reaction.frames) {
        Trace("answer" + (reaction.mcu.empty() ? "" : " from " + reaction.mcu) + " " +
              Hex(answer.data(), answer.size()));
        Broadcast(answer);
    }
}

void PipeServer::Broadcast(const std::vector<uint8_t>& frame) {
    // The tool reads on one file and writes on another: the answer goes to every open file.
    std::lock_guard guard(lock);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    for (HANDLE file : files) {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event;
        DWORD written = 0;
        BOOL ok =
            WriteFile(file, frame.data(), static_cast<DWORD>(frame.size()), nullptr, &overlapped);
        Finish(file, overlapped, ok, written);
        ResetEvent(event);
    }
    CloseHandle(event);
}

void PipeServer::Trace(const std::string& line) const {
    if (!model.Settings().trace)
        return;
    std::fprintf(stderr, "mcu-sim: %lu ms: %s\n", GetTickCount() - started, line.c_str());
}

} // namespace mcusim
