// Test helpers: temporary directories and whole-file I/O through the C++
// library, so they behave alike natively and under Wine.
#include "files_util.h"

#include <stdio.h>
#include <time.h>
#ifdef _WIN32
#include <sys/utime.h>
#else
#include <utime.h>
#endif
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

TempDir::TempDir() {
    static unsigned counter = 0;
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = fs::current_path();
    // Process-unique part from the address of a stack object and the time,
    // so parallel test programs do not collide.
    unsigned long stamp = (unsigned long)(uintptr_t)&ec ^ (unsigned long)time(nullptr);
    for (int tries = 0; tries < 1000; tries++) {
        char name[64];
        snprintf(name, sizeof name, "cxtest-%lx-%u", stamp, ++counter);
        fs::path candidate = base / name;
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate.string();
            return;
        }
    }
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const {
    return (fs::path(path_) / name).string();
}

bool WriteFileBytes(const std::string& path, const Bytes& data) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = data.empty() || fwrite(data.data(), 1, data.size(), f) == data.size();
    return fclose(f) == 0 && ok;
}

bool WriteFileText(const std::string& path, const std::string& text) {
    return WriteFileBytes(path, Bytes(text.begin(), text.end()));
}

Bytes ReadFileBytes(const std::string& path) {
    Bytes out;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return out;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out.insert(out.end(), buffer, buffer + n);
    fclose(f);
    return out;
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

long FileSize(const std::string& path) {
    std::error_code ec;
    uintmax_t size = fs::file_size(path, ec);
    return ec ? -1 : (long)size;
}

bool SetModeTime(const std::string& path, bool writable, uint32_t time) {
    // A read-only file cannot have its times changed on Windows.
    struct utimbuf times = {(time_t)time, (time_t)time};
    std::error_code ec;
    if (writable) fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ec);
    bool timed = utime(path.c_str(), &times) == 0;
    if (!writable) fs::permissions(path, fs::perms::owner_write, fs::perm_options::remove, ec);
    return timed && !ec;
}

bool IsWritable(const std::string& path) {
    std::error_code ec;
    return (fs::status(path, ec).permissions() & fs::perms::owner_write) != fs::perms::none;
}

Bytes RandomBytes(size_t count, uint32_t seed) {
    Bytes out(count);
    uint32_t x = seed ? seed : 0x9E3779B9u;
    for (size_t i = 0; i < count; i++) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = (uint8_t)(x >> 24);
    }
    return out;
}

std::string TextFile(const std::string& path) {
#ifdef _WIN32
    return "Z:" + path;
#else
    return path;
#endif
}

std::string CorpusDir() { return TextFile("/usr/lib/i386-linux-gnu/wine/i386-windows/"); }

std::string CorpusFile(const std::string& name) { return CorpusDir() + name; }
