// Stand-in for the controller bring-up until its register sequence is in place: it checks its
// context and touches no register.
#include "sequencing/ControllerBringUp.h"

NTSTATUS BringUpController(_In_ PFILTER_EXTENSION Context) {
    return Context == NULL ? STATUS_INVALID_PARAMETER : STATUS_SUCCESS;
}
