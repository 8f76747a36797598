// The system calls of the upgrade engine, the registry module and the
// whole-file buffer, reached through one table. The installer fills it with
// the system's own functions; a test build may replace an entry with one that
// fails on a chosen call, which is how every failure path of an installation,
// and of its roll-back, is exercised. Call sites read g_Sys.CopyFileA(...).
//
// Every call whose failure the engine must handle is here. Calls that only
// release what was opened (RegCloseKey, FindClose, HeapFree, VirtualFree)
// are not: their failure changes nothing a caller could act on.
#ifndef INSTALL_SYSCALLS_H
#define INSTALL_SYSCALLS_H

#include <windows.h>

// One row per call: its result type, its name, its parameter types, and how
// it reports a failure: FAILS_WITH(result) with the reason in the last error,
// or RETURNS_ERROR, the reason being the result (the registry calls). The
// table, its defaults and the tests' fault wrappers are all made from it.
#define SYSTEM_CALLS(X)                                                                                        \
    /* Files */                                                                                                \
    X(HANDLE, CreateFileA, (LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE),                \
      FAILS_WITH(INVALID_HANDLE_VALUE))                                                                        \
    X(BOOL, ReadFile, (HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED), FAILS_WITH(FALSE))                        \
    X(BOOL, WriteFile, (HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED), FAILS_WITH(FALSE))                     \
    X(DWORD, SetFilePointer, (HANDLE, LONG, PLONG, DWORD), FAILS_WITH(INVALID_SET_FILE_POINTER))               \
    X(BOOL, SetEndOfFile, (HANDLE), FAILS_WITH(FALSE))                                                         \
    X(DWORD, GetFileSize, (HANDLE, LPDWORD), FAILS_WITH(INVALID_FILE_SIZE))                                    \
    X(BOOL, GetFileTime, (HANDLE, LPFILETIME, LPFILETIME, LPFILETIME), FAILS_WITH(FALSE))                      \
    X(BOOL, SetFileTime, (HANDLE, const FILETIME*, const FILETIME*, const FILETIME*), FAILS_WITH(FALSE))       \
    X(BOOL, CloseHandle, (HANDLE), FAILS_WITH(FALSE))                                                          \
    X(BOOL, CopyFileA, (LPCSTR, LPCSTR, BOOL), FAILS_WITH(FALSE))                                              \
    X(BOOL, DeleteFileA, (LPCSTR), FAILS_WITH(FALSE))                                                          \
    X(BOOL, MoveFileA, (LPCSTR, LPCSTR), FAILS_WITH(FALSE))                                                    \
    X(BOOL, MoveFileExA, (LPCSTR, LPCSTR, DWORD), FAILS_WITH(FALSE))                                           \
    X(UINT, GetTempFileNameA, (LPCSTR, LPCSTR, UINT, LPSTR), FAILS_WITH(0))                                    \
    X(DWORD, GetShortPathNameA, (LPCSTR, LPSTR, DWORD), FAILS_WITH(0))                                         \
    X(HANDLE, FindFirstFileA, (LPCSTR, LPWIN32_FIND_DATAA), FAILS_WITH(INVALID_HANDLE_VALUE))                  \
    X(BOOL, FindNextFileA, (HANDLE, LPWIN32_FIND_DATAA), FAILS_WITH(FALSE))                                    \
    /* Attributes and directories */                                                                           \
    X(DWORD, GetFileAttributesA, (LPCSTR), FAILS_WITH(INVALID_FILE_ATTRIBUTES))                                \
    /* Not on Windows 95: fails with ERROR_CALL_NOT_IMPLEMENTED there */                                      \
    X(BOOL, GetFileAttributesExA, (LPCSTR, GET_FILEEX_INFO_LEVELS, LPVOID), FAILS_WITH(FALSE))                 \
    X(BOOL, SetFileAttributesA, (LPCSTR, DWORD), FAILS_WITH(FALSE))                                            \
    X(BOOL, CreateDirectoryA, (LPCSTR, LPSECURITY_ATTRIBUTES), FAILS_WITH(FALSE))                              \
    /* Version resources */                                                                                    \
    X(DWORD, GetFileVersionInfoSizeA, (LPCSTR, LPDWORD), FAILS_WITH(0))                                        \
    X(BOOL, GetFileVersionInfoA, (LPCSTR, DWORD, DWORD, LPVOID), FAILS_WITH(FALSE))                            \
    X(BOOL, VerQueryValueA, (LPCVOID, LPCSTR, LPVOID*, PUINT), FAILS_WITH(FALSE))                              \
    /* Memory */                                                                                               \
    X(LPVOID, VirtualAlloc, (LPVOID, SIZE_T, DWORD, DWORD), FAILS_WITH(NULL))                                  \
    X(LPVOID, HeapAlloc, (HANDLE, DWORD, SIZE_T), FAILS_WITH(NULL))                                            \
    /* Registry */                                                                                             \
    X(LONG, RegOpenKeyExA, (HKEY, LPCSTR, DWORD, REGSAM, PHKEY), RETURNS_ERROR)                                \
    X(LONG, RegCreateKeyExA, (HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD), \
      RETURNS_ERROR)                                                                                           \
    X(LONG, RegQueryValueExA, (HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD), RETURNS_ERROR)                \
    X(LONG, RegSetValueExA, (HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD), RETURNS_ERROR)                   \
    X(LONG, RegQueryValueExW, (HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD), RETURNS_ERROR)               \
    X(LONG, RegSetValueExW, (HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD), RETURNS_ERROR)                  \
    X(LONG, RegDeleteValueW, (HKEY, LPCWSTR), RETURNS_ERROR)                                                   \
    X(LONG, RegQueryInfoKeyA,                                                                                  \
      (HKEY, LPSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD, PFILETIME), \
      RETURNS_ERROR)                                                                                           \
    X(LONG, RegEnumKeyExA, (HKEY, DWORD, LPSTR, LPDWORD, LPDWORD, LPSTR, LPDWORD, PFILETIME), RETURNS_ERROR)   \
    X(LONG, RegDeleteKeyA, (HKEY, LPCSTR), RETURNS_ERROR)                                                      \
    /* Drives */                                                                                               \
    X(UINT, GetDriveTypeA, (LPCSTR), FAILS_WITH(DRIVE_UNKNOWN))

struct SystemCalls {
#define SYSCALL_FIELD(result, name, parameters, failure) result(WINAPI* name) parameters;
    SYSTEM_CALLS(SYSCALL_FIELD)
#undef SYSCALL_FIELD
};

extern SystemCalls g_Sys;

// A DLL loaded from the system directory by its full path, for the DLLs
// that a loader would first look for beside the program (comctl32.dll,
// version.dll): the program imports none of them. NULL with the last error.
HMODULE LoadSystemLibrary(const char* name);
// Takes the current folder (SetDllDirectory, XP SP1 on) and the program's
// folder (SetDefaultDllDirectories, later systems) out of the DLL search for
// everything loaded from now on, where the system offers it; a program
// calls it first thing.
void LimitDllSearch(void);

#endif
