// Waits and time on the machine's virtual clock; nothing here sleeps in real time.
#include "State.h"

#include <cstdio>

using namespace kmdf;

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE WaitMode, BOOLEAN Alertable,
                                PLARGE_INTEGER Interval) {
    SwitchPoint("KeDelayExecutionThread");
    UNREFERENCED_PARAMETER(WaitMode);
    UNREFERENCED_PARAMETER(Alertable);
    if (Interval == nullptr) {
        BugCheck("KeDelayExecutionThread: no interval");
    }
    Current().hardware->Sleep(Interval->QuadPart);
    return STATUS_SUCCESS;
}

LARGE_INTEGER KeQueryPerformanceCounter(PLARGE_INTEGER PerformanceFrequency) {
    SwitchPoint("KeQueryPerformanceCounter");
    auto& hw = *Current().hardware;
    if (PerformanceFrequency != nullptr) {
        PerformanceFrequency->QuadPart = hw.PerformanceFrequency();
    }
    LARGE_INTEGER now;
    now.QuadPart = hw.QueryPerformanceCounter();
    return now;
}

KIRQL KeGetCurrentIrql() {
    return PASSIVE_LEVEL;
}

VOID KeBugCheckEx(ULONG BugCheckCode, ULONG_PTR P1, ULONG_PTR P2, ULONG_PTR P3, ULONG_PTR P4) {
    char text[160];
    snprintf(text, sizeof text, "KeBugCheckEx 0x%X (0x%llX, 0x%llX, 0x%llX, 0x%llX)", BugCheckCode,
             (unsigned long long)P1, (unsigned long long)P2, (unsigned long long)P3,
             (unsigned long long)P4);
    BugCheck(text);
}
