// A throwaway installation world for the engine's tests: the six
// directories under one root (g_Dirs points at them), files with chosen
// bytes, versions and times, and snapshots of everything a run may change:
// every file under the root and the Session Manager's
// PendingFileRenameOperations value.
#ifndef TESTS_ENGINE_WORLD_H
#define TESTS_ENGINE_WORLD_H

#include <windows.h>

#include <map>
#include <string>

#include "winfiles.h"

// The pending-rename value of the Session Manager key, its bytes as the
// registry holds them (UTF-16 for a REG_MULTI_SZ).
struct PendingValue {
    bool exists = false;
    DWORD type = 0;
    std::string data;
    bool operator==(const PendingValue& other) const
    {
        return exists == other.exists && (!exists || (type == other.type && data == other.data));
    }
};
PendingValue ReadPendingValue();
void WritePendingValue(const PendingValue& value);
// A REG_MULTI_SZ of NUL-terminated strings and a final NUL, as its bytes.
std::string MultiString(std::initializer_list<std::wstring> strings);
// A text of the ANSI code page as UTF-16.
std::wstring Widen(const std::string& text);

struct Snapshot {
    std::map<std::string, std::string> files;  // upper-case path below the root -> bytes
    std::map<std::string, ULONGLONG> times;    // their last-write times (not compared)
    std::map<std::string, DWORD> attributes;   // read-only, hidden and system
    PendingValue pending;
};

class World {
public:
    // Creates root (a path with a trailing backslash) and the directories,
    // and points g_Dirs at them. The pending value as it is now comes back
    // when the world goes.
    explicit World(const std::string& root);
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    const std::string& root() const { return root_; }
    std::string Dir(DWORD id) const;  // with a trailing backslash
    std::string Path(DWORD id, const std::string& name) const { return Dir(id) + name; }

    // Writes a file; a zero time leaves the file's own time, zero
    // attributes its own attributes.
    void Put(DWORD id, const std::string& name, const std::string& bytes, ULONGLONG writeTime = 0,
             DWORD attributes = 0) const;
    std::string Get(DWORD id, const std::string& name) const;
    bool Has(DWORD id, const std::string& name) const;

    Snapshot Take() const;
    // Makes the files under the root and the pending value exactly those of
    // the snapshot (files not in it are removed).
    void Restore(const Snapshot& snapshot) const;

private:
    std::string root_;
    PendingValue pendingBefore_;
};

// Differences between two snapshots (bytes, attributes, the pending value),
// one line each ("" when equal), leaving
// out the paths for which skip returns true.
std::string CompareSnapshots(const Snapshot& expected, const Snapshot& actual,
                             bool (*skip)(const std::string& path, void* context) = nullptr,
                             void* context = nullptr);

// A file time of a calendar day (UTC, noon).
ULONGLONG DayTime(int year, int month, int day);

#endif
