#include "world.h"

#include <string.h>

#include "install.h"
#include "text.h"

static const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
static const WCHAR kPendingName[] = L"PendingFileRenameOperations";
// The attributes a snapshot compares; the others the system keeps itself.
static const DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

PendingValue ReadPendingValue()
{
    PendingValue value;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExW(key, kPendingName, NULL, &value.type, NULL, &size) == ERROR_SUCCESS) {
        value.exists = true;
        value.data.resize(size);
        if (size)
            RegQueryValueExW(key, kPendingName, NULL, &value.type, (BYTE*)&value.data[0], &size);
        value.data.resize(size);
    }
    RegCloseKey(key);
    return value;
}

void WritePendingValue(const PendingValue& value)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    if (value.exists)
        RegSetValueExW(key, kPendingName, 0, value.type, (const BYTE*)value.data.data(), (DWORD)value.data.size());
    else
        RegDeleteValueW(key, kPendingName);
    RegCloseKey(key);
}

std::wstring Widen(const std::string& text)
{
    std::wstring wide(text.size(), L'\0');
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), (int)text.size(), &wide[0], (int)wide.size());
    wide.resize(length > 0 ? length : 0);
    return wide;
}

std::string MultiString(std::initializer_list<std::wstring> strings)
{
    std::wstring all;
    for (const std::wstring& s : strings) {
        all += s;
        all += L'\0';
    }
    all += L'\0';
    return std::string((const char*)all.data(), all.size() * sizeof(WCHAR));
}

ULONGLONG DayTime(int year, int month, int day)
{
    SYSTEMTIME time;
    memset(&time, 0, sizeof time);
    time.wYear = (WORD)year;
    time.wMonth = (WORD)month;
    time.wDay = (WORD)day;
    time.wHour = 12;
    FILETIME file;
    SystemTimeToFileTime(&time, &file);
    return (ULONGLONG)file.dwHighDateTime << 32 | file.dwLowDateTime;
}

// The directories of the world, below its root, by directory id.
static const char* const kDirNames[DIR_COUNT] = {"", "TEMP\\", "TARGET\\", "WINDOWS\\", "SYSTEM\\",
                                                 "SYSTEM32\\", "SYSTEM32\\DRIVERS\\"};

World::World(const std::string& root) : root_(root)
{
    RemoveTree(root_);
    CreateDirectoryA(root_.c_str(), NULL);
    for (DWORD id = DIR_TEMP; id <= DIR_DRIVERS; ++id) {
        CreateDirectoryA(Dir(id).c_str(), NULL);
        std::string lower = Dir(id);
        AsciiLowerCase(&lower[0]);
        CopyText(g_Dirs.path[id], lower.c_str(), MAX_PATH);
    }
    pendingBefore_ = ReadPendingValue();
}

World::~World()
{
    WritePendingValue(pendingBefore_);
    RemoveTree(root_);
}

std::string World::Dir(DWORD id) const
{
    return root_ + (id < DIR_COUNT ? kDirNames[id] : "");
}

static void SetWriteTime(const std::string& path, ULONGLONG writeTime)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    FILETIME time = {(DWORD)writeTime, (DWORD)(writeTime >> 32)};
    SetFileTime(file, NULL, NULL, &time);
    CloseHandle(file);
}

void World::Put(DWORD id, const std::string& name, const std::string& bytes, ULONGLONG writeTime,
                DWORD attributes) const
{
    std::string path = Path(id, name);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    WriteWhole(path, bytes);
    if (writeTime)
        SetWriteTime(path, writeTime);
    if (attributes)
        SetFileAttributesA(path.c_str(), attributes);
}

std::string World::Get(DWORD id, const std::string& name) const
{
    return ReadWhole(Path(id, name));
}

bool World::Has(DWORD id, const std::string& name) const
{
    return GetFileAttributesA(Path(id, name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

static void TakeFiles(const std::string& dir, const std::string& relative, Snapshot* snapshot)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string key = relative + name;
        AsciiUpperCase(&key[0]);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            snapshot->files[key + "\\"] = "<dir>";
            snapshot->attributes[key + "\\"] = 0;
            TakeFiles(dir + name + "\\", key + "\\", snapshot);
        } else {
            snapshot->files[key] = ReadWhole(dir + name);
            snapshot->attributes[key] = found.dwFileAttributes & kKeptAttributes;
            snapshot->times[key] =
                (ULONGLONG)found.ftLastWriteTime.dwHighDateTime << 32 | found.ftLastWriteTime.dwLowDateTime;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

Snapshot World::Take() const
{
    Snapshot snapshot;
    TakeFiles(root_, "", &snapshot);
    snapshot.pending = ReadPendingValue();
    return snapshot;
}

void World::Restore(const Snapshot& snapshot) const
{
    Snapshot now = Take();
    // Files first (deepest paths sort after their directories), then the
    // directories that were not there.
    for (auto it = now.files.rbegin(); it != now.files.rend(); ++it) {
        if (snapshot.files.count(it->first))
            continue;
        std::string path = root_ + it->first;
        if (it->second == "<dir>")
            RemoveTree(path);
        else {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    }
    for (const auto& file : snapshot.files) {
        std::string path = root_ + file.first;
        if (file.second == "<dir>") {
            CreateDirectoryA(path.c_str(), NULL);
            continue;
        }
        DWORD attributes = snapshot.attributes.at(file.first);
        bool same = now.files.count(file.first) && now.files[file.first] == file.second &&
                    now.times[file.first] == snapshot.times.at(file.first);
        if (!same) {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            WriteWhole(path, file.second);
            SetWriteTime(path, snapshot.times.at(file.first));
        }
        if (!same || now.attributes[file.first] != attributes)
            SetFileAttributesA(path.c_str(), attributes | FILE_ATTRIBUTE_ARCHIVE);
    }
    WritePendingValue(snapshot.pending);
}

static std::string Describe(const std::string& bytes)
{
    if (bytes.size() <= 24)
        return "\"" + bytes + "\"";
    return std::to_string(bytes.size()) + " bytes";
}

std::string CompareSnapshots(const Snapshot& expected, const Snapshot& actual,
                             bool (*skip)(const std::string& path, void* context), void* context)
{
    std::string out;
    for (const auto& file : expected.files) {
        if (skip && skip(file.first, context))
            continue;
        auto it = actual.files.find(file.first);
        if (it == actual.files.end())
            out += "missing " + file.first + "\n";
        else if (it->second != file.second)
            out += "changed " + file.first + ": " + Describe(it->second) + " instead of " + Describe(file.second) + "\n";
        else if (actual.attributes.at(file.first) != expected.attributes.at(file.first))
            out += "attributes of " + file.first + " changed\n";
    }
    for (const auto& file : actual.files)
        if (!expected.files.count(file.first) && !(skip && skip(file.first, context)))
            out += "extra " + file.first + "\n";
    if (!(expected.pending == actual.pending) && !(skip && skip("<pending>", context)))
        out += "PendingFileRenameOperations changed\n";
    return out;
}
