#include "faults.h"

#include <string.h>

#include "log.h"
#include "syscalls.h"

namespace {

SystemCalls s_Real;
bool s_Installed;
int s_Counts[64];
int s_ArmedEntry = -1;
int s_ArmedCall;
DWORD s_ArmedError;
bool s_Delivered;
bool s_HitRollBack;

// Counts the call; true when this one must fail (the last error is set).
bool Fails(int entry)
{
    int call = ++s_Counts[entry];
    if (entry != s_ArmedEntry || call != s_ArmedCall)
        return false;
    s_Delivered = true;
    s_HitRollBack = STATUS_FAILED(g_Status.word);
    SetLastError(s_ArmedError);
    return true;
}

// One wrapper per entry, in the order of the table's fields.
enum {
    E_CreateFileA, E_ReadFile, E_WriteFile, E_SetFilePointer, E_GetFileSize, E_GetFileTime, E_CloseHandle,
    E_CopyFileA, E_DeleteFileA, E_MoveFileExA, E_GetTempFileNameA, E_GetShortPathNameA, E_GetFileAttributesA,
    E_SetFileAttributesA, E_CreateDirectoryA, E_GetFileVersionInfoSizeA, E_GetFileVersionInfoA,
    E_VerQueryValueA, E_VirtualAlloc, E_HeapAlloc, E_RegOpenKeyExA, E_RegCreateKeyExA, E_RegQueryValueExA,
    E_RegSetValueExA, E_RegDeleteValueA, E_RegQueryInfoKeyA, E_RegEnumKeyExA, E_RegDeleteKeyA,
    E_GetDriveTypeA, E_COUNT
};

const char* const kNames[E_COUNT] = {
    "CreateFileA", "ReadFile", "WriteFile", "SetFilePointer", "GetFileSize", "GetFileTime", "CloseHandle",
    "CopyFileA", "DeleteFileA", "MoveFileExA", "GetTempFileNameA", "GetShortPathNameA", "GetFileAttributesA",
    "SetFileAttributesA", "CreateDirectoryA", "GetFileVersionInfoSizeA", "GetFileVersionInfoA",
    "VerQueryValueA", "VirtualAlloc", "HeapAlloc", "RegOpenKeyExA", "RegCreateKeyExA", "RegQueryValueExA",
    "RegSetValueExA", "RegDeleteValueA", "RegQueryInfoKeyA", "RegEnumKeyExA", "RegDeleteKeyA",
    "GetDriveTypeA"};

HANDLE WINAPI W_CreateFileA(LPCSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f, HANDLE g)
{
    return Fails(E_CreateFileA) ? INVALID_HANDLE_VALUE : s_Real.CreateFileA(a, b, c, d, e, f, g);
}
BOOL WINAPI W_ReadFile(HANDLE a, LPVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e)
{
    if (Fails(E_ReadFile)) {
        if (d)
            *d = 0;
        return FALSE;
    }
    return s_Real.ReadFile(a, b, c, d, e);
}
BOOL WINAPI W_WriteFile(HANDLE a, LPCVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e)
{
    if (Fails(E_WriteFile)) {
        if (d)
            *d = 0;
        return FALSE;
    }
    return s_Real.WriteFile(a, b, c, d, e);
}
DWORD WINAPI W_SetFilePointer(HANDLE a, LONG b, PLONG c, DWORD d)
{
    return Fails(E_SetFilePointer) ? INVALID_SET_FILE_POINTER : s_Real.SetFilePointer(a, b, c, d);
}
DWORD WINAPI W_GetFileSize(HANDLE a, LPDWORD b)
{
    return Fails(E_GetFileSize) ? INVALID_FILE_SIZE : s_Real.GetFileSize(a, b);
}
BOOL WINAPI W_GetFileTime(HANDLE a, LPFILETIME b, LPFILETIME c, LPFILETIME d)
{
    return Fails(E_GetFileTime) ? FALSE : s_Real.GetFileTime(a, b, c, d);
}
// A close that fails still releases the handle, as a failed flush does:
// a handle kept open would lock the file for every later test.
BOOL WINAPI W_CloseHandle(HANDLE a)
{
    if (Fails(E_CloseHandle)) {
        DWORD error = GetLastError();
        s_Real.CloseHandle(a);
        SetLastError(error);
        return FALSE;
    }
    return s_Real.CloseHandle(a);
}
BOOL WINAPI W_CopyFileA(LPCSTR a, LPCSTR b, BOOL c)
{
    return Fails(E_CopyFileA) ? FALSE : s_Real.CopyFileA(a, b, c);
}
BOOL WINAPI W_DeleteFileA(LPCSTR a)
{
    return Fails(E_DeleteFileA) ? FALSE : s_Real.DeleteFileA(a);
}
BOOL WINAPI W_MoveFileExA(LPCSTR a, LPCSTR b, DWORD c)
{
    return Fails(E_MoveFileExA) ? FALSE : s_Real.MoveFileExA(a, b, c);
}
UINT WINAPI W_GetTempFileNameA(LPCSTR a, LPCSTR b, UINT c, LPSTR d)
{
    return Fails(E_GetTempFileNameA) ? 0 : s_Real.GetTempFileNameA(a, b, c, d);
}
DWORD WINAPI W_GetShortPathNameA(LPCSTR a, LPSTR b, DWORD c)
{
    return Fails(E_GetShortPathNameA) ? 0 : s_Real.GetShortPathNameA(a, b, c);
}
DWORD WINAPI W_GetFileAttributesA(LPCSTR a)
{
    return Fails(E_GetFileAttributesA) ? INVALID_FILE_ATTRIBUTES : s_Real.GetFileAttributesA(a);
}
BOOL WINAPI W_SetFileAttributesA(LPCSTR a, DWORD b)
{
    return Fails(E_SetFileAttributesA) ? FALSE : s_Real.SetFileAttributesA(a, b);
}
BOOL WINAPI W_CreateDirectoryA(LPCSTR a, LPSECURITY_ATTRIBUTES b)
{
    return Fails(E_CreateDirectoryA) ? FALSE : s_Real.CreateDirectoryA(a, b);
}
DWORD WINAPI W_GetFileVersionInfoSizeA(LPCSTR a, LPDWORD b)
{
    return Fails(E_GetFileVersionInfoSizeA) ? 0 : s_Real.GetFileVersionInfoSizeA(a, b);
}
BOOL WINAPI W_GetFileVersionInfoA(LPCSTR a, DWORD b, DWORD c, LPVOID d)
{
    return Fails(E_GetFileVersionInfoA) ? FALSE : s_Real.GetFileVersionInfoA(a, b, c, d);
}
BOOL WINAPI W_VerQueryValueA(LPCVOID a, LPCSTR b, LPVOID* c, PUINT d)
{
    return Fails(E_VerQueryValueA) ? FALSE : s_Real.VerQueryValueA(a, b, c, d);
}
LPVOID WINAPI W_VirtualAlloc(LPVOID a, SIZE_T b, DWORD c, DWORD d)
{
    return Fails(E_VirtualAlloc) ? NULL : s_Real.VirtualAlloc(a, b, c, d);
}
LPVOID WINAPI W_HeapAlloc(HANDLE a, DWORD b, SIZE_T c)
{
    return Fails(E_HeapAlloc) ? NULL : s_Real.HeapAlloc(a, b, c);
}
LONG WINAPI W_RegOpenKeyExA(HKEY a, LPCSTR b, DWORD c, REGSAM d, PHKEY e)
{
    return Fails(E_RegOpenKeyExA) ? (LONG)s_ArmedError : s_Real.RegOpenKeyExA(a, b, c, d, e);
}
LONG WINAPI W_RegCreateKeyExA(HKEY a, LPCSTR b, DWORD c, LPSTR d, DWORD e, REGSAM f, LPSECURITY_ATTRIBUTES g,
                              PHKEY h, LPDWORD i)
{
    return Fails(E_RegCreateKeyExA) ? (LONG)s_ArmedError : s_Real.RegCreateKeyExA(a, b, c, d, e, f, g, h, i);
}
LONG WINAPI W_RegQueryValueExA(HKEY a, LPCSTR b, LPDWORD c, LPDWORD d, LPBYTE e, LPDWORD f)
{
    return Fails(E_RegQueryValueExA) ? (LONG)s_ArmedError : s_Real.RegQueryValueExA(a, b, c, d, e, f);
}
LONG WINAPI W_RegSetValueExA(HKEY a, LPCSTR b, DWORD c, DWORD d, const BYTE* e, DWORD f)
{
    return Fails(E_RegSetValueExA) ? (LONG)s_ArmedError : s_Real.RegSetValueExA(a, b, c, d, e, f);
}
LONG WINAPI W_RegDeleteValueA(HKEY a, LPCSTR b)
{
    return Fails(E_RegDeleteValueA) ? (LONG)s_ArmedError : s_Real.RegDeleteValueA(a, b);
}
LONG WINAPI W_RegQueryInfoKeyA(HKEY a, LPSTR b, LPDWORD c, LPDWORD d, LPDWORD e, LPDWORD f, LPDWORD g, LPDWORD h,
                               LPDWORD i, LPDWORD j, LPDWORD k, PFILETIME l)
{
    return Fails(E_RegQueryInfoKeyA) ? (LONG)s_ArmedError : s_Real.RegQueryInfoKeyA(a, b, c, d, e, f, g, h, i, j, k, l);
}
LONG WINAPI W_RegEnumKeyExA(HKEY a, DWORD b, LPSTR c, LPDWORD d, LPDWORD e, LPSTR f, LPDWORD g, PFILETIME h)
{
    return Fails(E_RegEnumKeyExA) ? (LONG)s_ArmedError : s_Real.RegEnumKeyExA(a, b, c, d, e, f, g, h);
}
LONG WINAPI W_RegDeleteKeyA(HKEY a, LPCSTR b)
{
    return Fails(E_RegDeleteKeyA) ? (LONG)s_ArmedError : s_Real.RegDeleteKeyA(a, b);
}
UINT WINAPI W_GetDriveTypeA(LPCSTR a)
{
    return Fails(E_GetDriveTypeA) ? DRIVE_UNKNOWN : s_Real.GetDriveTypeA(a);
}

const SystemCalls kWrappers = {
    W_CreateFileA, W_ReadFile, W_WriteFile, W_SetFilePointer, W_GetFileSize, W_GetFileTime, W_CloseHandle,
    W_CopyFileA, W_DeleteFileA, W_MoveFileExA, W_GetTempFileNameA, W_GetShortPathNameA, W_GetFileAttributesA,
    W_SetFileAttributesA, W_CreateDirectoryA, W_GetFileVersionInfoSizeA, W_GetFileVersionInfoA,
    W_VerQueryValueA, W_VirtualAlloc, W_HeapAlloc, W_RegOpenKeyExA, W_RegCreateKeyExA, W_RegQueryValueExA,
    W_RegSetValueExA, W_RegDeleteValueA, W_RegQueryInfoKeyA, W_RegEnumKeyExA, W_RegDeleteKeyA,
    W_GetDriveTypeA};

static_assert(sizeof(SystemCalls) == E_COUNT * sizeof(void*), "one wrapper per table entry");

}  // namespace

void ResetFaults(void)
{
    if (!s_Installed) {
        s_Real = g_Sys;
        g_Sys = kWrappers;
        s_Installed = true;
    }
    memset(s_Counts, 0, sizeof s_Counts);
    s_ArmedEntry = -1;
    s_ArmedCall = 0;
    s_Delivered = false;
}

void ArmFault(int entry, int call, DWORD error)
{
    s_ArmedEntry = entry;
    s_ArmedCall = call;
    s_ArmedError = error;
    s_Delivered = false;
    s_HitRollBack = false;
}

int FaultEntryCount(void)
{
    return E_COUNT;
}

const char* FaultEntryName(int entry)
{
    return entry >= 0 && entry < E_COUNT ? kNames[entry] : "";
}

int FaultEntryIndex(const char* name)
{
    for (int i = 0; i < E_COUNT; ++i)
        if (strcmp(kNames[i], name) == 0)
            return i;
    return -1;
}

int FaultCallCount(int entry)
{
    return entry >= 0 && entry < E_COUNT ? s_Counts[entry] : 0;
}

bool FaultDelivered(void)
{
    return s_Delivered;
}

bool FaultHitRollBack(void)
{
    return s_HitRollBack;
}
