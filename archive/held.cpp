// Files and folders named relative to a held folder handle, with ntdll's
// native calls, which the NT family has and the 95 family lacks. They are
// looked up at run time, so the program still loads on Windows 95.
#ifdef _WIN32
#include "held.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <winternl.h>

namespace {

typedef NTSTATUS(NTAPI* CreateFileCall)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                        ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
typedef NTSTATUS(NTAPI* SetInformationCall)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
typedef NTSTATUS(NTAPI* QueryDirectoryCall)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG,
                                            BOOLEAN, PUNICODE_STRING, BOOLEAN);
typedef ULONG(NTAPI* ToDosErrorCall)(NTSTATUS);

struct Calls {
    bool looked;
    CreateFileCall createFile;
    SetInformationCall setInformation;
    QueryDirectoryCall queryDirectory;
    ToDosErrorCall toDosError;
} calls;

const ULONG kDirectoryFile = 0x1, kSynchronous = 0x20, kNonDirectoryFile = 0x40, kBackupIntent = 0x4000,
            kOpenReparsePoint = 0x200000;
const ULONG kCaseInsensitive = 0x40;
const ULONG kBasicInformation = 4, kRenameInformation = 10, kDispositionInformation = 13,
            kIdBothDirectoryInformation = 37;
const NTSTATUS kInvalidParameter = (NTSTATUS)0xC000000D;

struct BasicInformation {
    LARGE_INTEGER creation, access, write, change;  // 0: left as they are
    ULONG attributes;
};

struct RenameInformation {
    BOOLEAN replace;
    HANDLE folder;
    ULONG nameLength;  // bytes
    WCHAR name[MAX_PATH];
};

struct IdBothDirectoryInformation {
    ULONG next, index;
    LARGE_INTEGER creation, access, write, change, size, allocated;
    ULONG attributes, nameLength, eaSize;
    CCHAR shortNameLength;
    WCHAR shortName[12];
    LARGE_INTEGER id;
    WCHAR name[MAX_PATH];
};
static_assert(offsetof(IdBothDirectoryInformation, id) == 96, "the system's layout");

const Calls& native(void) {
    if (!calls.looked) {
        calls.looked = true;
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        if (ntdll && !(GetVersion() & 0x80000000u)) {
            calls.createFile = (CreateFileCall)(void*)GetProcAddress(ntdll, "NtCreateFile");
            calls.setInformation = (SetInformationCall)(void*)GetProcAddress(ntdll, "NtSetInformationFile");
            calls.queryDirectory = (QueryDirectoryCall)(void*)GetProcAddress(ntdll, "NtQueryDirectoryFile");
            calls.toDosError = (ToDosErrorCall)(void*)GetProcAddress(ntdll, "RtlNtStatusToDosError");
        }
    }
    return calls;
}

// name in UTF-16, its length in characters; 0 when it does not convert.
int wideName(const char* name, WCHAR* wide) {
    int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, wide, MAX_PATH);
    return length > 1 ? length - 1 : 0;
}

bool setInformation(HANDLE file, void* information, ULONG size, ULONG kind) {
    IO_STATUS_BLOCK status;
    return native().setInformation(file, &status, information, size, kind) >= 0;
}

}  // namespace

bool cxHeldAvailable(void) {
    const Calls& c = native();
    return c.createFile && c.setInformation && c.queryDirectory && c.toDosError;
}

HANDLE cxHeldOpen(HANDLE folder, const char* name, ACCESS_MASK access, ULONG share,
                  CxHeldDisposition disposition, bool directory, DWORD* error) {
    WCHAR wide[MAX_PATH];
    int length = wideName(name, wide);
    if (!length || !cxHeldAvailable()) {
        *error = ERROR_INVALID_NAME;
        return INVALID_HANDLE_VALUE;
    }
    UNICODE_STRING objectName = {(USHORT)(length * 2), (USHORT)(length * 2), wide};
    OBJECT_ATTRIBUTES attributes = {sizeof attributes, folder, &objectName, kCaseInsensitive, nullptr, nullptr};
    ULONG options = kSynchronous | (directory ? kDirectoryFile | kBackupIntent : kNonDirectoryFile);
    HANDLE handle = INVALID_HANDLE_VALUE;
    IO_STATUS_BLOCK io;
    NTSTATUS status = native().createFile(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr,
                                          FILE_ATTRIBUTE_NORMAL, share, disposition, options | kOpenReparsePoint,
                                          nullptr, 0);
    // NT 4 knows no reparse points and may refuse the flag: nothing there
    // is followed anyway.
    if (status == kInvalidParameter)
        status = native().createFile(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr,
                                     FILE_ATTRIBUTE_NORMAL, share, disposition, options, nullptr, 0);
    if (status >= 0) return handle;
    *error = native().toDosError(status);
    return INVALID_HANDLE_VALUE;
}

bool cxHeldListedAs(HANDLE folder, const char* name, HANDLE opened) {
    WCHAR wide[MAX_PATH];
    int length = wideName(name, wide);
    if (!length || !cxHeldAvailable()) return false;
    UNICODE_STRING mask = {(USHORT)(length * 2), (USHORT)(length * 2), wide};
    IdBothDirectoryInformation listed;
    IO_STATUS_BLOCK io;
    NTSTATUS status = native().queryDirectory(folder, nullptr, nullptr, nullptr, &io, &listed, sizeof listed,
                                              kIdBothDirectoryInformation, TRUE, &mask, TRUE);
    // Before XP the listing has no file ids; the handle, which opened a
    // junction itself, told all there is.
    if (status < 0) return native().toDosError(status) == ERROR_INVALID_PARAMETER;
    if (listed.attributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(opened, &info)) return false;
    uint64_t id = (uint64_t)info.nFileIndexHigh << 32 | info.nFileIndexLow;
    return listed.id.QuadPart == 0 || id == 0 || (uint64_t)listed.id.QuadPart == id;
}

bool cxHeldRename(HANDLE file, HANDLE folder, const char* name, DWORD* error) {
    RenameInformation rename;
    memset(&rename, 0, sizeof rename);
    int length = wideName(name, rename.name);
    if (!length || !cxHeldAvailable()) {
        *error = ERROR_INVALID_NAME;
        return false;
    }
    rename.replace = TRUE;
    rename.folder = folder;
    rename.nameLength = (ULONG)length * 2;
    IO_STATUS_BLOCK io;
    NTSTATUS status = native().setInformation(file, &io, &rename, sizeof rename, kRenameInformation);
    if (status >= 0) return true;
    *error = native().toDosError(status);
    return false;
}

bool cxHeldDelete(HANDLE file) {
    BOOLEAN gone = TRUE;
    return cxHeldAvailable() && setInformation(file, &gone, sizeof gone, kDispositionInformation);
}

bool cxHeldSetReadOnly(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!cxHeldAvailable() || !GetFileInformationByHandle(file, &info)) return false;
    BasicInformation basic;
    memset(&basic, 0, sizeof basic);
    basic.attributes = (info.dwFileAttributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_READONLY;
    return setInformation(file, &basic, sizeof basic, kBasicInformation);
}

#endif
