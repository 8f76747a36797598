#include "report.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <locale.h>
#include <unistd.h>
#include <wchar.h>

#include <map>
#endif

ArqTally arqTally;
volatile int arqInterrupted;
bool arqVerbose;
std::string arqStandardInput;

namespace {

int console = -1;  // unknown until first asked
bool progressShown;
uint32_t lastPercent = 101;
uint64_t lastDrawn;  // milliseconds
ArqOverwrite overwriteMode;

// Where an entry is written, as a path of this system: the engine keeps
// levels apart by "\\".
std::string outputPath(const char* name) {
    std::string path = name;
#ifndef _WIN32
    for (char& c : path) c = c == '\\' ? '/' : c;
#endif
    return path;
}

#ifndef _WIN32
// The entries this run extracted, by their names with ASCII letters folded
// to lower case. On a file system that folds letter case (vfat, NTFS) a
// second name that differs from the first in case alone finds the first
// one's file, and overwriting it would lose an entry without a word. (On
// Windows the Windows rules refuse such names before anything is written.)
std::map<std::string, std::string> extractedNames;

std::string folded(const char* name) {
    std::string key = name;
    for (char& c : key) c = c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
    return key;
}

// The entry this run extracted under another name to the very file at the
// record's path (the same device and inode), or null.
const std::string* extractedAs(const EntryInfo* record) {
    auto earlier = extractedNames.find(folded(record->name));
    if (earlier == extractedNames.end() || earlier->second == record->name) return nullptr;
    struct stat existing, written;
    bool same = stat(outputPath(record->name).c_str(), &existing) == 0 &&
                stat(outputPath(earlier->second.c_str()).c_str(), &written) == 0 &&
                existing.st_dev == written.st_dev && existing.st_ino == written.st_ino;
    return same ? &earlier->second : nullptr;
}
#endif

// Progress is drawn on a console only. On Windows a character device such
// as NUL is not one, although the C runtime calls it a terminal.
bool onConsole(void) {
    if (console < 0) {
#ifdef _WIN32
        DWORD mode;
        console = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) ? 1 : 0;
#else
        console = isatty(fileno(stderr)) ? 1 : 0;
#endif
    }
    return console == 1;
}

uint64_t milliseconds(void) {
#ifdef _WIN32
    return GetTickCount();
#else
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint64_t)now.tv_sec * 1000 + (uint64_t)now.tv_nsec / 1000000;
#endif
}

void say(bool failure, const char* format, va_list args) {
    arqProgressEnd();
    fputs("arq: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    if (failure) ++arqTally.failures;
}

int16_t overwrite(EntryInfo* record, CxEvent, int32_t) {
#ifndef _WIN32
    if (const std::string* first = extractedAs(record)) {
        arqError("%s: refused, the destination folds letter case and %s was extracted to that file",
                 arqShown(record->name).c_str(), arqShown(first->c_str()).c_str());
        return 0;
    }
#endif
    if (overwriteMode == ARQ_OVERWRITE) return 1;
    if (overwriteMode == ARQ_KEEP_NEWER) {
        struct stat existing;
        if (stat(outputPath(record->name).c_str(), &existing) != 0 || (int64_t)existing.st_mtime < (int64_t)record->time)
            return 1;
        ++arqTally.kept;
        return 0;
    }
    ++arqTally.kept;
    arqNote("%s exists; kept (-k)", arqShown(record->name).c_str());
    return 0;
}

// Bytes of the character at p that may be shown as they are: more than one
// for a whole multi-byte character, 0 for a C1 control (0x80 to 0x9F),
// which a terminal takes as the start of a command (CSI, OSC) just as it
// takes ESC. On POSIX names are taken as UTF-8: a C1 control is such a raw
// byte outside a character, or U+0080 to U+009F; on Windows a byte that
// the ANSI code page maps to U+0080 to U+009F.
size_t characterBytes(const unsigned char* p) {
#ifdef _WIN32
    if (IsDBCSLeadByte(p[0]) && p[1]) return 2;
    WCHAR wide = 0;
    bool c1 = MultiByteToWideChar(CP_ACP, 0, (LPCSTR)p, 1, &wide, 1) == 1 && wide >= 0x80 && wide <= 0x9F;
    return c1 ? 0 : 1;
#else
    size_t length = p[0] >= 0xC2 && p[0] <= 0xDF ? 2 : p[0] >= 0xE0 && p[0] <= 0xEF ? 3
                  : p[0] >= 0xF0 && p[0] <= 0xF4 ? 4 : 1;
    for (size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) length = 1;
    }
    if (length == 2 && p[0] == 0xC2 && p[1] <= 0x9F) return 0;
    return length == 1 && p[0] >= 0x80 && p[0] <= 0x9F ? 0 : length;
#endif
}

}  // namespace

