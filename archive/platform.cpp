// Everything in the engine that differs between Windows and POSIX: file
// names, free space, removable drives, file status, modes and times,
// directories and listings. No other engine file knows which system it
// runs on, but held.cpp, the NT family's calls relative to a held folder.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "cxint.h"

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include "held.h"
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>
#endif

namespace {

// Longest path the platform module accepts; longer ones fail cleanly.
const size_t kPathMax = 4096;

// Copies path into out in the native form; false when it does not fit.
// Entry names use "\" between levels, which POSIX file names must not keep.
bool nativeForm(const char* path, char* out) {
    size_t length = strlen(path);
    if (length >= kPathMax) return false;
    for (size_t i = 0; i <= length; ++i) {
#ifdef _WIN32
        out[i] = path[i];
#else
        out[i] = path[i] == '\\' ? '/' : path[i];
#endif
    }
    return true;
}


// ---- temporary names -----------------------------------------------------------

// A fresh name is tried this many times before the folder counts as one
// where no file can be made.
const int kNameTries = 100;

uint64_t mix64(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// 64 bits that no other user of the machine can foresee: the system's
// random source, or, where it has none, clocks, ids and a running state.
uint64_t unpredictable(void) {
    static uint64_t state;
    uint64_t value = 0;
#ifdef _WIN32
    // RtlGenRandom, advapi32's since XP. A program that does not import the
    // library (arq.exe) has it only on request: it is loaded by its full
    // path in the system directory, never from the search path. (Set by
    // hand: a local static with an initialiser would pull the runtime's
    // thread-safe guards, and their exception support, into the installer.)
    typedef BOOLEAN(WINAPI * GenRandom)(PVOID, ULONG);
    static HMODULE advapi;
    if (!advapi) advapi = GetModuleHandleA("advapi32.dll");
    if (!advapi) {
        char path[MAX_PATH + 16];
        UINT length = GetSystemDirectoryA(path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            lstrcatA(path, "\\advapi32.dll");
            advapi = LoadLibraryA(path);
        }
    }
    GenRandom generate = advapi ? (GenRandom)(void*)GetProcAddress(advapi, "SystemFunction036") : nullptr;
    if (!generate || !generate(&value, sizeof value)) {
        LARGE_INTEGER counter;
        FILETIME now;
        QueryPerformanceCounter(&counter);
        GetSystemTimeAsFileTime(&now);
        value = (uint64_t)counter.QuadPart ^ ((uint64_t)now.dwHighDateTime << 32 | now.dwLowDateTime) ^
                ((uint64_t)GetCurrentProcessId() << 40) ^ GetTickCount();
    }
#else
    if (getrandom(&value, sizeof value, GRND_NONBLOCK) != (ssize_t)sizeof value) {
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        value = (uint64_t)now.tv_nsec ^ ((uint64_t)now.tv_sec << 30) ^ ((uint64_t)getpid() << 40);
    }
#endif
    state = mix64(state ^ value ^ (uint64_t)(uintptr_t)&value);
    return state;
}

// prefix (at most 3 characters), unpredictable letters and digits up to 8
// characters, ".$$$": an 8.3 name, the same in any letter case.
void freshName(const char* prefix, char* name) {
    static const char symbols[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    size_t length = strlen(prefix);
    if (length > 3) length = 3;
    memcpy(name, prefix, length);
    uint64_t bits = unpredictable();
    for (; length < 8; ++length, bits /= 36) name[length] = symbols[bits % 36];
    strcpy(name + 8, ".$$$");
}

bool isLevelSeparator(char c) {
    return c == '\\' || c == '/';
}

// Creates every missing directory of path, level by level from the left;
// errors are left to whoever uses the path next. False when out of memory.
bool makeLevels(const char* path) {
    char* copy = cxDup(path);
    if (!copy || !*copy) {
        cxFree(copy);
        return copy != nullptr;
    }
    // The character before p (0: a double-byte one, whose second byte may
    // be a backslash that separates nothing).
    char before = cxPlatCharSize(copy) == 2 ? 0 : *copy;
    for (char* p = copy + cxPlatCharSize(copy);; p += cxPlatCharSize(p)) {
        bool end = *p == 0;
        if (end || (isLevelSeparator(*p) && before != ':' && !isLevelSeparator(before))) {
            char keep = *p;
            *p = 0;
            if (!cxPlatExists(copy)) cxPlatMakeDir(copy);
            *p = keep;
        }
        if (end) break;
        before = cxPlatCharSize(p) == 2 ? 0 : *p;
    }
    cxFree(copy);
    return true;
}

// The place's path: base, a separator when base needs one, below, and a
// separator when below is not empty. *belowAt receives where below begins.
char* placePath(const char* base, const char* below, size_t* belowAt) {
    size_t baseLength = strlen(base), belowLength = strlen(below);
    char* path = (char*)cxAlloc(baseLength + belowLength + 3);
    if (!path) return nullptr;
    memcpy(path, base, baseLength);
    size_t at = baseLength;
    if (at > 0 && !isLevelSeparator(base[at - 1]) && base[at - 1] != ':') path[at++] = '\\';
    *belowAt = at;
    memcpy(path + at, below, belowLength);
    at += belowLength;
    if (belowLength > 0 && !isLevelSeparator(below[belowLength - 1])) path[at++] = '\\';
    path[at] = 0;
    return path;
}

// Starts a place: its path, and with create the base's missing levels.
bool startPlace(const char* base, const char* below, bool create, CxPlace* place, size_t* belowAt) {
    *place = CxPlace{-1, nullptr, nullptr, 0};
    place->path = placePath(base, below, belowAt);
    return place->path && (!create || !*base || makeLevels(base));
}

// Calls level(start, length) for each level of below; stops at the first
// that returns anything but CX_OK and returns that.
template <typename Level>
int16_t eachLevel(const char* below, Level level) {
    for (size_t start = 0; below[start];) {
        size_t end = start;
        while (below[end] && !isLevelSeparator(below[end])) end += cxPlatCharSize(below + end);
        if (end > start) {
            int16_t result = level(start, end);
            if (result != CX_OK) return result;
        }
        start = below[end] ? end + 1 : end;
    }
    return CX_OK;
}

}  // namespace

void cxPlatClosePlace(CxPlace* place) {
#ifdef _WIN32
    for (int i = 0; i < place->heldCount; ++i) CloseHandle(((HANDLE*)place->held)[i]);
#else
    if (place->fd >= 0) close(place->fd);
#endif
    cxFree(place->held);
    cxFree(place->path);
    *place = CxPlace{-1, nullptr, nullptr, 0};
}

char* cxPlatPathIn(const CxPlace* place, const char* name) {
    size_t length = strlen(place->path);
    char* path = (char*)cxAlloc(length + strlen(name) + 1);
    if (!path) return nullptr;
    memcpy(path, place->path, length);
    strcpy(path + length, name);
    return path;
}

namespace {

#ifndef _WIN32
// Directory part of a native path ("." when there is none).
void directoryOf(const char* path, char* out) {
    const char* slash = strrchr(path, '/');
    if (!slash) {
        strcpy(out, ".");
    } else if (slash == path) {
        strcpy(out, "/");
    } else {
        memcpy(out, path, (size_t)(slash - path));
        out[slash - path] = 0;
    }
}

// Lexical normalisation of an absolute path: no ".", "..", or repeated "/".
void normalise(char* path) {
    char* out = path;  // writes never overtake reads
    const char* in = path;
    while (*in) {
        while (*in == '/') ++in;
        if (!*in) break;
        const char* end = in;
        while (*end && *end != '/') ++end;
        size_t length = (size_t)(end - in);
        if (length == 1 && in[0] == '.') {
            // dropped
        } else if (length == 2 && in[0] == '.' && in[1] == '.') {
            while (out > path && *(out - 1) != '/') --out;
            if (out > path) --out;
        } else {
            *out++ = '/';
            memmove(out, in, length);
            out += length;
        }
        in = end;
    }
    if (out == path) *out++ = '/';
    *out = 0;
}
#endif

}  // namespace

FILE* cxPlatOpen(const char* path, const char* mode) {
    char native[kPathMax];
    if (!nativeForm(path, native)) return nullptr;
    return fopen(native, mode);
}

bool cxPlatRemove(const char* path) {
    char native[kPathMax];
    return nativeForm(path, native) && remove(native) == 0;
}

bool cxPlatExists(const char* path) {
    char native[kPathMax];
    struct stat info;
    return nativeForm(path, native) && stat(native, &info) == 0;
}

bool cxPlatStat(const char* path, CxFileStat* status) {
    char native[kPathMax];
#ifdef _WIN32
    struct _stati64 info;  // 64-bit size, so large files are seen as such
    if (!nativeForm(path, native) || _stati64(native, &info) != 0) return false;
#else
    struct stat info;
    if (!nativeForm(path, native) || stat(native, &info) != 0) return false;
#endif
    // The format's size and time fields are 32 bits: a size that does not
    // fit is flagged, a time that does not fit is held at the nearest end.
    long long size = (long long)info.st_size;
    long long mtime = (long long)info.st_mtime;
    status->size = (uint32_t)size;
    status->tooLarge = size > 0xFFFFFFFFLL;
    status->timeClamped = mtime < 0 || mtime > 0xFFFFFFFFLL;
    status->mtime = mtime < 0 ? 0 : mtime > 0xFFFFFFFFLL ? 0xFFFFFFFFu : (uint32_t)mtime;
    status->mode = (uint16_t)info.st_mode;
    status->ownerId = (uint32_t)info.st_uid;
    status->groupId = (uint32_t)info.st_gid;
    return true;
}

#ifdef _WIN32

bool cxPlatDriveOf(const char* path, int* drive) {
    char letter = 0;
    if (path && path[0] && path[1] == ':') {
        letter = path[0];
    } else {
        char current[MAX_PATH];
        DWORD length = GetCurrentDirectoryA(sizeof current, current);
        if (length > 1 && length < sizeof current && current[1] == ':') letter = current[0];
    }
    if (letter >= 'a' && letter <= 'z') letter = (char)(letter - 'a' + 'A');
    *drive = letter >= 'A' && letter <= 'Z' ? letter - 'A' : 0;
    return letter >= 'A' && letter <= 'Z';
}

int64_t cxPlatFreeBytes(const char* path, int* drive) {
    if (!cxPlatDriveOf(path, drive)) return -1;
    char root[4] = "A:\\";
    root[0] = (char)('A' + *drive);
    // The Ex form (95 OSR2 and NT 4 on) sees past 2 GB; the older one may
    // not. It is asked about the nearest existing folder of path, which on
    // Windows 2000 and later may be a volume mounted below the drive's root.
    char folder[MAX_PATH];
    char* filePart;
    DWORD length = GetFullPathNameA(path, sizeof folder, folder, &filePart);
    if (length == 0 || length >= sizeof folder) lstrcpyA(folder, root);
    for (size_t cut = cxFileNameAt(folder); cut > 3; cut = cxFileNameAt(folder)) {
        folder[cut] = 0;  // the folder, with its separator
        DWORD attributes = GetFileAttributesA(folder);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) break;
        folder[cut - 1] = 0;
    }
    typedef BOOL(WINAPI * FreeSpaceEx)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
    FreeSpaceEx freeSpaceEx =
        (FreeSpaceEx)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetDiskFreeSpaceExA");
    ULARGE_INTEGER available, total, free;
    if (freeSpaceEx && (freeSpaceEx(folder, &available, &total, &free) || freeSpaceEx(root, &available, &total, &free)))
        return available.QuadPart > 0x7FFFFFFFFFFFFFFFull ? INT64_MAX : (int64_t)available.QuadPart;
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
    if (!GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                           &totalClusters)) {
        return -1;
    }
    return (int64_t)freeClusters * sectorsPerCluster * bytesPerSector;
}

