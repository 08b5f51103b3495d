#pragma once
// The /GS cookie for the image linked here (a WDK build links BufferOverflowFastFailK.lib).
EXTERN_C_START
VOID InitializeSecurityCookie(VOID);
EXTERN_C_END
