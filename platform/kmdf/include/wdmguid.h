#pragma once
// Plug and Play event GUIDs (Linux stand-in): declared with the notification records in wdm.h.
#include <wdm.h>
