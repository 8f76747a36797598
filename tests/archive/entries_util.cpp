#include "entries_util.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "cxint.h"

bool WriteArchive(const std::string& path, const std::vector<TestEntry>& entries,
                  const Bytes& prefix, bool archiveHeader) {
    int slot = cxOpenFile(path.c_str(), CX_CREATE | CX_WRITE);
    if (slot < 0) return false;
    bool ok = prefix.empty() || cxWrite(slot, prefix.data(), (uint32_t)prefix.size()) == (int32_t)prefix.size();
    if (archiveHeader) {
        uint8_t header[12] = {0x67, 0x57, 0x04, 0x00};
        header[3] = 0x02;
        uint32_t total = 0;
        for (const TestEntry& e : entries) total += (uint32_t)e.data.size();
        for (int i = 0; i < 4; ++i) header[4 + i] = (uint8_t)(total >> (8 * i));
        ok = ok && cxWrite(slot, header, 12) == 12;
    }
    EntryInfo record;
    for (const TestEntry& e : entries) {
        memset(&record, 0, sizeof record);
        record.destination = slot;
        record.versionNeeded = CX_VERSION_PACKED;
        snprintf(record.name, sizeof record.name, "%s", e.name.c_str());
        record.time = e.time;
        record.mode = e.mode;
        record.packedSize = record.unpackedSize = (uint32_t)e.data.size();
        cxCrcReady();
        record.checkValue = ~cxCrcUpdate(0xFFFFFFFFu, e.data.data(), e.data.size());
        record.method = CX_METHOD_STORED;
        record.originCode = CX_ORIGIN_ENGINE;
        record.flags = e.flags;
        ok = ok && cxWriteEntryHeader(&record) == 0;
        ok = ok && (e.data.empty() || cxWrite(slot, e.data.data(), (uint32_t)e.data.size()) == (int32_t)e.data.size());
    }
    memset(&record, 0, sizeof record);
    record.destination = slot;
    ok = ok && cxWriteEntryHeader(&record) == 0;
    cxCloseFile(slot);
    return ok;
}

std::vector<std::string> EntryNames(const std::string& path, int16_t* end, int32_t* endPosition) {
    std::vector<std::string> names;
    int slot = cxOpenFile(path.c_str(), CX_READ);
    if (slot < 0) {
        if (end) *end = (int16_t)slot;
        return names;
    }
    EntryInfo record;
    memset(&record, 0, sizeof record);
    record.source = slot;
    record.destination = -1;
    int16_t r = cxFirstEntry(&record);
    while (r == 0) {
        names.push_back(record.name);
        r = cxNextEntry(&record);
    }
    if (end) *end = r;
    if (endPosition) *endPosition = cxTell(slot);
    cxCloseFile(slot);
    return names;
}

namespace {
CallbackLog* current;

int16_t Record(EntryInfo* record, CxEvent code, int32_t value) {
    if (!current) return 0;
    current->events.push_back(Event{code, value, record ? record->name : ""});
    return current->hook ? current->hook(record, code, value) : 0;
}
}  // namespace

CallbackLog::CallbackLog() {
    current = this;
    cxSetCallback(CX_CALLBACK_EVENT, Record);
    cxSetCallback(CX_CALLBACK_OVERWRITE, nullptr);
}

CallbackLog::~CallbackLog() {
    cxSetCallback(CX_CALLBACK_EVENT, nullptr);
    cxSetCallback(CX_CALLBACK_OVERWRITE, nullptr);
    current = nullptr;
}

std::vector<int16_t> CallbackLog::codes() const {
    std::vector<int16_t> out;
    for (const Event& e : events) out.push_back(e.code);
    return out;
}

bool CallbackLog::saw(int16_t code) const {
    return count(code) > 0;
}

int CallbackLog::count(int16_t code) const {
    int n = 0;
    for (const Event& e : events) n += e.code == code;
    return n;
}

std::vector<std::string> FileNames(const std::string& directory) {
    std::vector<std::string> names;
    cxPlatListDir(directory.c_str(), [](const char* name, void* out) {
        ((std::vector<std::string>*)out)->push_back(name);
    }, &names);
    std::sort(names.begin(), names.end());
    return names;
}

int TemporaryFiles(const std::string& directory) {
    int count = 0;
    for (const std::string& n : FileNames(directory))
        count += n.size() > 6 && n.compare(0, 2, "CX") == 0 && n.compare(n.size() - 4, 4, ".$$$") == 0;
    return count;
}
