#pragma once

#include <cstdint>

// Exported undecorated from the tool's executable, so that other programs can ask for the
// version of an MCU's firmware or of the MCU software package by component name.
#if defined(_WIN32)
#define OSTREL_EXPORT __declspec(dllexport)
#define OSTREL_CALL __cdecl
#else
#define OSTREL_EXPORT
#define OSTREL_CALL
#endif

// Writes the version text of `componentName` (NUL-terminated, at most 63 characters: the
// caller provides 64 bytes) and a length. Returns 0 on success, 1 for bad arguments or an
// unknown name, 5 for a registry failure, 7 for an internal exception, 34 for an overlong
// response, or the MCU exchange status.
extern "C" OSTREL_EXPORT int32_t OSTREL_CALL GetDriverVersion(const char* componentName,
                                                              char* versionBuffer,
                                                              int32_t bufferLength,
                                                              int32_t* versionLength);
