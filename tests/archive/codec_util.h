// Helpers of the codec tests: pack bytes into a one-entry archive, expand an
// entry into memory, build raw entry headers, and record callback events.
#ifndef CODEC_UTIL_H
#define CODEC_UTIL_H

#include <string>
#include <utility>
#include <vector>

#include "cxint.h"
#include "files_util.h"
#include "stream_util.h"

// Writes data to dir/name, packs that file with cxPackEntry into a fresh
// archive file dir/"PACKED.ARQ" (entry at offset 0, followed by an end
// record when packing succeeded). *record receives the entry record;
// options are cxPackEntry's.
int16_t PackBytes(const TempDir& dir, const std::string& name, const Bytes& data,
                  EntryInfo* record, unsigned options = 0);
std::string PackedPath(const TempDir& dir);

// Reads the entry header at 'offset' of the archive file and expands the
// entry into dir/"EXPANDED.OUT"; *output receives the file's bytes.
// *afterData receives the source position after expansion.
int16_t ExpandAt(const TempDir& dir, const std::string& archive, long offset, Bytes* output,
                 EntryInfo* record = nullptr, long* afterData = nullptr);

// Packs and expands; true when the expansion gave back the same bytes.
bool RoundTrip(const Bytes& data, const std::string& name, EntryInfo* record = nullptr,
               unsigned options = 0);

// Records every event callback; may set the stop code at a given code.
struct EventLog {
    std::vector<std::pair<int, int32_t>> events;
    int stopAtCode = 0;      // 0: never
    int stopAfterCount = 0;  // stop at the n-th event of stopAtCode (1 = first)
    bool has(int code) const;
    int count(int code) const;
    int32_t lastValue(int code) const;
};
// Installs the log as the event callback (null removes it).
void InstallEventLog(EventLog* log);

#endif