bool cxPlatIsRemovable(const char* path) {
    if (!path || !path[0] || path[1] != ':') return false;
    char root[4] = "A:\\";
    root[0] = path[0];
    return GetDriveTypeA(root) == DRIVE_REMOVABLE;
}

namespace {

// Path of name in the place; false when it does not fit a Windows path.
bool pathIn(const CxPlace* place, const char* name, char* path) {
    size_t length = strlen(place->path);
    if (length + strlen(name) >= MAX_PATH) return false;
    memcpy(path, place->path, length);
    strcpy(path + length, name);
    return true;
}

// The entry's time (seconds since 1970, UTC) on an open file.
void setFileTime(FILE* file, uint32_t time) {
    uint64_t ticks = ((uint64_t)time + 11644473600ull) * 10000000ull;
    FILETIME stamp = {(DWORD)ticks, (DWORD)(ticks >> 32)};
    SetFileTime((HANDLE)_get_osfhandle(_fileno(file)), nullptr, &stamp, &stamp);
}

// The stream of a file just made at path; null (the file closed and
// removed, through its handle when it was opened relative to a held
// folder, else by path) when the runtime cannot take it.
FILE* streamOf(HANDLE handle, const char* path, bool held = false) {
    int descriptor = _open_osfhandle((intptr_t)handle, _O_BINARY);
    FILE* file = descriptor >= 0 ? _fdopen(descriptor, "w+b") : nullptr;
    if (!file) {
        if (held) cxHeldDelete(handle);
        if (descriptor >= 0) _close(descriptor);
        else CloseHandle(handle);
        if (!held) DeleteFileA(path);
    }
    return file;
}

// The innermost held folder of a place on the NT family; null on the 95
// family (and on an NT without the native calls), whose place is used by
// path.
HANDLE heldFolder(const CxPlace* place) {
    return place->heldCount > 0 && cxHeldAvailable() ? ((HANDLE*)place->held)[place->heldCount - 1] : nullptr;
}

}  // namespace

