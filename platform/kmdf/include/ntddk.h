#pragma once
// Kernel-mode driver development header (Linux stand-in): the WDM subset the driver calls.
#include <wdm.h>
