#pragma once
// The controller bring-up: resets, PHY programming and core configuration of one instance,
// run at the end of prepare hardware and on resume from hibernation.
#include "frame/FilterExtension.h"

NTSTATUS BringUpController(_In_ PFILTER_EXTENSION Context);
