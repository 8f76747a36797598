#include "report.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

ArqTally arqTally;
const char* const* arqAddPatterns;

namespace {
int terminal = -1;     // unknown until first asked
bool progressShown;
uint32_t lastPercent = 101;
int addIndex;

bool onTerminal(void) {
    if (terminal < 0) terminal = isatty(fileno(stderr)) ? 1 : 0;
    return terminal == 1;
}
}  // namespace

void arqProgressEnd(void) {
    if (!progressShown) return;
    fprintf(stderr, "\r%79s\r", "");
    fflush(stderr);
    progressShown = false;
    lastPercent = 101;
}

void arqError(const char* format, ...) {
    arqProgressEnd();
    va_list args;
    va_start(args, format);
    fputs("arq: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
    ++arqTally.failures;
}

void arqProgress(const char* name, uint32_t done, uint32_t total) {
    if (!onTerminal()) return;
    uint32_t percent = total ? (uint32_t)((uint64_t)done * 100 / total) : 100;
    if (percent > 100) percent = 100;
    if (progressShown && percent == lastPercent) return;
    lastPercent = percent;
    char doneText[16], totalText[16];
    snprintf(doneText, sizeof doneText, "%s", cxFormatNumber((int32_t)done));
    snprintf(totalText, sizeof totalText, "%s", cxFormatNumber((int32_t)total));
    const char* shown = name;
    size_t length = strlen(name);
    if (length > 40) shown = name + length - 40;
    fprintf(stderr, "\r%c %-40s %13s of %13s bytes", cxSpinChar(), shown, doneText, totalText);
    fflush(stderr);
    progressShown = true;
}

int16_t arqCallback(EntryInfo* record, int16_t code, int32_t value) {
    const char* name = record->name;
    switch (code) {
    case CXCB_PACK:
    case CXCB_REPLACE:
        arqProgress(name, (uint32_t)value, record->unpackedSize);
        break;
    case CXCB_EXPAND:
        arqProgress(name, (uint32_t)value, record->unpackedSize);
        break;
    case CXCB_TEST:
        arqProgress(name, (uint32_t)value, record->packedSize);
        break;
    case CXCB_PACKED:
        arqProgressEnd();
        ++arqTally.packed;
        break;
    case CXCB_EXTRACTED:
        arqProgressEnd();
        ++arqTally.extracted;
        break;
    case CXCB_DELETED:
        ++arqTally.deleted;
        break;
    case CXCB_ADDED:
        if (value == 0) {
            const char* pattern = arqAddPatterns && arqAddPatterns[addIndex] ? arqAddPatterns[addIndex] : name;
            arqError("no file matches %s", pattern);
        }
        if (arqAddPatterns && arqAddPatterns[addIndex]) ++addIndex;
        break;
    case CXCB_BEGIN:
        addIndex = 0;
        break;
    case CXCB_UNKNOWN:
        arqError("%s: unknown packing method %u; entry skipped", name, record->method);
        break;
    case CXCB_READONLY:
        if (value == 1) arqError("%s exists and is read-only; entry skipped", name);
        break;
    case CXCB_RENAME:
        arqError("cannot put the extracted file in place as %s", name);
        break;
    case CX_EPROTECTED:
        arqError("%s is a protected entry; left untouched", name);
        break;
    case CX_EUNSAFE:
        arqError("%s: refused, the name leads outside the destination directory", name);
        break;
    case CX_ECHECK:
        arqError("%s: check value mismatch (damaged data)", name);
        break;
    case CX_EDISK:
        arqError("%s: not enough free disk space", name);
        break;
    case CX_ENOMEM:
        arqError("%s: out of memory", name);
        break;
    case CX_EFAIL:
        arqError("%s: cannot open file", name);
        break;
    case CX_EARG:
        arqError("%s: name too long for an archive entry", name);
        break;
    case CX_ESHORT:
        arqError("%s: write error in the archive", name);
        break;
    default:
        if (code < 0) arqError("%s: failed with code %d", name, code);
        break;
    }
    return 0;
}
