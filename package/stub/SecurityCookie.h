#pragma once
// The /GS cookie for the image linked here (a WDK build links BufferOverflowFastFailK.lib).
// A function that runs while the cookie changes cannot check it in its own epilogue.
#define PELVANE_NO_GS __attribute__((no_stack_protector))

EXTERN_C_START
PELVANE_NO_GS VOID InitializeSecurityCookie(VOID);
EXTERN_C_END
