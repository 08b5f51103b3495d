#pragma once

// What the conformance cases need around a call: a device served by a driver of the test's own,
// registry values set up by the test, and whether the run is under Wine. The stand-in and
// Windows each provide one (StandInStage.cpp, WindowsStage.cpp).

#include <string>

#include <windows.h>

class Stage {
  public:
    virtual ~Stage() = default;

    // Opens the test device with `access`; INVALID_HANDLE_VALUE when the open failed.
    virtual HANDLE OpenDevice(DWORD access) = 0;
    // The driver completes the file's next read with no data.
    virtual bool CompleteReadEmpty() = 0;
    // Bytes of the next frame the driver got from the last opened file (-1 when none came).
    virtual int NextWrittenFrame() = 0;
    // A device path that nothing serves.
    virtual std::wstring MissingDevicePath() = 0;

    // Stores a value under HKEY_LOCAL_MACHINE\`subKey`; `data` is wide text for string types.
    virtual bool SetValue(const std::wstring& subKey, const std::wstring& name, DWORD type,
                          const void* data, DWORD bytes) = 0;
    virtual void DeleteKey(const std::wstring& subKey) = 0;

    // Removes the file behind a "C:\..." path.
    virtual void RemoveFile(const char* windowsPath) = 0;

    // True under Wine, whose departures from the documented behaviour are skipped.
    virtual bool UnderWine() const = 0;
};

// The stage of this build.
Stage& TheStage();
