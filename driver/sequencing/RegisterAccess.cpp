// The three waits of the register sequences.
#include "sequencing/RegisterAccess.h"

// Relative intervals are negative, in 100 ns units; the count is widened before it is scaled.
VOID DelayMilliseconds(ULONG Milliseconds) {
    LARGE_INTEGER interval;
    interval.QuadPart = -10000LL * static_cast<LONGLONG>(Milliseconds);
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
}

VOID DelayMicroseconds(ULONG Microseconds) {
    LARGE_INTEGER interval;
    interval.QuadPart = -10LL * static_cast<LONGLONG>(Microseconds);
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
}

// At counter frequencies below 100 kHz a 10 us wait is shorter than one tick and rounds to
// none: the loop then returns after one further counter read.
LONGLONG StallMicroseconds(ULONG Microseconds) {
    LARGE_INTEGER frequency;
    LARGE_INTEGER start = KeQueryPerformanceCounter(&frequency);
    ULONGLONG ticks = static_cast<ULONGLONG>(Microseconds) *
                      static_cast<ULONGLONG>(frequency.QuadPart) / 1000000ULL;
    LARGE_INTEGER now;

    do {
        now = KeQueryPerformanceCounter(NULL);
    } while (static_cast<ULONGLONG>(now.QuadPart - start.QuadPart) < ticks);

    return now.QuadPart;
}
