#pragma once

// The driver side of the Win32 stand-in: how a simulated driver publishes device interfaces and
// serves the device files that CreateFileW opens.
//
// Host root (WINHOST_ROOT, default ".winhost" in the current directory):
//   drive_c/...                       the C: drive ("C:\ProgramData\X" is drive_c/ProgramData/X)
//   DeviceInterfaces/{CLASS-GUID}/N   one record per published interface, listed in name order
//
// A record holds the interface path, the endpoint (an abstract local socket of type
// SOCK_SEQPACKET: one send is one frame, one receive gets one frame) and the publisher's process
// id; records of processes that have ended are not present. CreateFileW connects to the endpoint
// and then receives one 4-byte open status (a Windows error code, least significant byte first;
// 0 lets the open succeed). After that every ReadFile receives one frame and every WriteFile sends
// one frame.

#include <string>

#include <windows.h>

namespace winhost {

// The host root directory, without a trailing slash.
std::string RootDirectory();

// Maps "X:\dir\file" (or with forward slashes) to RootDirectory()/drive_x/dir/file. Other paths
// are returned unchanged.
std::string MapWindowsPath(const std::string& path);

// Text form of a GUID, "{DD0EBEDB-F1D6-4CFA-ACCA-71E66D3178CA}".
std::string GuidText(const GUID& guid);

// Creates a listening endpoint with a name unique to this process; returns its descriptor, or -1.
int ListenEndpoint(std::string& endpoint);

// Completes the open of a connection accepted on an endpoint with `status` (0 or an error code).
bool CompleteOpen(int connection, DWORD status);

// Publishes an interface of `interfaceClass` at `path`, served at `endpoint`. `order` places it in
// the list among this process's interfaces. Returns the record's file, or "" on failure.
std::string PublishInterface(const GUID& interfaceClass, const std::string& path,
                             const std::string& endpoint, unsigned order);

// Removes a record made by PublishInterface.
void WithdrawInterface(const std::string& record);

} // namespace winhost
