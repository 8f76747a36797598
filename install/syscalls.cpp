#include "syscalls.h"

SystemCalls g_Sys = {
#define SYSCALL_DEFAULT(result, name, parameters, failure) name,
    SYSTEM_CALLS(SYSCALL_DEFAULT)
#undef SYSCALL_DEFAULT
};