FILE* cxPlatCreateNew(const char* path) {
    HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) return streamOf(handle, path);
    errno = GetLastError() == ERROR_FILE_EXISTS ? EEXIST : EACCES;
    return nullptr;
}

bool cxPlatKeptStamp(FILE* file, CxStamp* stamp) {
    // Only the read-only attribute is kept, and a file open for writing
    // has none.
    (void)file;
    *stamp = CxStamp{0x81B6, 0, false, true, 0, 0};
    return true;
}

// Times are set on the open handle; Windows keeps no permission bits beyond
// the read-only attribute, which is set by name once the file is closed: the
// temporary file's name, in a place whose levels are held open. (Windows
// 2000 and XP let an ordinary user make junctions, which lead to folders
// only; links to files came later.)
bool cxPlatStampAndClose(FILE* file, const char* path, const CxStamp* stamp) {
    bool flushed = fflush(file) == 0;
    if (flushed && stamp && stamp->withTime) setFileTime(file, stamp->time);
    bool closed = fclose(file) == 0;
    if (stamp && !(stamp->mode & 0x80)) {
        DWORD attributes = GetFileAttributesA(path);
        if (attributes != INVALID_FILE_ATTRIBUTES)
            SetFileAttributesA(path, attributes | FILE_ATTRIBUTE_READONLY);
    }
    return flushed && closed;
}

