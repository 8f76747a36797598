// Helpers of the codec tests.
#include "codec_util.h"

#include <stdio.h>
#include <string.h>

std::string PackedPath(const TempDir& dir) { return dir.file("PACKED.ARQ"); }

int16_t PackBytes(const TempDir& dir, const std::string& name, const Bytes& data,
                  EntryInfo* record, unsigned options) {
    std::string input = dir.file(name);
    if (!WriteFileBytes(input, data)) return -100;
    int source = cxOpenFile(input.c_str(), CX_READ);
    int destination = cxOpenFile(PackedPath(dir).c_str(), CX_WRITE | CX_CREATE | CX_READ);
    if (source < 0 || destination < 0) return -101;
    memset(record, 0, sizeof *record);
    record->source = source;
    record->destination = destination;
    record->versionNeeded = CX_VERSION_PACKED;
    record->originCode = CX_ORIGIN_ENGINE;
    snprintf(record->name, sizeof record->name, "%s", name.c_str());
    int16_t result = cxPackEntry(record, options);
    if (result == CX_OK) {
        EntryInfo end = *record;
        end.name[0] = 0;
        cxWriteEntryHeader(&end);
    }
    cxCloseFile(source);
    cxCloseFile(destination);
    return result;
}

int16_t ExpandAt(const TempDir& dir, const std::string& archive, long offset, Bytes* output,
                 EntryInfo* record, long* afterData) {
    EntryInfo local;
    if (!record) record = &local;
    std::string outPath = dir.file("EXPANDED.OUT");
    int source = cxOpenFile(archive.c_str(), CX_READ);
    if (source < 0) return -101;
    memset(record, 0, sizeof *record);
    record->source = source;
    record->destination = -1;
    cxSeek(source, (int32_t)offset, SEEK_SET);
    int16_t result = cxReadEntryHeader(record);
    if (result == CX_OK) {
        int destination = cxOpenFile(outPath.c_str(), CX_WRITE | CX_CREATE);
        record->destination = destination;
        snprintf(record->name, sizeof record->name, "%s", outPath.c_str());
        result = cxExpandEntry(record);
        if (afterData) *afterData = cxTell(source);
        cxCloseFile(destination);
        *output = ReadFileBytes(outPath);
    }
    cxCloseFile(source);
    return result;
}

bool RoundTrip(const Bytes& data, const std::string& name, EntryInfo* record, unsigned options) {
    TempDir dir;
    EntryInfo local;
    if (!record) record = &local;
    if (PackBytes(dir, name, data, record, options) != CX_OK) return false;
    Bytes output;
    if (ExpandAt(dir, PackedPath(dir), 0, &output) != CX_OK) return false;
    return output == data;
}

static void put(Bytes* out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; i++) out->push_back((uint8_t)(value >> (8 * i)));
}

Bytes EncodeHeader(const RawHeader& h) {
    Bytes out = {0x67, 0x57, 0x04, 0x01, h.versionMadeBy, h.versionNeeded};
    put(&out, h.nameLengthOverride >= 0 ? (uint32_t)h.nameLengthOverride : (uint32_t)h.name.size(),
        2);
    out.insert(out.end(), h.name.begin(), h.name.end());
    put(&out, h.time, 4);
    put(&out, h.mode, 2);
    put(&out, 0, 2);
    put(&out, 0, 2);
    put(&out, h.packedSize, 4);
    put(&out, h.unpackedSize, 4);
    put(&out, h.checkValue, 4);
    out.push_back(h.method);
    out.push_back(h.origin);
    out.push_back(h.flags);
    out.push_back(0);
    put(&out, 0, 5);
    put(&out, (uint32_t)h.extra.size(), 2);
    out.insert(out.end(), h.extra.begin(), h.extra.end());
    return out;
}

void Append(Bytes* to, const Bytes& more) { to->insert(to->end(), more.begin(), more.end()); }

Bytes EntryBytes(const std::string& name, uint8_t method, const Bytes& data, uint32_t unpacked) {
    RawHeader header;
    header.name = name;
    header.method = method;
    header.packedSize = (uint32_t)data.size();
    header.unpackedSize = unpacked;
    header.checkValue = Crc(data);
    Bytes bytes = EncodeHeader(header);
    Append(&bytes, data);
    return bytes;
}

void AppendEnd(Bytes* archive) {
    RawHeader end;
    end.name = "";
    Append(archive, EncodeHeader(end));
}

uint32_t Crc(const Bytes& data) {
    return ~cxCrcUpdate(0xFFFFFFFFu, data.data(), data.size());
}

bool EventLog::has(int code) const { return count(code) > 0; }

int EventLog::count(int code) const {
    int n = 0;
    for (const auto& e : events) n += e.first == code;
    return n;
}

int32_t EventLog::lastValue(int code) const {
    int32_t value = 0;
    for (const auto& e : events)
        if (e.first == code) value = e.second;
    return value;
}

static EventLog* activeLog;

static int16_t logCallback(EntryInfo* record, CxEvent code, int32_t value) {
    if (!activeLog) return 0;
    activeLog->events.push_back({code, value});
    if (activeLog->stopAtCode == code && activeLog->count(code) >= activeLog->stopAfterCount)
        record->stopCode = CX_STOP;
    return 0;
}

void InstallEventLog(EventLog* log) {
    activeLog = log;
    cxSetCallback(CX_CALLBACK_EVENT, log ? logCallback : nullptr);
}

void BitWriter::put(unsigned bits, uint32_t value) {
    for (int i = (int)bits - 1; i >= 0; i--) {
        pending_ = (pending_ << 1) | ((value >> i) & 1);
        if (++count_ == 8) {
            bytes_.push_back((uint8_t)pending_);
            pending_ = 0;
            count_ = 0;
        }
    }
}

Bytes BitWriter::finish() {
    if (count_) put(8 - count_, 0);
    return bytes_;
}

void OneSymbolBlock(BitWriter* w, unsigned count, unsigned literal, unsigned position) {
    w->put(16, count);
    w->put(5, 0);
    w->put(5, 0);  // code-length code: symbol 0
    w->put(9, 0);
    w->put(9, literal);
    w->put(4, 0);
    w->put(4, position);
}
