// Not built: what the resident-D0 check must refuse, the wake-line arrival callback made
// pageable again although the registration on a resume from hibernation reaches it.
#ifdef ALLOC_PRAGMA
#pragma alloc_text(PAGE, OnWakeLineArrival)
#endif
