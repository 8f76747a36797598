// Archives on standard input and output: "-" as the archive name. The
// engine seeks in its archives, so standard input is first copied into a
// file of a private temporary directory, and an archive that a or d writes
// is made there and then copied to standard output. The directory and
// everything in it are removed when arq ends.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "cx.h"
#include "files.h"
#include "report.h"
#include "select.h"

namespace {

std::string spoolDirectory;  // "" until one is made

void removeSpool(void) {
    if (spoolDirectory.empty()) return;
    std::vector<std::string> names;
    int error = 0;
    if (arqListDir(spoolDirectory, &names, &error)) {
        for (const std::string& name : names) remove((spoolDirectory + "/" + name).c_str());
    }
#ifdef _WIN32
    RemoveDirectoryA(spoolDirectory.c_str());
#else
    rmdir(spoolDirectory.c_str());
#endif
    spoolDirectory.clear();
}

bool isTerminal(FILE* stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

void binary(FILE* stream) {
#ifdef _WIN32
    _setmode(_fileno(stream), _O_BINARY);
#else
    (void)stream;
#endif
}

// A directory only this user can enter, made new (never one that was
// there), for the archive of this run.
bool makeSpool(void) {
    if (!spoolDirectory.empty()) return true;
#ifdef _WIN32
    char temp[MAX_PATH];
    DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length >= sizeof temp) strcpy(temp, ".\\");
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[MAX_PATH + 32];
        snprintf(name, sizeof name, "%sARQ%08lX.TMP", temp,
                 (unsigned long)(GetTickCount() * 2654435761u + GetCurrentProcessId() + attempt * 7919u));
        if (CreateDirectoryA(name, nullptr)) {
            spoolDirectory = name;
            break;
        }
    }
#else
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/arq.XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    if (mkdtemp(name.data())) spoolDirectory = name.data();
#endif
    if (spoolDirectory.empty()) {
        arqError("cannot make a temporary directory for standard input or output%s", arqReason(errno).c_str());
        return false;
    }
    atexit(removeSpool);
    return true;
}

// Copies one stream into another; false on a read or write error.
bool copyStream(FILE* from, FILE* to) {
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, from)) > 0) {
        if (fwrite(buffer, 1, got, to) != got) return false;
    }
    return !ferror(from);
}

}  // namespace

bool arqArchiveFor(const char* given, bool forAdding, bool writes, ArqArchive* archive) {
    archive->toOutput = false;
    if (strcmp(given, "-") != 0) return arqArchivePath(given, forAdding, &archive->path);
    // A new archive for a when nothing comes on standard input.
    bool readInput = !(forAdding && isTerminal(stdin));
    if (!forAdding && isTerminal(stdin)) {
        arqError("-: standard input is a terminal, not an archive");
        return false;
    }
    if (writes && isTerminal(stdout)) {
        arqError("-: will not write an archive to a terminal");
        return false;
    }
    if (!makeSpool()) return false;
    archive->path = spoolDirectory + "/standard-input.arq";
    arqStandardInput = archive->path;
    archive->toOutput = writes;
    if (!readInput) return true;
    binary(stdin);
    FILE* copy = fopen(archive->path.c_str(), "wb");
    bool copied = copy && copyStream(stdin, copy);
    if (copy && fclose(copy) != 0) copied = false;
    if (!copied) {
        arqError("-: cannot copy standard input%s", arqReason(errno).c_str());
        return false;
    }
    // Nothing on standard input: a new archive for a, no archive otherwise.
    if (arqStat(archive->path).size == 0 && forAdding) remove(archive->path.c_str());
    return true;
}

int arqArchiveDone(ArqArchive* archive, int status) {
    if (!archive->toOutput || status != 0) return status;
    archive->toOutput = false;
    binary(stdout);
    fflush(stdout);
    FILE* result = fopen(archive->path.c_str(), "rb");
    bool copied = result && copyStream(result, stdout) && fflush(stdout) == 0;
    if (result) fclose(result);
    if (!copied) {
        arqError("-: cannot write the archive to standard output%s", arqReason(errno).c_str());
        return 1;
    }
    return 0;
}

int arqOpenStandardOutput(void) {
    binary(stdout);
    int slot = cxOpenStream(stdout, "-");
    if (slot < 0) arqError("-: cannot write to standard output");
    return slot;
}
