#include "engine_e2e.h"

#include <string.h>
#include <tlhelp32.h>

#include "e2e.h"

std::string g_PayloadDir;

std::string ContentOf(const std::string& label)
{
    if (!label.empty() && label[0] == '=')
        return label.substr(1);
    std::string path = label;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    std::string bytes;
    if (!ReadWholeFile(g_PayloadDir + path, &bytes))
        return "<no payload file " + label + ">";
    return bytes;
}

static bool IsImageName(const std::string& name)
{
    // "qnb" + 1 to 4 hex digits + ".tmp", as GetTempFileName makes them
    // (its number is 16 bits, printed without leading zeros).
    if (name.size() < 8 || name.compare(0, 3, "qnb") != 0 || name.compare(name.size() - 4, 4, ".tmp") != 0)
        return false;
    return name.find_first_not_of("0123456789abcdef", 3) == name.size() - 4;
}

// The label of the expected model whose bytes these are, or a description.
static std::string LabelOf(const std::string& bytes, const DirModel& expected)
{
    for (const auto& entry : expected)
        for (size_t start = 0; start <= entry.second.size();) {
            size_t end = entry.second.find('+', start);
            std::string label = entry.second.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (!label.empty() && label != "<dir>" && ContentOf(label) == bytes)
                return label;
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
    // Any packed file of the payload sets with these bytes.
    WIN32_FIND_DATAA set;
    HANDLE sets = FindFirstFileA((g_PayloadDir + "*").c_str(), &set);
    std::string found;
    for (BOOL more = sets != INVALID_HANDLE_VALUE; more; more = FindNextFileA(sets, &set)) {
        if (!(set.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || set.cFileName[0] == '.')
            continue;
        WIN32_FIND_DATAA file;
        HANDLE files = FindFirstFileA((g_PayloadDir + set.cFileName + "\\*").c_str(), &file);
        for (BOOL any = files != INVALID_HANDLE_VALUE; any; any = FindNextFileA(files, &file)) {
            std::string label = std::string(set.cFileName) + "/" + file.cFileName;
            if (!(file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && ContentOf(label) == bytes)
                found += (found.empty() ? "" : " or ") + label;
        }
        if (files != INVALID_HANDLE_VALUE)
            FindClose(files);
    }
    if (sets != INVALID_HANDLE_VALUE)
        FindClose(sets);
    if (!found.empty())
        return found;
    if (bytes.size() < 40 && bytes.find('\0') == std::string::npos)
        return "=" + bytes;
    return "<" + std::to_string(bytes.size()) + " other bytes>";
}

DirModel ReadDirectory(const std::string& dir, const DirModel& expected)
{
    DirModel model;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return model;
    do {
        std::string name = LowerCase(found.cFileName);
        if (name == "." || name == "..")
            continue;
        std::string key = IsImageName(name) ? "qnb*.tmp" : name;
        std::string label = "<dir>";
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            std::string bytes;
            ReadWholeFile(dir + found.cFileName, &bytes);
            // Payload files may share bytes: the label expected here wins.
            auto wanted = expected.find(key);
            bool asExpected = wanted != expected.end() && wanted->second.find('+') == std::string::npos &&
                              ContentOf(wanted->second) == bytes;
            label = asExpected ? wanted->second : LabelOf(bytes, expected);
        }
        std::string& entry = model[key];
        entry += (entry.empty() ? "" : "+") + label;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return model;
}

std::string CompareDirectory(const DirModel& expected, const DirModel& actual)
{
    std::string differences;
    for (const auto& entry : expected) {
        auto it = actual.find(entry.first);
        if (it == actual.end())
            differences += entry.first + ": missing, expected " + entry.second + "\n";
        else if (it->second != entry.second)
            differences += entry.first + ": " + it->second + ", expected " + entry.second + "\n";
    }
    for (const auto& entry : actual)
        if (!expected.count(entry.first))
            differences += entry.first + ": " + entry.second + ", not expected\n";
    return differences;
}

void PlantFile(const std::string& dir, const std::string& name, const std::string& label)
{
    std::string path = dir + name;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (label.empty())
        DeleteFileA(path.c_str());
    else
        WriteWholeFile(path, ContentOf(label));
}

std::string PendingValue()
{
    std::string value;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
        return value;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, "PendingFileRenameOperations", NULL, &type, NULL, &size) == ERROR_SUCCESS) {
        value.assign(size, '\0');
        if (size)
            RegQueryValueExA(key, "PendingFileRenameOperations", NULL, &type, (BYTE*)&value[0], &size);
        value.resize(size);
    }
    RegCloseKey(key);
    return value;
}

std::string LongUpper(const std::string& path)
{
    char buffer[MAX_PATH];
    DWORD length = GetLongPathNameA(path.c_str(), buffer, MAX_PATH);
    return UpperCase(length && length < MAX_PATH ? std::string(buffer, length) : path);
}

std::string ShortPath(const std::string& path)
{
    char buffer[MAX_PATH];
    DWORD length = GetShortPathNameA(path.c_str(), buffer, MAX_PATH);
    return length && length < MAX_PATH ? std::string(buffer, length) : path;
}

// "!" (replace an existing target) stays in front of the long path.
static std::string Canonical(std::string path)
{
    std::string replace = !path.empty() && path[0] == '!' ? "!" : "";
    path.erase(0, replace.size());
    if (path.compare(0, 4, "\\??\\") == 0)
        path.erase(0, 4);
    return path.empty() ? path : replace + LongUpper(path);
}

RenamePairs PendingPairs(const std::string& value)
{
    std::vector<std::string> strings;
    for (size_t start = 0; start < value.size();) {
        size_t end = value.find('\0', start);
        if (end == std::string::npos)
            end = value.size();
        strings.push_back(value.substr(start, end - start));
        start = end + 1;
    }
    // The list ends with an empty string; a pair may have an empty target.
    if (strings.size() % 2 == 1 && strings.back().empty())
        strings.pop_back();
    RenamePairs pairs;
    for (size_t i = 0; i + 1 < strings.size(); i += 2)
        pairs.emplace_back(Canonical(strings[i]), Canonical(strings[i + 1]));
    return pairs;
}

static DWORD LittleEndian(const std::string& bytes, size_t at)
{
    return (DWORD)(BYTE)bytes[at] | (DWORD)(BYTE)bytes[at + 1] << 8 | (DWORD)(BYTE)bytes[at + 2] << 16 |
           (DWORD)(BYTE)bytes[at + 3] << 24;
}

RenamePairs MoveRecords(const std::string& bytes)
{
    RenamePairs records;
    for (size_t at = 0; at < bytes.size();) {
        DWORD length = 0, source = 0, target = 0;
        if (bytes.size() - at >= 12) {
            length = LittleEndian(bytes, at);
            source = LittleEndian(bytes, at + 4);
            target = LittleEndian(bytes, at + 8);
        }
        if (length != 12 + source + target || length > bytes.size() - at) {
            records.emplace_back("damaged", std::to_string(at));
            break;
        }
        records.emplace_back(bytes.substr(at + 12, source), bytes.substr(at + 12 + source, target));
        at += length;
    }
    return records;
}

static std::string WithBackslash(const char* path, UINT length)
{
    std::string dir(path, length < MAX_PATH ? length : 0);
    if (dir.empty() || dir.back() != '\\')
        dir += '\\';
    return dir;
}

std::string WindowsDir()
{
    char path[MAX_PATH];
    return WithBackslash(path, GetWindowsDirectoryA(path, MAX_PATH));
}

std::string SystemDir()
{
    char path[MAX_PATH];
    return WithBackslash(path, GetSystemDirectoryA(path, MAX_PATH));
}

bool WaitForRestart(bool (*done)(void* context), void* context, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (!WinebootRunning() && done(context))
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(200);
    }
}
