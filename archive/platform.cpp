// Everything in the engine that differs between Windows and POSIX: file
// names, free space, removable drives, file status, modes and times,
// directories and listings. No other engine file knows which system it
// runs on.
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "cxint.h"

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#include <sys/utime.h>
#else
#include <dirent.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utime.h>
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

bool cxPlatRename(const char* from, const char* to) {
    char nativeFrom[kPathMax];
    char nativeTo[kPathMax];
    if (!nativeForm(from, nativeFrom) || !nativeForm(to, nativeTo)) return false;
    if (rename(nativeFrom, nativeTo) == 0) return true;
    cxNoteSystemError();
    return false;
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

int32_t cxPlatFreeBytes(const char* path, int* drive) {
    char root[4] = "A:\\";
    char letter = 0;
    if (path && path[0] && path[1] == ':') {
        letter = path[0];
    } else {
        char current[MAX_PATH];
        DWORD length = GetCurrentDirectoryA(sizeof current, current);
        if (length > 1 && length < sizeof current && current[1] == ':') letter = current[0];
    }
    if (letter >= 'a' && letter <= 'z') letter = (char)(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z') {
        *drive = 0;
        return -1;
    }
    *drive = letter - 'A';
    root[0] = letter;
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
    if (!GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                           &totalClusters)) {
        return -1;
    }
    unsigned long long bytes = (unsigned long long)freeClusters * sectorsPerCluster * bytesPerSector;
    return bytes > 0x7FFFFFFFull ? 0x7FFFFFFF : (int32_t)bytes;
}

bool cxPlatIsRemovable(const char* path) {
    if (!path || !path[0] || path[1] != ':') return false;
    char root[4] = "A:\\";
    root[0] = path[0];
    return GetDriveTypeA(root) == DRIVE_REMOVABLE;
}

bool cxPlatSetModeTime(const char* path, uint16_t mode, uint32_t time) {
    // Times first: a read-only file cannot have its times changed.
    struct _utimbuf times;
    times.actime = (time_t)time;
    times.modtime = (time_t)time;
    bool ok = _utime(path, &times) == 0;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (mode & 0x80) {
        attributes &= ~(DWORD)FILE_ATTRIBUTE_READONLY;
    } else {
        attributes |= FILE_ATTRIBUTE_READONLY;
    }
    return SetFileAttributesA(path, attributes) && ok;
}

bool cxPlatSetMode(const char* path, uint16_t mode) {
    // Windows keeps no permission bits beyond the read-only attribute,
    // which a file that was just rewritten does not have.
    (void)path;
    (void)mode;
    return true;
}

bool cxPlatMakeDir(const char* path) {
    return CreateDirectoryA(path, nullptr) != 0;
}

bool cxPlatIsWritable(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY);
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

bool cxPlatListDir(const char* directory, void (*visit)(const char* name, void* context),
                   void* context) {
    char search[MAX_PATH + 4];
    size_t length = strlen(directory);
    if (length + 5 > sizeof search) return false;
    memcpy(search, directory, length);
    if (length > 0 && directory[length - 1] != '\\' && directory[length - 1] != '/' &&
        directory[length - 1] != ':') {
        search[length++] = '\\';
    }
    strcpy(search + length, "*.*");
    WIN32_FIND_DATAA found;
    HANDLE handle = FindFirstFileA(search, &found);
    if (handle == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) visit(found.cFileName, context);
    } while (FindNextFileA(handle, &found));
    FindClose(handle);
    return true;
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

int32_t cxPlatFreeBytes(const char* path, int* drive) {
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
    return bytes > 0x7FFFFFFFull ? 0x7FFFFFFF : (int32_t)bytes;
}

bool cxPlatIsRemovable(const char* path) {
    (void)path;
    return false;
}

bool cxPlatSetModeTime(const char* path, uint16_t mode, uint32_t time) {
    char native[kPathMax];
    if (!nativeForm(path, native)) return false;
    struct utimbuf times;
    times.actime = (time_t)time;
    times.modtime = (time_t)time;
    bool ok = utime(native, &times) == 0;
    // Permission bits as stored, less what the user's file-creation mask
    // withholds: an archive must not make files writable for everyone.
    mode_t mask = umask(0);
    umask(mask);
    return chmod(native, (mode_t)(mode & 0777) & ~mask) == 0 && ok;
}

bool cxPlatSetMode(const char* path, uint16_t mode) {
    char native[kPathMax];
    return nativeForm(path, native) && chmod(native, (mode_t)(mode & 07777)) == 0;
}

bool cxPlatMakeDir(const char* path) {
    char native[kPathMax];
    return nativeForm(path, native) && mkdir(native, 0777) == 0;
}

bool cxPlatIsWritable(const char* path) {
    // The owner-write bit, as the read-only attribute is on Windows (access()
    // would say yes to everything for the superuser).
    char native[kPathMax];
    struct stat info;
    return nativeForm(path, native) && stat(native, &info) == 0 && (info.st_mode & S_IWUSR);
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

bool cxPlatListDir(const char* directory, void (*visit)(const char* name, void* context),
                   void* context) {
    char native[kPathMax];
    if (!nativeForm(*directory ? directory : ".", native)) return false;
    DIR* listing = opendir(native);
    if (!listing) return false;
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
            char** grown = (char**)realloc(names, bigger * sizeof(char*));
            if (!grown) {
                ok = false;
                break;
            }
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
        free(names[i]);
    }
    free(names);
    return ok;
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
