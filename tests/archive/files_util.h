// Test helpers shared by the engine's tests: a fresh temporary directory per
// test, whole-file reading and writing, and paths of the sample corpus.
#ifndef FILES_UTIL_H
#define FILES_UTIL_H

#include <stdint.h>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// A directory of its own under the system's temporary directory, removed
// with everything in it when the object goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // path() joined with a name (native separator).
    std::string file(const std::string& name) const;

private:
    std::string path_;
};

bool WriteFileBytes(const std::string& path, const Bytes& data);
bool WriteFileText(const std::string& path, const std::string& text);
// Whole file; empty when it cannot be read (use FileExists to tell apart).
Bytes ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
long FileSize(const std::string& path);  // -1 when missing
// Makes a file writable or read-only (the owner-write bit, the read-only
// attribute on Windows), and gives it a modification time.
bool SetModeTime(const std::string& path, bool writable, uint32_t time);
bool IsWritable(const std::string& path);

// Bytes from a fixed-seed generator (repeatable across runs and platforms).
Bytes RandomBytes(size_t count, uint32_t seed);

// The sample corpus: Wine's 32-bit Windows DLLs and executables (seen as
// Z:/usr/lib/... when the tests run under Wine) and some plain text.
std::string CorpusDir();
std::string CorpusFile(const std::string& name);  // CorpusDir() + name
std::string TextFile(const std::string& path);    // a POSIX path, Z: prefixed under Wine

#endif
