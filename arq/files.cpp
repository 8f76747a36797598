#include "files.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

bool arqIsSeparator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

size_t arqCharSize(const char* text) {
#ifdef _WIN32
    return IsDBCSLeadByte((BYTE)text[0]) && text[1] ? 2 : 1;
#else
    (void)text;
    return 1;
#endif
}

std::string arqBaseName(const std::string& path) {
    size_t at = 0;
    for (size_t i = 0; i < path.size(); i += arqCharSize(path.c_str() + i)) {
        if (arqIsSeparator(path[i]) || (path[i] == ':' && arqIsSeparator('\\'))) at = i + 1;
    }
    return path.substr(at);
}

std::string arqDirectoryPart(const std::string& path) {
    return path.substr(0, path.size() - arqBaseName(path).size());
}

bool arqFileSystemOf(const std::string& path, std::string* key, std::string* existing) {
    std::string level = arqDirectoryPart(path);
    for (;;) {
        if (level.empty()) level = ".";
        while (level.size() > 1 && arqIsSeparator(level.back()) && level[level.size() - 2] != ':') level.pop_back();
#ifdef _WIN32
        // The folder the volume holding the level is mounted at (Windows
        // 2000 and later mount volumes in folders); the drive before.
        DWORD attributes = GetFileAttributesA(level.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            typedef BOOL(WINAPI * VolumePathName)(LPCSTR, LPSTR, DWORD);
            VolumePathName volumePathName =
                (VolumePathName)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetVolumePathNameA");
            char volume[MAX_PATH * 2];
            std::string full = arqFullPath(level);
            if (volumePathName && volumePathName(full.c_str(), volume, sizeof volume)) {
                *key = volume;
            } else {
                *key = full.substr(0, full.size() > 1 && full[1] == ':' ? 2 : 0);
            }
            CharUpperA(&(*key)[0]);
            *existing = level;
            return true;
        }
#else
        ArqFileInfo info = arqStat(level);
        if (info.kind == ARQ_DIRECTORY) {
            *key = std::to_string(info.device);
            *existing = level;
            return true;
        }
#endif
        std::string parent = arqDirectoryPart(level);
        if (level == "." || parent == level) return false;
        level = parent;
    }
}

#ifdef _WIN32

ArqFileInfo arqStat(const std::string& path) {
    ArqFileInfo info = ArqFileInfo();
    struct _stati64 status;
    if (_stati64(path.c_str(), &status) != 0) {
        info.kind = ARQ_MISSING;
        info.error = errno;
        return info;
    }
    info.kind = (status.st_mode & _S_IFDIR) ? ARQ_DIRECTORY : (status.st_mode & _S_IFREG) ? ARQ_FILE : ARQ_OTHER;
    info.size = (uint64_t)status.st_size;
    info.mtime = (int64_t)status.st_mtime;
    return info;
}

bool arqListDir(const std::string& directory, std::vector<std::string>* names, int* error) {
    std::string search = directory;
    if (!search.empty() && !arqIsSeparator(search.back()) && search.back() != ':') search += '\\';
    search += "*";
    WIN32_FIND_DATAA found;
    HANDLE handle = FindFirstFileA(search.c_str(), &found);
    if (handle == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) return true;
        *error = EACCES;
        return false;
    }
    do {
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
            names->push_back(found.cFileName);
    } while (FindNextFileA(handle, &found));
    FindClose(handle);
    std::sort(names->begin(), names->end());
    return true;
}

std::string arqFullPath(const std::string& path) {
    char full[MAX_PATH * 2];
    char* filePart;
    DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, &filePart);
    return length > 0 && length < sizeof full ? std::string(full) : path;
}

std::string arqCurrentDir(void) {
    char current[MAX_PATH * 2];
    DWORD length = GetCurrentDirectoryA(sizeof current, current);
    std::string result = length > 0 && length < sizeof current ? current : "";
    if (!result.empty() && !arqIsSeparator(result.back())) result += '\\';
    return result;
}

bool arqSamePath(const std::string& a, const std::string& b) {
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

bool arqSameFile(const std::string& a, const std::string& b) {
    return arqSamePath(arqFullPath(a), arqFullPath(b)) && arqStat(a).kind != ARQ_MISSING;
}

#else  // POSIX

ArqFileInfo arqStat(const std::string& path) {
    ArqFileInfo info = ArqFileInfo();
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
        info.error = errno;
        struct stat link;
        info.kind = lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode) ? ARQ_DANGLING : ARQ_MISSING;
        return info;
    }
    info.kind = S_ISDIR(status.st_mode) ? ARQ_DIRECTORY : S_ISREG(status.st_mode) ? ARQ_FILE : ARQ_OTHER;
    info.size = (uint64_t)status.st_size;
    info.mtime = (int64_t)status.st_mtime;
    info.device = (uint64_t)status.st_dev;
    info.inode = (uint64_t)status.st_ino;
    return info;
}

bool arqListDir(const std::string& directory, std::vector<std::string>* names, int* error) {
    DIR* listing = opendir(directory.empty() ? "." : directory.c_str());
    if (!listing) {
        *error = errno;
        return false;
    }
    while (struct dirent* item = readdir(listing)) {
        if (strcmp(item->d_name, ".") != 0 && strcmp(item->d_name, "..") != 0) names->push_back(item->d_name);
    }
    closedir(listing);
    std::sort(names->begin(), names->end());
    return true;
}

std::string arqFullPath(const std::string& path) {
    std::string full = path;
    if (full.empty() || full[0] != '/') full = arqCurrentDir() + full;
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= full.size()) {
        size_t end = full.find('/', at);
        if (end == std::string::npos) end = full.size();
        std::string part = full.substr(at, end - at);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    std::string result;
    for (const std::string& part : parts) result += "/" + part;
    return result.empty() ? "/" : result;
}

std::string arqCurrentDir(void) {
    char current[4096];
    std::string result = getcwd(current, sizeof current) ? current : "";
    if (result.empty() || result.back() != '/') result += '/';
    return result;
}

bool arqSamePath(const std::string& a, const std::string& b) {
    return a == b;
}

bool arqSameFile(const std::string& a, const std::string& b) {
    ArqFileInfo x = arqStat(a), y = arqStat(b);
    return x.kind != ARQ_MISSING && x.kind != ARQ_DANGLING && y.kind == x.kind &&
           x.device == y.device && x.inode == y.inode;
}

#endif