namespace {

// The attributes of a held level, through its handle. A link that Wine
// makes of a POSIX symbolic link shows its reparse bit by name only; the
// name asked is the held level's, which no one can give to another file.
DWORD heldAttributes(HANDLE handle, const char* path) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return INVALID_FILE_ATTRIBUTES;
    DWORD byName = GetFileAttributesA(path);
    if (byName != INVALID_FILE_ATTRIBUTES) info.dwFileAttributes |= byName & FILE_ATTRIBUTE_REPARSE_POINT;
    return info.dwFileAttributes;
}

// Checks (and with create makes) the level at path by name: CX_OK,
// CX_ENOFILE when it is missing, CX_ELINK, CX_EFAIL. For the 95 family,
// which cannot open a directory and has neither junctions nor links.
int16_t checkLevel(const char* path, bool create) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES && create) {
        CreateDirectoryA(path, nullptr);
        attributes = GetFileAttributesA(path);
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) return create ? (int16_t)CX_EFAIL : (int16_t)CX_ENOFILE;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return CX_ELINK;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? (int16_t)CX_OK : (int16_t)CX_EFAIL;
}

// The NT family's level: opened (with create made) in the folder held
// before it, never by a path that someone could meanwhile lead elsewhere,
// then held, and checked through its handle: no junction or link, and what
// the folder lists under its name. CX_OK, CX_ENOFILE, CX_ELINK, CX_EFAIL.
int16_t holdLevelIn(const char* name, const char* path, bool create, CxPlace* place) {
    HANDLE* held = (HANDLE*)place->held;
    HANDLE folder = held[place->heldCount - 1];
    DWORD error = 0;
    HANDLE handle = cxHeldOpen(folder, name, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, create ? CX_HELD_OPEN_IF : CX_HELD_OPEN, true, &error);
    if (handle == INVALID_HANDLE_VALUE) {
        if (!create && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) return CX_ENOFILE;
        errno = error == ERROR_DIRECTORY ? ENOTDIR : EACCES;
        cxNoteSystemError();
        return CX_EFAIL;
    }
    held[place->heldCount++] = handle;
    DWORD attributes = heldAttributes(handle, path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return CX_EFAIL;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !cxHeldListedAs(folder, name, handle)) return CX_ELINK;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? (int16_t)CX_OK : (int16_t)CX_EFAIL;
}

}  // namespace

