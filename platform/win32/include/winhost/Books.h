#pragma once

// Test-side view of the Win32 stand-in: what it holds right now, and failures it can be told to
// produce. Not part of the Win32 API; only tests and benchmarks include this.

#include <cstddef>

#include <windows.h>

namespace winhost {

// Handles returned by CreateFileW, CreateThread and CreateEventW and not yet closed.
size_t LiveHandles();

// Threads started by CreateThread whose start routine has not returned yet.
size_t LiveThreads();

// Threads ever started by CreateThread in this process.
size_t ThreadsCreated();

// Operations that can be told to fail once.
enum class Failure { CreateEvent, CreateThread, CreateFile, WriteFile, GetInterfaceList };

// The next call of `operation` (from any thread) fails with `error` as its last error (for
// GetInterfaceList, CM_Get_Device_Interface_ListW returns `error` as its CONFIGRET).
void FailNext(Failure operation, DWORD error);

// The next ReadFile (from any thread) waits `milliseconds` before it starts, as a thread that is
// slow to get from one read to the next would.
void DelayNextRead(DWORD milliseconds);

// Forgets every failure and delay set up above that has not happened yet.
void ClearFailures();

} // namespace winhost
