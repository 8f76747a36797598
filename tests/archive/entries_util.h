// Test helpers for whole archives: writing archives of stored entries with
// chosen fields, reading entry names back, and recording callbacks.
#ifndef ENTRIES_UTIL_H
#define ENTRIES_UTIL_H

#include <stdint.h>
#include <functional>
#include <string>
#include <vector>

#include "cx.h"
#include "files_util.h"

struct TestEntry {
    std::string name;
    Bytes data;
    uint32_t flags = 0;
    uint16_t mode = 0x81B6;
    uint32_t time = 1000000000u;  // 2001-09-09 01:46:40 UTC
};

// prefix, an optional 12-byte archive header, the entries stored (method 1)
// and the end record.
bool WriteArchive(const std::string& path, const std::vector<TestEntry>& entries,
                  const Bytes& prefix = Bytes(), bool archiveHeader = false);

// Entry names in archive order; *end receives the code that ended the walk
// (-10 for a sound archive) and *endPosition the position after it.
std::vector<std::string> EntryNames(const std::string& path, int16_t* end = nullptr,
                                    int32_t* endPosition = nullptr);

// The names of the files in directory, sorted.
std::vector<std::string> FileNames(const std::string& directory);
// Files whose names begin with "CX" and end with ".$$$" in directory.
int TemporaryFiles(const std::string& directory);

struct Event {
    int16_t code;
    int32_t value;
    std::string name;
};

// Records every event-callback call; an optional hook may act on the record
// and choose the return value.
class CallbackLog {
public:
    CallbackLog();   // installs itself as the event callback
    ~CallbackLog();  // removes both callbacks
    std::vector<Event> events;
    std::function<int16_t(EntryInfo*, int16_t, int32_t)> hook;
    std::vector<int16_t> codes() const;
    bool saw(int16_t code) const;
    int count(int16_t code) const;
};

#endif
