// arq sfx: a self-extracting file made of a stub program, the archive
// header, the given files packed as entries in order, and the end record.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "collect.h"
#include "cx.h"
#include "files.h"
#include "product.h"
#include "report.h"
#include "select.h"
#include "verbs.h"

namespace {

// Readers look for the first entry in the first 400,000 bytes only.
const uint32_t kSearchedBytes = 400000;

std::string shown(const std::string& text) {
    return arqShown(text.c_str());
}

void putLittleEndian(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = (uint8_t)(value >> (8 * i));
}

// The stub must exist, be small enough for the archive behind it to be
// found, and hold neither signature: a reader would take the first one for
// the archive.
bool usableStub(const std::string& stub) {
    ArqFileInfo info = arqStat(stub);
    if (info.kind != ARQ_FILE) {
        arqError("%s: %s", shown(stub).c_str(),
                 info.kind == ARQ_DIRECTORY ? "is a directory, not a stub program"
                 : info.kind == ARQ_MISSING  ? (std::string("cannot open the stub") + arqReason(info.error)).c_str()
                                             : "not a regular file");
        return false;
    }
    if (info.size + 12 + 4 > kSearchedBytes) {
        arqError("%s: stub too large (%s bytes): the archive must begin within the first %u bytes",
                 shown(stub).c_str(), std::to_string(info.size).c_str(), kSearchedBytes - 16);
        return false;
    }
    for (uint8_t kind = 1; kind <= 2; ++kind) {
        int32_t at = kind == 1 ? cxFindEntrySignature(stub.c_str(), 0) : cxFindArchiveHeader(stub.c_str(), 0) - 4;
        if (at >= 0) {
            arqError("%s: holds the archive's %s signature at offset %d; the archive behind it could not be found",
                     shown(stub).c_str(), kind == 1 ? "entry" : "header", at);
            return false;
        }
    }
    return true;
}

// The output must be none of the files it is made of.
bool distinctOutput(const std::string& output, const std::string& stub, const std::vector<ArqInput>& inputs) {
    // Only a regular file is made or replaced: a failed run removes its
    // output, which must never be a device or a directory.
    ArqKind kind = arqStat(output).kind;
    if (kind == ARQ_DIRECTORY || kind == ARQ_OTHER) {
        arqError("%s: %s", shown(output).c_str(), kind == ARQ_DIRECTORY ? "is a directory" : "not a regular file");
        return false;
    }
    std::string full = arqFullPath(output);
    auto same = [&](const std::string& path) {
        return arqSameFile(output, path) || arqSamePath(full, arqFullPath(path));
    };
    if (same(stub)) {
        arqError("%s: the output would overwrite the stub", shown(output).c_str());
        return false;
    }
    for (const ArqInput& input : inputs) {
        if (same(input.path)) {
            arqError("%s: the output would overwrite one of its own files", shown(output).c_str());
            return false;
        }
    }
    return true;
}

// Copies the stub to the start of the output; *mode receives its mode,
// which the output takes (it is a program as the stub is). False after
// reporting a problem.
bool copyStub(const std::string& stub, int out, uint16_t* mode) {
    int in = cxOpenFile(stub.c_str(), CX_READ);
    CxFileStat status;
    bool ok = in >= 0 && cxStat(in, &status) == 0;
    std::vector<uint8_t> buffer(1 << 16);
    for (uint32_t done = 0; ok && done < status.size && !arqInterrupted;) {
        uint32_t want = std::min<uint32_t>(status.size - done, (uint32_t)buffer.size());
        ok = cxRead(in, buffer.data(), want) == (int32_t)want && cxWrite(out, buffer.data(), want) == (int32_t)want;
        done += want;
    }
    if (in >= 0) cxCloseFile(in);
    if (!ok) arqError("%s: cannot copy the stub%s", shown(stub).c_str(), arqReason().c_str());
    *mode = ok ? status.mode : 0;
    return ok && !arqInterrupted;
}

// Packs the files after the archive header; false after reporting a problem.
bool writeEntries(int out, const std::vector<ArqInput>& inputs, unsigned packOptions) {
    int32_t headerAt = cxSeek(out, 0, SEEK_END);
    uint8_t header[12] = {0};
    arqSignature(header, 2);
    if (headerAt < 0 || cxWrite(out, header, 12) != 12) {
        arqError("cannot write the archive header%s", arqReason().c_str());
        return false;
    }
    EntryInfo record;
    memset(&record, 0, sizeof record);
    uint64_t total = 0;
    for (const ArqInput& input : inputs) {
        int in = cxOpenFile(input.path.c_str(), CX_READ);
        if (in < 0) {
            arqError("%s: cannot open%s", shown(input.path).c_str(), arqReason().c_str());
            return false;
        }
        memset(&record, 0, sizeof record);
        snprintf(record.name, sizeof record.name, "%s", input.entry.c_str());
        record.nameLength = (uint32_t)strlen(record.name);
        record.source = in;
        record.destination = out;
        record.versionMadeBy = CX_VERSION;
        record.versionNeeded = CX_VERSION_PACKED;
        record.originCode = CX_ORIGIN_ENGINE;
        int failuresBefore = arqTally.failures;
        int16_t packed = cxPackEntry(&record, packOptions);
        cxCloseFile(in);
        if (packed < 0) {
            if (arqTally.failures == failuresBefore && !arqInterrupted)
                arqError("%s: %s", shown(input.path).c_str(), arqCodeText(packed));
            return false;
        }
        total += record.unpackedSize;
    }
    if (total > 0xFFFFFFFFull) {
        arqError("the files add up to %s bytes; the archive header's total holds 4 GiB at most",
                 std::to_string(total).c_str());
        return false;
    }
    // The end record repeats the last entry's fields with an empty name.
    record.name[0] = 0;
    record.nameLength = 0;
    record.source = -1;
    record.destination = out;
    putLittleEndian(header + 4, (uint32_t)total);
    if (cxWriteEntryHeader(&record) < 0 || cxSeek(out, headerAt + 4, SEEK_SET) < 0 ||
        cxWrite(out, header + 4, 4) != 4) {
        arqError("cannot write the archive%s", arqReason().c_str());
        return false;
    }
    return true;
}

}  // namespace