int16_t cxPlatOpenPlace(const char* base, const char* below, bool create, CxPlace* place,
                        size_t* linkEnd) {
    size_t belowAt = 0;
    if (!startPlace(base, below, create, place, &belowAt)) return CX_ENOMEM;
    // Each level below the base must be a directory of its own, not a
    // junction leading elsewhere, and stay so while the place is open. On
    // the NT family the base (links followed: the caller named it) and each
    // level are held, and each level is opened in the one before it.
    size_t levels = 0;
    eachLevel(below, [&](size_t, size_t) -> int16_t {
        ++levels;
        return CX_OK;
    });
    bool nt = cxHeldAvailable();
    if (nt) {
        if (!(place->held = cxAlloc((levels + 1) * sizeof(HANDLE)))) return CX_ENOMEM;
        HANDLE handle = CreateFileA(*base ? base : ".", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            if (!create && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) return CX_OK;
            errno = EACCES;
            cxNoteSystemError();
            return CX_EFAIL;
        }
        ((HANDLE*)place->held)[place->heldCount++] = handle;
    }
    bool missing = false;
    int16_t result = eachLevel(below, [&](size_t start, size_t end) -> int16_t {
        char keep = place->path[belowAt + end];
        place->path[belowAt + end] = 0;
        int16_t level = CX_ENOMEM;
        if (!nt) {
            level = checkLevel(place->path, create);
        } else if (char* name = cxDup(place->path + belowAt + start)) {
            level = holdLevelIn(name, place->path, create, place);
            cxFree(name);
        }
        place->path[belowAt + end] = keep;
        missing = level == CX_ENOFILE;
        if (level == CX_ELINK) *linkEnd = belowAt + end;
        return level;
    });
    if (missing) return CX_OK;
    if (result == CX_OK) place->fd = 0;  // open: every level is there
    return result;
}

FILE* cxPlatCreateIn(const CxPlace* place, const char* prefix, char* name) {
    if (place->fd < 0) return nullptr;
    HANDLE folder = heldFolder(place);
    for (int tries = 0; tries < kNameTries; ++tries) {
        freshName(prefix, name);
        char path[MAX_PATH];
        if (!pathIn(place, name, path)) return nullptr;
        if (folder) {
            DWORD error = 0;
            HANDLE handle = cxHeldOpen(folder, name, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                       CX_HELD_CREATE, false, &error);
            if (handle != INVALID_HANDLE_VALUE) return streamOf(handle, path, true);
            if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) continue;  // taken
            errno = EACCES;
            cxNoteSystemError();
            return nullptr;
        }
        HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        // A name that exists (a file, a directory, anything) is taken.
        bool taken = handle == INVALID_HANDLE_VALUE && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
        if (handle != INVALID_HANDLE_VALUE) return streamOf(handle, path);
        if (!taken) {
            errno = EACCES;
            cxNoteSystemError();
            return nullptr;
        }
    }
    return nullptr;
}

bool cxPlatExistsIn(const CxPlace* place, const char* name, bool* writable) {
    char path[MAX_PATH];
    if (place->fd < 0 || !pathIn(place, name, path)) return false;
    DWORD attributes = GetFileAttributesA(path);
    *writable = !(attributes & FILE_ATTRIBUTE_READONLY);
    return attributes != INVALID_FILE_ATTRIBUTES;
}

bool cxPlatRemoveIn(const CxPlace* place, const char* name) {
    char path[MAX_PATH];
    if (HANDLE folder = heldFolder(place)) {
        DWORD error = 0;
        HANDLE handle = cxHeldOpen(folder, name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   CX_HELD_OPEN, false, &error);
        if (handle == INVALID_HANDLE_VALUE) return false;
        bool gone = cxHeldDelete(handle);
        return CloseHandle(handle) && gone;
    }
    return pathIn(place, name, path) && DeleteFileA(path);
}

int16_t cxPlatPlaceFile(const CxPlace* place, FILE* file, const char* temp, const char* final,
                        const CxStamp* stamp) {
    // On the NT family the open file is renamed through its handle into the
    // held folder, replacing what is there, and made read-only through it.
    if (HANDLE folder = heldFolder(place)) {
        HANDLE handle = (HANDLE)_get_osfhandle(_fileno(file));
        if (fflush(file) != 0) {
            fclose(file);
            return CX_EWRITE;
        }
        if (stamp && stamp->withTime) setFileTime(file, stamp->time);
        int16_t result = CX_OK;
        DWORD error = 0;
        if (!cxHeldRename(handle, folder, final, &error)) {
            errno = EACCES;
            cxNoteSystemError();
            result = CX_EFAIL;
        } else if (stamp && !(stamp->mode & 0x80)) {
            cxHeldSetReadOnly(handle);
        }
        if (fclose(file) != 0 && result == CX_OK) result = CX_EWRITE;
        return result;
    }
    char from[MAX_PATH], to[MAX_PATH];
    int16_t result = CX_EFAIL;
    if (pathIn(place, temp, from) && pathIn(place, final, to)) {
        // A file that is open cannot be renamed here: it is closed first.
        if (!cxPlatStampAndClose(file, from, stamp)) {
            result = CX_EWRITE;
        } else if (MoveFileA(from, to) ||
                   (GetFileAttributesA(to) != INVALID_FILE_ATTRIBUTES && DeleteFileA(to) && MoveFileA(from, to))) {
            result = CX_OK;
        } else {
            errno = EACCES;
            cxNoteSystemError();
            result = CX_EFAIL;
        }
        file = nullptr;
    }
    if (file) fclose(file);
    return result;
}

