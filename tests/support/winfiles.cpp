#include "winfiles.h"

#include <windows.h>

std::string ReadWhole(const std::string& path)
{
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char chunk[16384];
    DWORD got;
    while (ReadFile(file, chunk, sizeof chunk, &got, NULL) && got)
        text.append(chunk, got);
    CloseHandle(file);
    return text;
}

bool WriteWhole(const std::string& path, const std::string& bytes)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, NULL);
    CloseHandle(file);
    return ok && written == bytes.size();
}

void RemoveTree(const std::string& dir)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = dir + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path + "\\");
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(dir.c_str());
}

// Wine's Windows programs are host processes: the host's own system calls
// (i386: 83 symlink, 10 unlink, 38 rename) reach its file system under Wine's back.
static long HostCall(long number, const char* first, const char* second)
{
    long result;
    __asm__ volatile("int $0x80" : "=a"(result) : "a"(number), "b"(first), "c"(second) : "memory");
    return result;
}

static std::string HostPath(const std::string& path)
{
    typedef char*(CDECL * UnixName)(LPCWSTR);
    UnixName unixName = (UnixName)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    WCHAR wide[MAX_PATH];
    if (!unixName || !MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH))
        return "";
    char* name = unixName(wide);
    std::string result = name ? name : "";
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

bool PlantHostLink(const std::string& link, const std::string& target)
{
    std::string from = HostPath(link), to = HostPath(target);
    return !from.empty() && !to.empty() && HostCall(83, to.c_str(), from.c_str()) == 0;
}

bool RemoveHostLink(const std::string& link)
{
    std::string from = HostPath(link);
    return !from.empty() && HostCall(10, from.c_str(), NULL) == 0;
}

bool HostRename(const std::string& from, const std::string& to)
{
    std::string source = HostPath(from), target = HostPath(to);
    return !source.empty() && !target.empty() && HostCall(38, source.c_str(), target.c_str()) == 0;
}
