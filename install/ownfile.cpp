// Plain files in folders others can write, checked and deleted through one
// handle. A link planted at a name is caught two ways: opened with the
// reparse-point flag it shows as a reparse point, and where the system
// resolves links while opening anyway (symbolic links of Wine's host file
// system) the handle's name on its volume is not the folder's name plus the
// entry's own. Deletion marks the opened file itself for deletion, so a
// name changed between the check and the deletion deletes nothing else.
// The handle calls come from ntdll, which every NT process has loaded; the
// 95 family has neither them nor links.
#include "ownfile.h"

#include <string.h>

#include "text.h"

enum { FILE_BASIC_CLASS = 4, FILE_NAME_CLASS = 9, FILE_DISPOSITION_CLASS = 13 };

typedef LONG(WINAPI* FileInformationCall)(HANDLE, ULONG_PTR* ioStatus, PVOID, ULONG, ULONG);
typedef ULONG(WINAPI* StatusToErrorCall)(LONG);

// A call of the NT family's ntdll; NULL on the 95 family, whose ntdll
// offers none of them that works.
static FARPROC NtCall(const char* name)
{
    if (GetVersion() & 0x80000000)
        return NULL;
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll ? GetProcAddress(ntdll, name) : NULL;
}

static FileInformationCall FileCall(const char* name)
{
    return (FileInformationCall)(void*)NtCall(name);
}

DWORD NoFollowFlag(void)
{
    // Reparse points came with Windows 2000; NT 4.0 and the 95 family have
    // none, and are not asked a flag they do not know.
    DWORD version = GetVersion();
    return !(version & 0x80000000) && LOBYTE(LOWORD(version)) >= 5 ? FILE_FLAG_OPEN_REPARSE_POINT : 0;
}

BOOL DeletesThroughHandles(void)
{
    return FileCall("NtSetInformationFile") != NULL;
}

// The name of the file of handle on its volume ("\WINDOWS\TEMP\X.TMP"), as
// the system resolved it when the handle was opened.
static BOOL NameOnVolume(HANDLE file, WCHAR* name, DWORD capacity)
{
    FileInformationCall query = FileCall("NtQueryInformationFile");
    struct {
        ULONG length;
        WCHAR text[2 * MAX_PATH];
    } info;
    ULONG_PTR io[2];
    if (!query || query(file, io, &info, sizeof info, FILE_NAME_CLASS) != 0)
        return FALSE;
    DWORD chars = info.length / sizeof(WCHAR);
    if (chars >= capacity || chars > 2 * MAX_PATH)
        return FALSE;
    memcpy(name, info.text, chars * sizeof(WCHAR));
    name[chars] = 0;
    return TRUE;
}

// Whether the file of handle (on the volume of that serial number) is the
// entry that path names in its folder, the folder taken as the system
// resolves it.
static BOOL IsAtPath(HANDLE file, DWORD volume, const char* path)
{
    if (!FileCall("NtQueryInformationFile"))
        return TRUE;
    char folder[MAX_PATH];
    WCHAR leaf[MAX_PATH];
    DWORD length = DirectoryLength(path);
    if (length == 0 || length >= sizeof folder || !path[length] ||
        !MultiByteToWideChar(CP_ACP, 0, path + length, -1, leaf, MAX_PATH))
        return FALSE;
    memcpy(folder, path, length);
    // "C:\" names the root; "C:\TEMP\" is opened as "C:\TEMP".
    folder[length > 1 && folder[length - 2] != ':' ? length - 1 : length] = 0;
    HANDLE directory = CreateFileA(folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (directory == INVALID_HANDLE_VALUE)
        return FALSE;
    WCHAR expected[3 * MAX_PATH + 2];
    WCHAR actual[2 * MAX_PATH + 1];
    BY_HANDLE_FILE_INFORMATION info;
    BOOL named = GetFileInformationByHandle(directory, &info) && info.dwVolumeSerialNumber == volume &&
                 NameOnVolume(directory, expected, 2 * MAX_PATH + 1) && NameOnVolume(file, actual, 2 * MAX_PATH + 1);
    CloseHandle(directory);
    if (!named)
        return FALSE;
    int end = lstrlenW(expected);
    if (end == 0 || expected[end - 1] != L'\\')
        lstrcatW(expected, L"\\");
    lstrcatW(expected, leaf);
    return lstrcmpiW(expected, actual) == 0;
}

const char* ForeignFileReason(HANDLE file, const char* path)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) != FILE_TYPE_DISK)
        return "not a disk file";
    if (!GetFileInformationByHandle(file, &info))
        return "its facts cannot be read";
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return "a directory";
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return "a link or mount point";
    if (info.nNumberOfLinks != 1)
        return "a file with more than one name";
    if (!IsAtPath(file, info.dwVolumeSerialNumber, path))
        return "a link to another place";
    return NULL;
}

