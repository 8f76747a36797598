// arq a, d and x: queued operations carried out by one cxProcess pass.
#include <stdlib.h>
#include <string.h>

#include "cx.h"
#include "report.h"
#include "verbs.h"

namespace {

// cxOpenArchive upper-cases its argument in place; the caller's text stays.
int16_t openArchive(const char* archive, int flags) {
    char* copy = (char*)malloc(strlen(archive) + 1);
    if (!copy) return CX_ENOMEM;
    strcpy(copy, archive);
    int16_t result = cxOpenArchive(copy, flags);
    free(copy);
    if (result < 0) arqError("%s: %s", archive, arqCodeText(result));
    return result;
}

// The archive must already exist for d and x.
bool existingArchive(const char* archive) {
    int16_t result = cxCheckArchive(archive);
    if (result == 0) return true;
    arqError("%s: %s", archive, result == CX_ENOFILE ? "no such archive" : arqCodeText(result));
    return false;
}

int finish(const char* archive, int16_t processed) {
    int16_t closed = cxCloseArchive();
    if (processed < 0 && arqTally.failures == 0) arqError("%s: %s", archive, arqCodeText(processed));
    if (closed < 0) arqError("%s: the rewritten archive could not be put in place", archive);
    return arqTally.failures ? 1 : 0;
}

}  // namespace

int arqAdd(const char* archive, const char* const* files, int count, bool keepPaths) {
    for (int i = 0; i < count; ++i) {
        if (cxCheckPattern(files[i]) != 0) {
            arqError("%s: malformed pattern", files[i]);
            return 1;
        }
    }
    if (openArchive(archive, keepPaths ? CX_ARC_PATHS : 0) < 0) return 1;
    for (int i = 0; i < count; ++i) cxAdd(files[i]);
    arqAddPatterns = files;
    int16_t processed = cxProcess();
    arqAddPatterns = nullptr;
    return finish(archive, processed);
}

int arqDelete(const char* archive, const char* const* patterns, int count) {
    if (!existingArchive(archive)) return 1;
    if (openArchive(archive, 0) < 0) return 1;
    for (int i = 0; i < count; ++i) {
        if (cxDelete(patterns[i]) < 0) {
            arqError("%s: malformed pattern", patterns[i]);
            cxCloseArchive();
            return 1;
        }
    }
    int16_t processed = cxProcess();
    int result = finish(archive, processed);
    if (result == 0 && arqTally.deleted == 0) {
        arqError("%s: no entry matches", archive);
        return 1;
    }
    return result;
}

int arqExtract(const char* archive, const char* const* patterns, int count, const char* directory) {
    if (!existingArchive(archive)) return 1;
    if (openArchive(archive, CX_ARC_READONLY | CX_ARC_PATHS) < 0) return 1;
    static const char* const everything[] = {"*"};
    if (count == 0) {
        patterns = everything;
        count = 1;
    }
    for (int i = 0; i < count; ++i) {
        if (cxExtract(patterns[i], directory ? directory : "") < 0) {
            arqError("%s: malformed pattern", patterns[i]);
            cxCloseArchive();
            return 1;
        }
    }
    int16_t processed = cxProcess();
    int result = finish(archive, processed);
    if (result == 0 && arqTally.extracted == 0 && patterns != everything) {
        arqError("%s: no entry matches", archive);
        return 1;
    }
    return result;
}
