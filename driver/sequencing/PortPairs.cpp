// Diagnostic names of the port pairs, by port number, from the port layout table.
#include "sequencing/PortPairs.h"
#include "sequencing/PortLayout.h"

PCSTR PortPairName(ULONG Port) {
    return Port < PORT_COUNT ? PORT_LAYOUTS[Port].PairName : "Unknown";
}
