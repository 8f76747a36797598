// The system calls of the upgrade engine, the registry module and the
// whole-file buffer, reached through one table. The installer fills it with
// the system's own functions; a test build may replace an entry with one that
// fails on a chosen call, which is how every failure path of an installation,
// and of its roll-back, is exercised. Call sites read g_Sys.CopyFileA(...).
#ifndef INSTALL_SYSCALLS_H
#define INSTALL_SYSCALLS_H

#include <windows.h>

struct SystemCalls {
    // Files
    HANDLE(WINAPI* CreateFileA)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* ReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    DWORD(WINAPI* SetFilePointer)(HANDLE, LONG, PLONG, DWORD);
    DWORD(WINAPI* GetFileSize)(HANDLE, LPDWORD);
    BOOL(WINAPI* GetFileTime)(HANDLE, LPFILETIME, LPFILETIME, LPFILETIME);
    BOOL(WINAPI* CloseHandle)(HANDLE);
    BOOL(WINAPI* CopyFileA)(LPCSTR, LPCSTR, BOOL);
    BOOL(WINAPI* DeleteFileA)(LPCSTR);
    BOOL(WINAPI* MoveFileExA)(LPCSTR, LPCSTR, DWORD);
    UINT(WINAPI* GetTempFileNameA)(LPCSTR, LPCSTR, UINT, LPSTR);
    DWORD(WINAPI* GetShortPathNameA)(LPCSTR, LPSTR, DWORD);
    // Attributes and directories
    DWORD(WINAPI* GetFileAttributesA)(LPCSTR);
    BOOL(WINAPI* SetFileAttributesA)(LPCSTR, DWORD);
    BOOL(WINAPI* CreateDirectoryA)(LPCSTR, LPSECURITY_ATTRIBUTES);
    // Version resources
    DWORD(WINAPI* GetFileVersionInfoSizeA)(LPCSTR, LPDWORD);
    BOOL(WINAPI* GetFileVersionInfoA)(LPCSTR, DWORD, DWORD, LPVOID);
    BOOL(WINAPI* VerQueryValueA)(LPCVOID, LPCSTR, LPVOID*, PUINT);
    // Memory
    LPVOID(WINAPI* VirtualAlloc)(LPVOID, SIZE_T, DWORD, DWORD);
    LPVOID(WINAPI* HeapAlloc)(HANDLE, DWORD, SIZE_T);
    // Registry (these return the error code instead of setting it)
    LONG(WINAPI* RegOpenKeyExA)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
    LONG(WINAPI* RegCreateKeyExA)(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY,
                                  LPDWORD);
    LONG(WINAPI* RegQueryValueExA)(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
    LONG(WINAPI* RegSetValueExA)(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD);
    LONG(WINAPI* RegDeleteValueA)(HKEY, LPCSTR);
    LONG(WINAPI* RegQueryInfoKeyA)(HKEY, LPSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD,
                                   LPDWORD, LPDWORD, PFILETIME);
    LONG(WINAPI* RegEnumKeyExA)(HKEY, DWORD, LPSTR, LPDWORD, LPDWORD, LPSTR, LPDWORD, PFILETIME);
    LONG(WINAPI* RegDeleteKeyA)(HKEY, LPCSTR);
    // Drives
    UINT(WINAPI* GetDriveTypeA)(LPCSTR);
};

extern SystemCalls g_Sys;

#endif