int arqSfx(const ArqCommand& command) {
    std::string stub = command.operands[0];
    std::string output = command.operands[1];
    std::vector<const char*> files(command.operands.begin() + 2, command.operands.end());
    std::vector<ArqInput> inputs;
    if (!usableStub(stub)) return 1;
    // An installer's names are Windows names; a generic setup finds the
    // files its description names by their base names.
    ArqCollectOptions options = {command.namesOnly || command.product, true, true};
    if (!arqCollect(files, options, &inputs) || arqTally.failures) return 1;
    if (command.product && !arqAddProduct(command.product, &inputs)) return 1;
    if (!distinctOutput(output, stub, inputs)) return 1;
    // The output is built beside its place and put there only when whole:
    // an interrupted or failed run leaves none, and a link planted at its
    // name is replaced, never written through.
    int out = cxOpenOutput(output.c_str());
    if (out < 0) {
        arqError("%s: cannot write (%s)%s", shown(output).c_str(), arqCodeText((int16_t)out), arqReason().c_str());
        return 1;
    }
    uint16_t mode = 0;
    if (!copyStub(stub, out, &mode) || !writeEntries(out, inputs, command.best ? CX_PACK_BEST : 0) ||
        arqInterrupted) {
        cxCloseFile(out);
        return 1;
    }
    int16_t placed = cxPlaceOutput(out, mode, -1);
    if (placed < 0) {
        arqError("%s: cannot write (%s)%s", shown(output).c_str(), arqCodeText(placed), arqReason().c_str());
        return 1;
    }
    return arqReportTimesLost(inputs) ? 1 : 0;
}