bool cxPlatMakeDir(const char* path) {
    return CreateDirectoryA(path, nullptr) != 0;
}

bool cxPlatFullPath(const char* path, char* out, size_t outSize) {
    char* filePart;
    DWORD length = GetFullPathNameA(path, (DWORD)outSize, out, &filePart);
    return length > 0 && length < outSize;
}

bool cxPlatCurrentDir(char* out, size_t outSize) {
    DWORD length = GetCurrentDirectoryA((DWORD)outSize, out);
    return length > 0 && length < outSize;
}

int16_t cxPlatListDir(const char* directory, void (*visit)(const char* name, void* context),
                      void* context) {
    char search[MAX_PATH + 4];
    size_t length = strlen(directory);
    if (length + 5 > sizeof search) return CX_EFAIL;
    memcpy(search, directory, length);
    if (length > 0 && directory[length - 1] != '\\' && directory[length - 1] != '/' &&
        directory[length - 1] != ':') {
        search[length++] = '\\';
    }
    strcpy(search + length, "*.*");
    WIN32_FIND_DATAA found;
    HANDLE handle = FindFirstFileA(search, &found);
    if (handle == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_FILE_NOT_FOUND ? (int16_t)CX_OK : (int16_t)CX_EFAIL;
    }
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) visit(found.cFileName, context);
    } while (FindNextFileA(handle, &found));
    FindClose(handle);
    return CX_OK;
}

bool cxPlatTruncate(FILE* file) {
    if (fflush(file) != 0) return false;
    long position = ftell(file);
    return position >= 0 && _chsize(_fileno(file), position) == 0;
}

bool cxPlatSameFile(const char* first, const char* second) {
    char a[MAX_PATH], b[MAX_PATH];
    if (!cxPlatFullPath(first, a, sizeof a) || !cxPlatFullPath(second, b, sizeof b)) return false;
    return lstrcmpiA(a, b) == 0 && GetFileAttributesA(a) != INVALID_FILE_ATTRIBUTES;
}

char cxPlatSeparator(void) {
    return '\\';
}

size_t cxPlatCharSize(const char* text) {
    return IsDBCSLeadByte((BYTE)text[0]) && text[1] ? 2 : 1;
}

#else  // POSIX

bool cxPlatDriveOf(const char* path, int* drive) {
    (void)path;
    *drive = 0;
    return false;
}

int64_t cxPlatFreeBytes(const char* path, int* drive) {
    *drive = 0;
    char native[kPathMax];
    char directory[kPathMax];
    if (!path || !nativeForm(path, native)) return -1;
    directoryOf(native, directory);
    // The output's directory may not exist yet: ask its nearest existing parent.
    struct statvfs info;
    while (statvfs(directory, &info) != 0) {
        if (strcmp(directory, ".") == 0 || strcmp(directory, "/") == 0) return -1;
        char parent[kPathMax];
        directoryOf(directory, parent);
        strcpy(directory, parent);
    }
    unsigned long long bytes = (unsigned long long)info.f_bavail * info.f_frsize;
    return bytes > (unsigned long long)INT64_MAX ? INT64_MAX : (int64_t)bytes;
}

bool cxPlatIsRemovable(const char* path) {
    (void)path;
    return false;
}

