// Runs a function under a structured exception guard. GCC for 32-bit
// Windows has no __try, so the guard registers its own frame on the
// thread's exception chain.
#ifndef INSTALL_SEHGUARD_H
#define INSTALL_SEHGUARD_H

#include <windows.h>

typedef void (*GuardedFunction)(void* argument);

// Calls function(argument). Returns TRUE when it returned normally; FALSE
// when an exception of any code was raised inside it, with the code in
// *exceptionCode. The exception chain is as before on both paths, and the
// guard may be used again (also nested).
BOOL RunGuarded(GuardedFunction function, void* argument, DWORD* exceptionCode);

#endif
