// Diagnostic names of the port pairs, by port number.
#include "sequencing/PortPairs.h"

static const char* const PortPairNames[PORT_COUNT] = {"Primary", "Secondary", "Multiport 0",
                                                      "Multiport 1"};

PCSTR PortPairName(ULONG Port) {
    return Port < PORT_COUNT ? PortPairNames[Port] : "Unknown";
}
