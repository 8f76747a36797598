#include "syscalls.h"

namespace {

// GetFileAttributesExA came with Windows 98 and NT 4.0: an import of it
// would keep the installer from loading on Windows 95, so it is looked up
// when first called, and fails there as a call the system lacks.
BOOL WINAPI FileAttributesEx(LPCSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID data)
{
    typedef BOOL(WINAPI * Function)(LPCSTR, GET_FILEEX_INFO_LEVELS, LPVOID);
    static Function function;
    static BOOL looked;
    if (!looked) {
        function = (Function)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFileAttributesExA");
        looked = TRUE;
    }
    if (function)
        return function(path, level, data);
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

}  // namespace

// The table's default for a row is the system function of its name, but for
// a function looked up at run time.
#define GetFileAttributesExA FileAttributesEx
SystemCalls g_Sys = {
#define SYSCALL_DEFAULT(result, name, parameters, failure) name,
    SYSTEM_CALLS(SYSCALL_DEFAULT)
#undef SYSCALL_DEFAULT
};
#undef GetFileAttributesExA