void arqKeepExisting(ArqOverwrite mode) {
    overwriteMode = mode;
    cxSetCallback(CX_CALLBACK_OVERWRITE, overwrite);
}

void arqProgressEnd(void) {
    if (!progressShown) return;
    fprintf(stderr, "\r%79s\r", "");
    fflush(stderr);
    progressShown = false;
    lastPercent = 101;
}

void arqError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    say(true, format, args);
    va_end(args);
}

void arqNote(const char* format, ...) {
    va_list args;
    va_start(args, format);
    say(false, format, args);
    va_end(args);
}

void arqProgress(const char* name, uint32_t done, uint32_t total) {
    if (!onConsole()) return;
    uint32_t percent = total ? (uint32_t)((uint64_t)done * 100 / total) : 100;
    if (percent > 100) percent = 100;
    if (progressShown && percent == lastPercent) return;
    uint64_t now = milliseconds();
    if (progressShown && now - lastDrawn < 100) return;
    lastDrawn = now;
    lastPercent = percent;
    char doneText[16], totalText[16];
    snprintf(doneText, sizeof doneText, "%s", cxFormatNumber((int32_t)done));
    snprintf(totalText, sizeof totalText, "%s", cxFormatNumber((int32_t)total));
    std::string shown = arqShown(name);
    if (shown.size() > 40) shown = shown.substr(shown.size() - 40);
    fprintf(stderr, "\r%c %-40s %13s of %13s bytes", cxSpinChar(), shown.c_str(), doneText, totalText);
    fflush(stderr);
    progressShown = true;
}

std::string arqShown(const char* name) {
    if (!arqStandardInput.empty() && arqStandardInput == name) return "-";
    std::string shown;
    for (const unsigned char* p = (const unsigned char*)name; *p; ++p) {
        char escape[8];
        size_t whole = characterBytes(p);
        if (whole > 1) {
            shown.append((const char*)p, whole);
            p += whole - 1;
        } else if (*p == '\n') {
            shown += "\\n";
        } else if (*p == '\t') {
            shown += "\\t";
        } else if (*p < 0x20 || *p == 0x7F || whole == 0) {
            snprintf(escape, sizeof escape, "\\x%02X", *p);
            shown += escape;
#ifndef _WIN32
        } else if (*p == '\\') {
            shown += '/';  // the engine's separator, "/" in the archive and here
#endif
        } else {
            shown += (char)*p;
        }
    }
    return shown;
}

std::string arqReason(int error) {
    if (error == 0) return "";
    return std::string(": ") + strerror(error);
}

std::string arqReason(void) {
    return arqReason(cxSystemError());
}

const char* arqCodeText(int code) {
    switch (code) {
    case CX_EFAIL: return "operation failed";
    case CX_ENOMEM: return "out of memory";
    case CX_ENOFILE: return "cannot open the file";
    case CX_ENOARCHIVE: return "not an archive";
    case CX_EHEADER: return "damaged entry header";
    case CX_ECHECK: return "damaged data (check value or stream does not fit)";
    case CX_ESLOT: return "cannot open the file";
    case CX_EVERSION: return "entry needs a newer engine";
    case CX_EOPEN: return "an archive is already open";
    case CX_EREAD: return "read error";
    case CX_EWRITE: return "write error";
    case CX_EARG: return "invalid argument";
    case CX_ETEMP: return "cannot create the temporary archive";
    case CX_ESLOTS: return "too many open files";
    case CX_ESTOPPED: return "stopped";
    case CX_ESHORT: return "packed output incomplete (write error)";
    case CX_ENOTSUP: return "not supported";
    case CX_EDISK: return "not enough free disk space";
    case CX_ETOOLARGE: return "too large: an archive stays below 2 GiB (2,147,483,648 bytes)";
    default: return "failed";
    }
}

// A disk that filled: said once, and the engine asked to stop, since every
// further file would fail alike.
bool diskFilled(EntryInfo* record, CxEvent event) {
    bool full = event == CXCB_EDISK || ((event == CXCB_EFAIL || event == CXCB_EWRITE || event == CXCB_ESHORT) &&
                                        cxSystemError() == ENOSPC);
    if (!full) return false;
    if (!arqTally.diskFull) {
        arqTally.diskFull = true;
        arqError("%s: the disk is full; stopped", arqShown(record->name).c_str());
    }
    record->stopCode = CX_STOP;
    return true;
}