// Rights to read a file's facts; the 95 family knows no finer ones than
// reading.
static DWORD FactsAccess(void)
{
    return (GetVersion() & 0x80000000) ? GENERIC_READ : FILE_READ_ATTRIBUTES;
}

const char* ForeignFileAt(const char* path)
{
    HANDLE file = CreateFileA(path, FactsAccess(), FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              NoFollowFlag(), NULL);
    if (file == INVALID_HANDLE_VALUE)
        return NULL;
    const char* reason = ForeignFileReason(file, path);
    CloseHandle(file);
    return reason;
}

// The Win32 error of a failed handle call.
static DWORD ErrorOfStatus(LONG status)
{
    StatusToErrorCall convert = (StatusToErrorCall)(void*)NtCall("RtlNtStatusToDosError");
    return convert ? convert(status) : ERROR_ACCESS_DENIED;
}

// Clears a read-only attribute and marks the file for deletion when the
// handle is closed; 0 or the failure's status.
static LONG MarkForDeletion(FileInformationCall set, HANDLE file, DWORD attributes)
{
    ULONG_PTR io[2];
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        // Times of 0 are left as they are.
        struct {
            LARGE_INTEGER times[4];
            ULONG attributes;
        } basic;
        memset(&basic, 0, sizeof basic);
        basic.attributes = (attributes & ~FILE_ATTRIBUTE_READONLY) ? attributes & ~FILE_ATTRIBUTE_READONLY
                                                                  : FILE_ATTRIBUTE_NORMAL;
        LONG status = set(file, io, &basic, sizeof basic, FILE_BASIC_CLASS);
        if (status != 0)
            return status;
    }
    BOOLEAN deleted = TRUE;
    return set(file, io, &deleted, sizeof deleted, FILE_DISPOSITION_CLASS);
}

BOOL DeleteWhenClosed(HANDLE file)
{
    FileInformationCall set = FileCall("NtSetInformationFile");
    return set && MarkForDeletion(set, file, 0) == 0;
}

PlainDelete DeletePlainFile(const char* path, BOOL clearReadOnly, const char** reason)
{
    *reason = NULL;
    FileInformationCall set = FileCall("NtSetInformationFile");
    DWORD access = set ? DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES : GENERIC_READ;
    HANDLE file = CreateFileA(path, access, 0, NULL, OPEN_EXISTING, NoFollowFlag(), NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return PLAIN_ABSENT;
        // A directory does not open as a file.
        DWORD attributes = GetFileAttributesA(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            *reason = "a directory";
            return PLAIN_REFUSED;
        }
        SetLastError(error);
        return PLAIN_FAILED;
    }
    BY_HANDLE_FILE_INFORMATION info;
    *reason = ForeignFileReason(file, path);
    DWORD attributes = GetFileInformationByHandle(file, &info) ? info.dwFileAttributes : 0;
    if (!*reason && (attributes & FILE_ATTRIBUTE_READONLY) && !clearReadOnly)
        *reason = "read-only";
    if (*reason) {
        CloseHandle(file);
        return PLAIN_REFUSED;
    }
    if (set) {
        LONG status = MarkForDeletion(set, file, attributes);
        CloseHandle(file);
        if (status == 0)
            return PLAIN_DELETED;
        SetLastError(ErrorOfStatus(status));
        return PLAIN_FAILED;
    }
    // The 95 family: the name is the file's only one, and no link can lie
    // between the check and the deletion.
    CloseHandle(file);
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path) ? PLAIN_DELETED : PLAIN_FAILED;
}
