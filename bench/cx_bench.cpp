// Throughput of the engine beside zlib on the same corpus: Wine's 32-bit
// Windows DLLs and executables (a fixed subset, or all with --all) and the
// licence texts. Reports MB/s of unpacked data for expansion and packing,
// packed sizes, and CRC-32 throughput. The engine works through files (in
// a scratch directory under /dev/shm, so the disk does not count); inflate
// is timed both in memory (which favours zlib) and file to file under the
// engine's conditions.
//
//   cx_bench [--all] [--every N] [--rounds R] [--profile-expand | --profile-inflate]
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "cxint.h"
#include "files_util.h"

namespace {

struct Sample {
    std::string name;  // upper-case entry name
    std::string path;
    std::vector<uint8_t> data;
};

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::vector<std::string> List(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') names.push_back(e->d_name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::string Upper(std::string s) {
    for (char& c : s) c = (char)toupper((unsigned char)c);
    return s;
}

std::vector<Sample> LoadCorpus(bool all, int every) {
    std::vector<Sample> corpus;
    const std::string bin = "/usr/lib/i386-linux-gnu/wine/i386-windows/";
    int index = 0;
    for (const std::string& name : List(bin)) {
        std::string upper = Upper(name);
        bool code = upper.size() > 4 && (upper.compare(upper.size() - 4, 4, ".DLL") == 0 ||
                                         upper.compare(upper.size() - 4, 4, ".EXE") == 0);
        if (!code || (!all && index++ % every != 0)) continue;
        corpus.push_back({upper, bin + name, ReadFileBytes(bin + name)});
    }
    const std::string text = "/usr/share/common-licenses/";
    for (const std::string& name : List(text)) {
        struct stat st;
        if (stat((text + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        corpus.push_back({Upper(name) + ".TXT", text + name, ReadFileBytes(text + name)});
    }
    return corpus;
}

// ---- the engine -------------------------------------------------------------

struct EngineResult {
    double packSeconds = 1e30, expandSeconds = 1e30;
    double packCpuSeconds = 1e30;  // the process's processor time: steadier on a shared machine
    uint64_t packed = 0;
    int stored = 0;
    bool exact = true;
};

void EnginePack(const std::vector<Sample>& corpus, const std::string& archive, EngineResult* r,
                unsigned options = 0) {
    double start = Now();
    clock_t cpuStart = clock();
    int destination = cxOpenFile(archive.c_str(), CX_READ | CX_WRITE | CX_CREATE);
    EntryInfo record;
    uint64_t packed = 0;
    int stored = 0;
    for (const Sample& s : corpus) {
        memset(&record, 0, sizeof record);
        record.source = cxOpenFile(s.path.c_str(), CX_READ);
        record.destination = destination;
        record.versionNeeded = CX_VERSION_PACKED;
        record.originCode = CX_ORIGIN_ENGINE;
        snprintf(record.name, sizeof record.name, "%s", s.name.c_str());
        if (cxPackEntry(&record, options) != CX_OK) {
            fprintf(stderr, "packing %s failed\n", s.path.c_str());
            exit(1);
        }
        cxCloseFile(record.source);
        packed += record.packedSize;
        stored += record.method == CX_METHOD_STORED;
    }
    record.name[0] = 0;
    cxWriteEntryHeader(&record);
    cxCloseFile(destination);
    r->packSeconds = std::min(r->packSeconds, Now() - start);
    r->packCpuSeconds = std::min(r->packCpuSeconds, (double)(clock() - cpuStart) / CLOCKS_PER_SEC);
    r->packed = packed;
    r->stored = stored;
}

void EngineExpand(const std::vector<Sample>& corpus, const std::string& archive,
                  const std::string& output, bool verify, EngineResult* r) {
    double start = Now();
    int source = cxOpenFile(archive.c_str(), CX_READ);
    EntryInfo record;
    memset(&record, 0, sizeof record);
    record.source = source;
    size_t i = 0;
    for (int16_t result = cxFirstEntry(&record); result == CX_OK;
         result = cxReadEntryHeader(&record), i++) {
        record.destination = cxOpenFile(output.c_str(), CX_WRITE | CX_CREATE);
        snprintf(record.name, sizeof record.name, "%s", output.c_str());
        if (cxExpandEntry(&record) != CX_OK) {
            fprintf(stderr, "expanding entry %zu failed\n", i);
            exit(1);
        }
        cxCloseFile(record.destination);
        if (verify && (i >= corpus.size() || ReadFileBytes(output) != corpus[i].data)) r->exact = false;
    }
    cxCloseFile(source);
    if (!verify) r->expandSeconds = std::min(r->expandSeconds, Now() - start);
}

// ---- zlib ---------------------------------------------------------------------

struct ZlibResult {
    double packSeconds = 1e30, expandSeconds = 1e30;
    uint64_t packed = 0;
    std::vector<std::vector<uint8_t>> streams;
};

void ZlibPack(const std::vector<Sample>& corpus, int level, ZlibResult* r) {
    std::vector<std::vector<uint8_t>> streams;
    double start = Now();
    uint64_t packed = 0;
    for (const Sample& s : corpus) {
        uLongf size = compressBound(s.data.size());
        std::vector<uint8_t> out(size);
        if (compress2(out.data(), &size, s.data.data(), s.data.size(), level) != Z_OK) exit(1);
        out.resize(size);
        packed += size;
        streams.push_back(std::move(out));
    }
    r->packSeconds = std::min(r->packSeconds, Now() - start);
    r->packed = packed;
    r->streams = std::move(streams);
}

void ZlibExpand(const std::vector<Sample>& corpus, ZlibResult* r) {
    std::vector<uint8_t> out;
    double start = Now();
    for (size_t i = 0; i < corpus.size(); i++) {
        out.resize(corpus[i].data.size() + 1);
        uLongf size = out.size();
        if (uncompress(out.data(), &size, r->streams[i].data(), r->streams[i].size()) != Z_OK ||
            size != corpus[i].data.size())
            exit(1);
    }
    r->expandSeconds = std::min(r->expandSeconds, Now() - start);
}

// Inflate under the engine's conditions: the streams read from one file
// (16 KB reads), each output written to a file in 8 KB pieces, the output
// file opened and closed per entry.
double ZlibExpandFiles(const std::vector<Sample>& corpus, const ZlibResult& z,
                       const std::string& packed, const std::string& output) {
    FILE* f = fopen(packed.c_str(), "wb");
    for (const auto& stream : z.streams) fwrite(stream.data(), 1, stream.size(), f);
    fclose(f);
    double start = Now();
    FILE* in = fopen(packed.c_str(), "rb");
    uint8_t inBuffer[16384], outBuffer[8192];
    for (size_t i = 0; i < corpus.size(); i++) {
        FILE* out = fopen(output.c_str(), "wb");
        z_stream strm;
        memset(&strm, 0, sizeof strm);
        inflateInit(&strm);
        size_t left = z.streams[i].size();
        int status = Z_OK;
        while (status != Z_STREAM_END) {
            if (strm.avail_in == 0) {
                size_t want = left < sizeof inBuffer ? left : sizeof inBuffer;
                strm.avail_in = (uInt)fread(inBuffer, 1, want, in);
                strm.next_in = inBuffer;
                left -= strm.avail_in;
            }
            strm.next_out = outBuffer;
            strm.avail_out = sizeof outBuffer;
            status = inflate(&strm, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END) exit(1);
            fwrite(outBuffer, 1, sizeof outBuffer - strm.avail_out, out);
        }
        inflateEnd(&strm);
        fclose(out);
    }
    fclose(in);
    return Now() - start;
}

}  // namespace

int main(int argc, char** argv) {
    bool all = false, profileExpand = false, profileInflate = false;
    int every = 8, rounds = 3;
    for (int i = 1; i < argc; i++) {
        if (!strcmp(argv[i], "--all")) all = true;
        else if (!strcmp(argv[i], "--every") && i + 1 < argc) every = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--rounds") && i + 1 < argc) rounds = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--profile-expand")) profileExpand = true;
        else if (!strcmp(argv[i], "--profile-inflate")) profileInflate = true;
    }
    if (every < 1) every = 1;
    if (rounds < 1) rounds = 1;

    std::vector<Sample> corpus = LoadCorpus(all, every);
    uint64_t total = 0;
    for (const Sample& s : corpus) total += s.data.size();
    if (corpus.empty()) {
        fprintf(stderr, "no corpus\n");
        return 1;
    }
    char scratch[] = "/dev/shm/cxbench-XXXXXX";
    char scratchTmp[] = "/tmp/cxbench-XXXXXX";
    const char* dir = mkdtemp(scratch);
    if (!dir) dir = mkdtemp(scratchTmp);
    if (!dir) return 1;
    std::string archive = std::string(dir) + "/bench.arq";
    std::string output = std::string(dir) + "/expanded.bin";

    cxInit();
    EngineResult engine;
    if (profileExpand) {
        // Packs once, then only expands: for a profiler's view of the expander.
        EnginePack(corpus, archive, &engine);
        for (int round = 0; round < rounds; round++) EngineExpand(corpus, archive, output, false, &engine);
        printf("expand MB/s %.2f\n", total / 1e6 / engine.expandSeconds);
        unlink(archive.c_str());
        unlink(output.c_str());
        rmdir(dir);
        return 0;
    }
    if (profileInflate) {
        ZlibResult z;
        ZlibPack(corpus, 9, &z);
        for (int round = 0; round < rounds; round++) ZlibExpand(corpus, &z);
        printf("inflate MB/s %.2f\n", total / 1e6 / z.expandSeconds);
        rmdir(dir);
        return 0;
    }
    ZlibResult z6, z9;
    double files6 = 1e30, files9 = 1e30;
    EngineResult toNull;  // output thrown away: the expander without file writes
    EngineResult best;    // the near-optimal parse, packed in the same rounds as the default
    std::string packed = std::string(dir) + "/zlib.bin";
    std::string bestArchive = std::string(dir) + "/best.arq";
    for (int round = 0; round < rounds; round++) {
        EnginePack(corpus, archive, &engine);
        EnginePack(corpus, bestArchive, &best, CX_PACK_BEST);
        EngineExpand(corpus, bestArchive, output, false, &best);
        EngineExpand(corpus, archive, output, false, &engine);
        EngineExpand(corpus, archive, "/dev/null", false, &toNull);
        ZlibPack(corpus, 6, &z6);
        ZlibPack(corpus, 9, &z9);
        ZlibExpand(corpus, &z6);
        ZlibExpand(corpus, &z9);
        files6 = std::min(files6, ZlibExpandFiles(corpus, z6, packed, output));
        files9 = std::min(files9, ZlibExpandFiles(corpus, z9, packed, output));
    }
    unlink(packed.c_str());
    EngineExpand(corpus, archive, output, true, &engine);
    EngineExpand(corpus, bestArchive, output, true, &best);
    unlink(bestArchive.c_str());

    // CRC-32 over the whole corpus, several passes.
    double crcEngine = 1e30, crcZlib = 1e30;
    uint32_t a = 0, b = 0;
    for (int round = 0; round < rounds; round++) {
        double start = Now();
        for (int pass = 0; pass < 4; pass++) {
            uint32_t c = 0xFFFFFFFFu;
            for (const Sample& s : corpus) c = cxCrcUpdate(c, s.data.data(), s.data.size());
            a ^= ~c;
        }
        crcEngine = std::min(crcEngine, (Now() - start) / 4);
        start = Now();
        for (int pass = 0; pass < 4; pass++) {
            uLong c = crc32(0, Z_NULL, 0);
            for (const Sample& s : corpus) c = crc32(c, s.data.data(), (uInt)s.data.size());
            b ^= (uint32_t)c;
        }
        crcZlib = std::min(crcZlib, (Now() - start) / 4);
    }
    cxTerm();
    unlink(archive.c_str());
    unlink(output.c_str());
    rmdir(dir);

    double mb = total / 1e6;
    printf("corpus: %zu files, %.2f MB (%s Wine i386-windows DLL/EXE, licence texts); best of %d\n",
           corpus.size(), mb, all ? "all" : ("every " + std::to_string(every) + "th").c_str(),
           rounds);
    printf("engine output %s; CRC values %s\n", engine.exact && best.exact ? "identical to input" : "DIFFERS",
           a == b ? "agree" : "DIFFER");
    printf("%-22s %12s %10s %12s %10s\n", "", "packed bytes", "ratio %", "pack MB/s", "expand MB/s");
    printf("%-22s %12llu %10.2f %12.2f %10.2f\n", "engine (8 KB window)",
           (unsigned long long)engine.packed, 100.0 * engine.packed / total,
           mb / engine.packSeconds, mb / engine.expandSeconds);
    printf("%-22s %12llu %10.2f %12.2f %10.2f\n", "engine --best",
           (unsigned long long)best.packed, 100.0 * best.packed / total, mb / best.packSeconds,
           mb / best.expandSeconds);
    printf("%-22s %12llu %10.2f %12.2f %10.2f\n", "zlib level 6", (unsigned long long)z6.packed,
           100.0 * z6.packed / total, mb / z6.packSeconds, mb / z6.expandSeconds);
    printf("%-22s %12llu %10.2f %12.2f %10.2f\n", "zlib level 9", (unsigned long long)z9.packed,
           100.0 * z9.packed / total, mb / z9.packSeconds, mb / z9.expandSeconds);
    printf("inflate file to file MB/s: level 6 streams %.2f, level 9 streams %.2f\n", mb / files6,
           mb / files9);
    printf("engine expand with output to /dev/null MB/s: %.2f\n", mb / toNull.expandSeconds);
    printf("engine entries stored (not smaller): %d\n", engine.stored);
    printf("ratios (engine/zlib, above 1 = engine faster):\n"
           "  pack vs level 9 %.2f, vs level 6 %.2f\n"
           "  expand vs inflate in memory: level 9 streams %.2f, level 6 streams %.2f\n"
           "  expand vs inflate file to file: level 9 streams %.2f, level 6 streams %.2f\n"
           "  expand to /dev/null vs inflate in memory: level 9 streams %.2f\n",
           z9.packSeconds / engine.packSeconds, z6.packSeconds / engine.packSeconds,
           z9.expandSeconds / engine.expandSeconds, z6.expandSeconds / engine.expandSeconds,
           files9 / engine.expandSeconds, files6 / engine.expandSeconds,
           z9.expandSeconds / toNull.expandSeconds);
    printf("--best against the default: %.2f times the pack time (processor time %.2f times), %.2f %% smaller\n",
           best.packSeconds / engine.packSeconds, best.packCpuSeconds / engine.packCpuSeconds,
           100.0 - 100.0 * best.packed / engine.packed);
    printf("CRC-32 MB/s: engine %.1f, zlib crc32 %.1f, ratio %.2f\n", mb / crcEngine, mb / crcZlib,
           crcZlib / crcEngine);
    return engine.exact && best.exact && a == b ? 0 : 1;
}
