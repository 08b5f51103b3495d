// /GS support: the compiler stores __security_cookie, XORed with the frame, in each protected
// frame and calls __security_check_cookie before returning. A mismatch means the stack was
// overwritten, and the only safe answer in the kernel is to stop at once: __fastfail with
// FAST_FAIL_STACK_COOKIE_CHECK_FAILURE, which bug-checks with KERNEL_SECURITY_CHECK_FAILURE.
#include <ntddk.h>

#include "SecurityCookie.h"

// The documented 64-bit default. An image whose cookie still holds it was never initialised.
#define DEFAULT_SECURITY_COOKIE 0x00002B992DDFA232ULL
#define STACK_COOKIE_CHECK_FAILURE 2

EXTERN_C_START
ULONG_PTR __security_cookie = DEFAULT_SECURITY_COOKIE;
VOID __security_check_cookie(ULONG_PTR Cookie);
EXTERN_C_END

// The loader sets the cookie of an image with a load configuration; this image has none, so the
// entry stub picks one before any protected frame runs. Only its top 16 bits stay clear, as the
// compiler's default leaves them.
PELVANE_NO_GS VOID InitializeSecurityCookie(VOID) {
    if (__security_cookie != DEFAULT_SECURITY_COOKIE && __security_cookie != 0) {
        return;
    }
    LARGE_INTEGER counter = KeQueryPerformanceCounter(NULL);
    // The counter, mixed with where the loader placed the image; no local has its address taken,
    // so this frame holds no cookie of its own.
    ULONG_PTR cookie = (ULONG_PTR)counter.QuadPart ^ ((ULONG_PTR)&__security_cookie << 16);
    cookie &= 0x0000FFFFFFFFFFFFULL;
    if (cookie == 0 || cookie == DEFAULT_SECURITY_COOKIE) {
        cookie = DEFAULT_SECURITY_COOKIE ^ 0x00004711;
    }
    __security_cookie = cookie;
}

VOID __security_check_cookie(ULONG_PTR Cookie) {
    if (Cookie != __security_cookie) {
        __fastfail(STACK_COOKIE_CHECK_FAILURE);
    }
}
