// arq: the command-line archiver of the engine's own archive format, for
// stand-alone ".arq" archives and archives behind an executable.
#include <stdio.h>
#include <string.h>

#include "cx.h"
#include "report.h"
#include "verbs.h"

#ifdef _WIN32
// Patterns reach the engine as typed; the runtime must not expand them.
extern "C" int _dowildcard;
int _dowildcard = 0;
#endif

namespace {

const char helpText[] =
    "usage: arq VERB ARCHIVE [ARGUMENTS]\n"
    "\n"
    "  arq a [-p] ARCHIVE FILE...      add files, or replace entries of the same name;\n"
    "                                  FILE may hold *, ?, + and [..] in its name part\n"
    "                                  (dir/*.txt); -p keeps the path below the\n"
    "                                  current directory in the entry name\n"
    "  arq d ARCHIVE PATTERN...        delete the entries that match\n"
    "  arq x ARCHIVE [PATTERN...] [-C DIR]\n"
    "                                  extract the entries that match (all by default)\n"
    "                                  into DIR (the current directory by default);\n"
    "                                  names leading outside DIR are refused\n"
    "  arq t ARCHIVE                   test every entry's check value\n"
    "  arq l ARCHIVE                   list name, packed and unpacked size, ratio,\n"
    "                                  method, time (UTC) and check value\n"
    "  arq sfx STUB OUTPUT FILE...     write STUB, an archive header and the files\n"
    "                                  packed in the order given: a self-extracting file\n"
    "  arq --help                      this text\n"
    "\n"
    "ARCHIVE is a stand-alone archive (\".arq\" is added to a name without extension)\n"
    "or an executable with an archive appended. Entry names are compared without\n"
    "regard to case. Exit status: 0 done, 1 failed, 2 bad arguments.\n";

int usage(const char* problem) {
    fprintf(stderr, "arq: %s (arq --help explains the verbs)\n", problem);
    return 2;
}

int run(int argc, char** argv) {
    if (argc < 2) return usage("no verb given");
    const char* verb = argv[1];
    if (strcmp(verb, "--help") == 0 || strcmp(verb, "-h") == 0 || strcmp(verb, "help") == 0) {
        fputs(helpText, stdout);
        return 0;
    }
    char** args = argv + 2;
    int count = argc - 2;
    if (strcmp(verb, "a") == 0) {
        bool keepPaths = count > 0 && strcmp(args[0], "-p") == 0;
        if (keepPaths) {
            ++args;
            --count;
        }
        if (count < 2) return usage("a needs an archive and at least one file");
        return arqAdd(args[0], args + 1, count - 1, keepPaths);
    }
    if (strcmp(verb, "d") == 0) {
        if (count < 2) return usage("d needs an archive and at least one pattern");
        return arqDelete(args[0], args + 1, count - 1);
    }
    if (strcmp(verb, "x") == 0) {
        const char* directory = nullptr;
        const char* patterns[256];
        int patternCount = 0;
        const char* archive = nullptr;
        for (int i = 0; i < count; ++i) {
            if (strcmp(args[i], "-C") == 0) {
                if (i + 1 >= count) return usage("-C needs a directory");
                directory = args[++i];
            } else if (!archive) {
                archive = args[i];
            } else if (patternCount < 256) {
                patterns[patternCount++] = args[i];
            } else {
                return usage("too many patterns");
            }
        }
        if (!archive) return usage("x needs an archive");
        return arqExtract(archive, patterns, patternCount, directory);
    }
    if (strcmp(verb, "t") == 0 || strcmp(verb, "l") == 0) {
        if (count != 1) return usage(verb[0] == 't' ? "t takes one archive" : "l takes one archive");
        return verb[0] == 't' ? arqTest(args[0]) : arqList(args[0]);
    }
    if (strcmp(verb, "sfx") == 0) {
        if (count < 3) return usage("sfx needs a stub, an output and at least one file");
        return arqSfx(args[0], args[1], args + 2, count - 2);
    }
    char problem[80];
    snprintf(problem, sizeof problem, "unknown verb '%.40s'", verb);
    return usage(problem);
}

}  // namespace

const char* arqCodeText(int code) {
    switch (code) {
    case CX_EFAIL: return "operation failed";
    case CX_ENOMEM: return "out of memory";
    case CX_ENOFILE: return "cannot open the file";
    case CX_ENOARCHIVE: return "not an archive";
    case CX_EHEADER: return "damaged entry header";
    case CX_ECHECK: return "check value mismatch (damaged data)";
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
    default: return "failed";
    }
}

int main(int argc, char** argv) {
    cxInit();
    cxSetCallback(CX_CALLBACK_EVENT, arqCallback);
    int status = run(argc, argv);
    arqProgressEnd();
    fflush(stdout);
    cxTerm();
    return status;
}