namespace {

// The permission bits a file put in place gets: those of the file it
// replaces when that belonged to the new file's owner (setgid only with the
// same group as well); else the stored bits, or a new file's, less what
// the user's file-creation mask withholds. Another user's setuid program
// rewritten by root stays no setuid program, and an archive never makes a
// file writable for everyone.
mode_t permissionBits(int descriptor, const CxStamp* stamp) {
    mode_t mask = umask(0);
    umask(mask);
    if (!stamp->exactMode) return (mode_t)(stamp->mode & 0777) & ~mask;
    struct stat mine;
    if (fstat(descriptor, &mine) != 0 || mine.st_uid != stamp->ownerId) return (mode_t)0666 & ~mask;
    mode_t bits = (mode_t)(stamp->mode & 07777);
    return mine.st_gid == stamp->groupId ? bits : bits & ~(mode_t)S_ISGID;
}

// Gives the open file its stamp: times, then permission bits.
bool stampOpen(FILE* file, const CxStamp* stamp) {
    if (fflush(file) != 0) return false;
    if (!stamp) return true;
    int descriptor = fileno(file);
    if (stamp->withTime) {
        struct timespec times[2] = {{(time_t)stamp->time, 0}, {(time_t)stamp->time, 0}};
        futimens(descriptor, times);
    }
    fchmod(descriptor, permissionBits(descriptor, stamp));
    return true;
}

}  // namespace

