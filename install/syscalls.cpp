#include "syscalls.h"

#include "text.h"

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

// version.dll is not among the DLLs every loader takes from the system
// directory: imported by name, a copy put beside the program would be
// loaded instead. It is loaded by its full path when first used.
FARPROC VersionFunction(const char* name)
{
    static HMODULE module;
    if (!module)
        module = LoadSystemLibrary("version.dll");
    return module ? GetProcAddress(module, name) : NULL;
}

DWORD WINAPI VersionInfoSize(LPCSTR path, LPDWORD handle)
{
    typedef DWORD(WINAPI * Function)(LPCSTR, LPDWORD);
    Function function = (Function)(void*)VersionFunction("GetFileVersionInfoSizeA");
    return function ? function(path, handle) : 0;
}

BOOL WINAPI VersionInfo(LPCSTR path, DWORD handle, DWORD size, LPVOID data)
{
    typedef BOOL(WINAPI * Function)(LPCSTR, DWORD, DWORD, LPVOID);
    Function function = (Function)(void*)VersionFunction("GetFileVersionInfoA");
    return function ? function(path, handle, size, data) : FALSE;
}

BOOL WINAPI VersionValue(LPCVOID block, LPCSTR query, LPVOID* value, PUINT length)
{
    typedef BOOL(WINAPI * Function)(LPCVOID, LPCSTR, LPVOID*, PUINT);
    Function function = (Function)(void*)VersionFunction("VerQueryValueA");
    return function ? function(block, query, value, length) : FALSE;
}

}  // namespace

HMODULE LoadSystemLibrary(const char* name)
{
    char path[MAX_PATH + 16];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || lstrlenA(name) > 12)
        return NULL;
    if (!EndsWithSeparator(path))
        lstrcatA(path, "\\");
    lstrcatA(path, name);
    return LoadLibraryA(path);
}

void LimitDllSearch(void)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    typedef BOOL(WINAPI * DefaultDirectories)(DWORD);
    typedef BOOL(WINAPI * DllDirectory)(LPCSTR);
    DefaultDirectories defaults = (DefaultDirectories)(void*)GetProcAddress(kernel, "SetDefaultDllDirectories");
    DllDirectory directory = (DllDirectory)(void*)GetProcAddress(kernel, "SetDllDirectoryA");
    if (defaults)
        defaults(0x00000800);  // LOAD_LIBRARY_SEARCH_SYSTEM32
    if (directory)
        directory("");  // nor the current folder
}

// The table's default for a row is the system function of its name, but for
// a function looked up at run time.
#define GetFileAttributesExA FileAttributesEx
#define GetFileVersionInfoSizeA VersionInfoSize
#define GetFileVersionInfoA VersionInfo
#define VerQueryValueA VersionValue
SystemCalls g_Sys = {
#define SYSCALL_DEFAULT(result, name, parameters, failure) name,
    SYSTEM_CALLS(SYSCALL_DEFAULT)
#undef SYSCALL_DEFAULT
};
#undef GetFileAttributesExA
#undef GetFileVersionInfoSizeA
#undef GetFileVersionInfoA
#undef VerQueryValueA
