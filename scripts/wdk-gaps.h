#pragma once
// Documented WDK names that the driver uses and that mingw-w64's DDK headers lack, beyond those
// the real-header checker already supplies. scripts/check-driver-wdk.sh passes this file to the
// checker as EXTRA_GAPS, which includes it at the end of <wdm.h>.
//
// One line per name, in the form of the checker's own wrap/wdk_gaps.h: the WDK's value or
// documented prototype, then a comment naming the WDK header that declares it ("// wdm.h: Name").
// Never a name that the WDK does not have: a driver that needs one would not build on Windows.
//
#define InterlockedExchange _InterlockedExchange // wdm.h: InterlockedExchange