FILE* cxPlatCreateNew(const char* path) {
    char native[kPathMax];
    if (!nativeForm(path, native)) return nullptr;
    int descriptor = open(native, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    FILE* file = descriptor >= 0 ? fdopen(descriptor, "r+b") : nullptr;
    if (!file && descriptor >= 0) {
        close(descriptor);
        unlink(native);
    }
    return file;
}

bool cxPlatKeptStamp(FILE* file, CxStamp* stamp) {
    struct stat info;
    if (fstat(fileno(file), &info) != 0) return false;
    *stamp = CxStamp{(uint16_t)info.st_mode, 0, false, true, (uint32_t)info.st_uid, (uint32_t)info.st_gid};
    return true;
}

bool cxPlatStampAndClose(FILE* file, const char* path, const CxStamp* stamp) {
    (void)path;
    bool stamped = stampOpen(file, stamp);
    return fclose(file) == 0 && stamped;
}

int16_t cxPlatOpenPlace(const char* base, const char* below, bool create, CxPlace* place,
                        size_t* linkEnd) {
    size_t belowAt = 0;
    if (!startPlace(base, below, create, place, &belowAt)) return CX_ENOMEM;
    char native[kPathMax];
    if (*base && !nativeForm(base, native)) return CX_EFAIL;
    int fd = open(*base ? native : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        if (!create && errno == ENOENT) return CX_OK;
        cxNoteSystemError();
        return CX_EFAIL;
    }
    // Each level below the base is opened from the one above it and never
    // through a link, so a link planted at any level (even while this runs)
    // is refused instead of followed.
    char level[kPathMax];
    int16_t result = eachLevel(below, [&](size_t start, size_t end) -> int16_t {
        memcpy(level, below + start, end - start);
        level[end - start] = 0;
        const int how = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int next = openat(fd, level, how);
        if (next < 0 && errno == ENOENT) {
            if (!create) return CX_ENOFILE;
            if (mkdirat(fd, level, 0777) != 0 && errno != EEXIST) {
                cxNoteSystemError();
                return CX_EFAIL;
            }
            next = openat(fd, level, how);
        }
        if (next < 0) {
            int error = errno;
            struct stat info;
            if (fstatat(fd, level, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode)) {
                *linkEnd = belowAt + end;
                return CX_ELINK;
            }
            errno = error;
            cxNoteSystemError();
            return CX_EFAIL;
        }
        close(fd);
        fd = next;
        return CX_OK;
    });
    if (result == CX_OK) {
        place->fd = fd;
        return CX_OK;
    }
    close(fd);
    return result == CX_ENOFILE ? (int16_t)CX_OK : result;  // missing: nothing below exists yet
}

FILE* cxPlatCreateIn(const CxPlace* place, const char* prefix, char* name) {
    if (place->fd < 0) return nullptr;
    for (int tries = 0; tries < kNameTries; ++tries) {
        freshName(prefix, name);
        int descriptor = openat(place->fd, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (descriptor < 0) {
            if (errno == EEXIST) continue;  // taken, by a file, a directory or a link
            cxNoteSystemError();
            return nullptr;
        }
        FILE* file = fdopen(descriptor, "w+b");
        if (!file) {
            close(descriptor);
            unlinkat(place->fd, name, 0);
        }
        return file;
    }
    return nullptr;
}

bool cxPlatExistsIn(const CxPlace* place, const char* name, bool* writable) {
    struct stat info;
    if (place->fd < 0 || fstatat(place->fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
    // A link is replaced, never written through: it can always go.
    *writable = S_ISLNK(info.st_mode) || (info.st_mode & S_IWUSR);
    return true;
}

bool cxPlatRemoveIn(const CxPlace* place, const char* name) {
    return place->fd >= 0 && unlinkat(place->fd, name, 0) == 0;
}

int16_t cxPlatPlaceFile(const CxPlace* place, FILE* file, const char* temp, const char* final,
                        const CxStamp* stamp) {
    if (!stampOpen(file, stamp)) {
        fclose(file);
        return CX_EWRITE;
    }
    // Renamed while still open, so that what arrived can be compared with
    // this very file: another user who can write the folder may have put
    // something else at the temporary name.
    int16_t result = CX_OK;
    struct stat mine, there;
    if (renameat(place->fd, temp, place->fd, final) != 0) {
        cxNoteSystemError();
        result = CX_EFAIL;
    } else if (fstat(fileno(file), &mine) != 0 || fstatat(place->fd, final, &there, AT_SYMLINK_NOFOLLOW) != 0 ||
               mine.st_dev != there.st_dev || mine.st_ino != there.st_ino) {
        unlinkat(place->fd, final, 0);
        errno = EPERM;
        cxNoteSystemError();
        result = CX_EFAIL;
    }
    if (fclose(file) != 0 && result == CX_OK) result = CX_EWRITE;
    return result;
}

bool cxPlatMakeDir(const char* path) {
    char native[kPathMax];
    return nativeForm(path, native) && mkdir(native, 0777) == 0;
}

bool cxPlatFullPath(const char* path, char* out, size_t outSize) {
    char native[kPathMax];
    char full[2 * kPathMax + 2];
    if (!nativeForm(path, native)) return false;
    if (native[0] == '/') {
        strcpy(full, native);
    } else {
        if (!getcwd(full, kPathMax)) return false;
        strcat(full, "/");
        strcat(full, native);
    }
    normalise(full);
    if (strlen(full) >= outSize) return false;
    strcpy(out, full);
    return true;
}

bool cxPlatCurrentDir(char* out, size_t outSize) {
    return getcwd(out, outSize) != nullptr;
}

namespace {
int compareNames(const void* a, const void* b) {
    return strcmp(*(char* const*)a, *(char* const*)b);
}
}  // namespace

int16_t cxPlatListDir(const char* directory, void (*visit)(const char* name, void* context),
                      void* context) {
    char native[kPathMax];
    if (!nativeForm(*directory ? directory : ".", native)) return CX_EFAIL;
    DIR* listing = opendir(native);
    if (!listing) return CX_EFAIL;
    // Names are collected and sorted so that archives come out the same on
    // every run (readdir order is arbitrary).
    size_t count = 0, room = 0;
    char** names = nullptr;
    bool ok = true;
    size_t baseLength = strlen(native);
    while (struct dirent* item = readdir(listing)) {
        char full[kPathMax + 260];
        if (baseLength + strlen(item->d_name) + 2 > sizeof full) continue;
        snprintf(full, sizeof full, "%s/%s", native, item->d_name);
        struct stat info;
        if (stat(full, &info) != 0 || !S_ISREG(info.st_mode)) continue;
        if (count == room) {
            size_t bigger = room ? room * 2 : 32;
            char** grown = (char**)cxAlloc(bigger * sizeof(char*));
            if (!grown) {
                ok = false;
                break;
            }
            if (count) memcpy(grown, names, count * sizeof(char*));
            cxFree(names);
            names = grown;
            room = bigger;
        }
        names[count] = cxDup(item->d_name);
        if (!names[count]) {
            ok = false;
            break;
        }
        ++count;
    }
    closedir(listing);
    if (count) qsort(names, count, sizeof(char*), compareNames);
    for (size_t i = 0; i < count; ++i) {
        if (ok) visit(names[i], context);
        cxFree(names[i]);
    }
    cxFree(names);
    return ok ? (int16_t)CX_OK : (int16_t)CX_ENOMEM;
}

bool cxPlatTruncate(FILE* file) {
    if (fflush(file) != 0) return false;
    long position = ftell(file);
    return position >= 0 && ftruncate(fileno(file), position) == 0;
}

bool cxPlatSameFile(const char* first, const char* second) {
    char a[kPathMax], b[kPathMax];
    struct stat infoA, infoB;
    return nativeForm(first, a) && nativeForm(second, b) && stat(a, &infoA) == 0 &&
           stat(b, &infoB) == 0 && infoA.st_dev == infoB.st_dev && infoA.st_ino == infoB.st_ino;
}

char cxPlatSeparator(void) {
    return '/';
}

size_t cxPlatCharSize(const char* text) {
    (void)text;
    return 1;
}

#endif