int16_t arqCallback(EntryInfo* record, CxEvent event, int32_t value) {
    if (arqInterrupted) record->stopCode = CX_STOP;
    if (diskFilled(record, event)) return 0;
    std::string shown = arqShown(record->name);
    const char* name = shown.c_str();
    switch (event) {
    case CXCB_PACK:
    case CXCB_REPLACE:
    case CXCB_EXPAND:
        arqProgress(record->name, (uint32_t)value, record->unpackedSize);
        break;
    case CXCB_TEST:
        arqProgress(record->name, (uint32_t)value, record->packedSize);
        break;
    case CXCB_PACKED:
        arqProgressEnd();
        ++arqTally.packed;
        break;
    case CXCB_EXTRACTED:
        arqProgressEnd();
        ++arqTally.extracted;
#ifndef _WIN32
        extractedNames.emplace(folded(record->name), record->name);
#endif
        if (arqVerbose) printf("%s\n", name);
        break;
    case CXCB_DELETED:
        ++arqTally.deleted;
        break;
    case CXCB_ADDED:
        if (value == 0) arqError("no file matches %s", name);
        break;
    case CXCB_UNKNOWN:
        arqError("%s: unknown packing method %u; entry skipped", name, record->method);
        break;
    case CXCB_READONLY:
        if (value == 1) arqError("%s exists and is read-only; entry skipped", name);
        break;
    case CXCB_RENAME:
        arqError("cannot put the extracted file in place as %s%s", name, arqReason().c_str());
        break;
    case CXCB_EPROTECTED:
        arqError("%s is a protected entry; left untouched", name);
        break;
    case CXCB_EUNSAFE:
        arqError("%s: refused, the name leads outside the destination directory", name);
        break;
    case CXCB_ETOOLONG:
        arqError("%s: refused, the output path is longer than 268 characters", name);
        break;
    case CXCB_ELINK: {
        // value: how much of the output path names the link.
        std::string link(record->name, (size_t)value < strlen(record->name) ? (size_t)value : 0);
        arqError("%s: refused, %s is a symbolic link (links inside the destination are not followed)", name,
                 arqShown(link.c_str()).c_str());
        break;
    }
    case CXCB_ETOOLARGE:
    case CXCB_ECHECK:
        arqError("%s: %s", name, arqCodeText(event));
        break;
    case CXCB_EDISK:
        arqError("%s: not enough free disk space", name);
        break;
    case CXCB_ENOMEM:
        arqError("%s: out of memory", name);
        break;
    case CXCB_EFAIL:
        arqError("%s: cannot open%s", name, arqReason().c_str());
        break;
    case CXCB_EWRITE:
    case CXCB_ESHORT:
        arqError("%s: write error%s", name, arqReason().c_str());
        break;
    case CXCB_EARG:
        arqError("%s: name too long for an archive entry", name);
        break;
    case CXCB_STOPPED:
    case CXCB_ERROR:
    case CXCB_ESTOPPED:
        break;  // said once by the verb
    default:
        if (event < 0) arqError("%s: failed with code %d", name, (int)event);
        break;
    }
    return 0;
}

// On Windows a name's bytes are its columns: a double-byte character of the
// ANSI code page is two of each. Elsewhere names are UTF-8: each character
// counts as wcwidth says (two for a wide one), or one when the locale
// cannot tell.
size_t arqDisplayWidth(const std::string& text) {
#ifdef _WIN32
    return text.size();
#else
    static bool ready = false;
    if (!ready) {
        ready = true;
        setlocale(LC_CTYPE, "");
        if (wcwidth(0x4E00) != 2) setlocale(LC_CTYPE, "C.UTF-8");
    }
    size_t width = 0;
    mbstate_t state = mbstate_t();
    const char* at = text.c_str();
    const char* end = at + text.size();
    while (at < end) {
        wchar_t c;
        size_t used = mbrtowc(&c, at, (size_t)(end - at), &state);
        if (used == (size_t)-1 || used == (size_t)-2 || used == 0) {
            state = mbstate_t();
            used = 1;  // a byte that is no character: one column, as shown
            ++width;
        } else {
            int columns = wcwidth(c);
            width += columns < 0 ? 1 : (size_t)columns;
        }
        at += used;
    }
    return width;
#endif
}

std::string arqPadded(const std::string& text, size_t width) {
    size_t shown = arqDisplayWidth(text);
    return shown >= width ? text : text + std::string(width - shown, ' ');
}
