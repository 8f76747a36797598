// arq: the command-line archiver of the engine's own archive format, for
// stand-alone ".arq" archives and archives behind an executable.
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include "cx.h"
#include "report.h"
#include "verbs.h"

#ifdef _WIN32
// Patterns reach arq as typed; the runtime must not expand them.
extern "C" int _dowildcard;
int _dowildcard = 0;
#endif

namespace {

const char helpText[] =
    "usage: arq VERB [OPTIONS] ARCHIVE [ARGUMENTS]\n"
    "\n"
    "  arq a [-p] [--best] ARCHIVE FILE...\n"
    "                                add files, or replace the entries of the same\n"
    "                                name. A directory is added with everything below\n"
    "                                it (symbolic links followed). Without -p each\n"
    "                                entry is named by the file's name alone; with -p\n"
    "                                by its path below the current directory (or, for\n"
    "                                a file elsewhere, below the named file's parent).\n"
    "                                Two files whose entry names Windows takes for\n"
    "                                one (they differ only in case or in trailing\n"
    "                                dots and blanks) are refused, and nothing is\n"
    "                                written. A file named as a Windows device (CON,\n"
    "                                PRN, AUX, NUL, COM1-9, LPT1-9, with or without\n"
    "                                an extension) is refused; the others are added.\n"
    "  arq d ARCHIVE PATTERN...      delete the entries that match\n"
    "  arq x [-k] [-f] [-C DIR] ARCHIVE [PATTERN...]\n"
    "                                extract the entries that match (all by default)\n"
    "                                into DIR (default: the current directory), with\n"
    "                                their stored paths. Existing files are\n"
    "                                overwritten; -k keeps them. A damaged entry is\n"
    "                                reported and the others are still extracted.\n"
    "                                Names leading outside DIR, passing through a\n"
    "                                symbolic link inside DIR, or that Windows takes\n"
    "                                for a device or for an earlier entry are\n"
    "                                refused. Nothing is extracted when DIR lacks\n"
    "                                the free space for all of it, or, without -f,\n"
    "                                when an entry unpacks to more than 500,000\n"
    "                                times its packed size or all to more than\n"
    "                                16 GiB (real data never packs that far: an\n"
    "                                archive bomb).\n"
    "  arq t ARCHIVE [PATTERN...]    test the entries: each one's check value, and\n"
    "                                each one expanded in full (nothing is written)\n"
    "  arq l ARCHIVE [PATTERN...]    list name, packed and unpacked size, ratio,\n"
    "                                method, time (UTC) and check value\n"
    "  arq sfx [--best] [--product DESC] STUB OUTPUT FILE...\n"
    "                                write STUB, an archive header and the files\n"
    "                                packed in the order given: a self-extracting\n"
    "                                file (an installer). Names are stored upper-case.\n"
    "                                With --product, DESC is the product description\n"
    "                                of the generic setup (docs/product-description.md):\n"
    "                                it must name every file given and each file it\n"
    "                                names must be given, or nothing is written; it\n"
    "                                goes in first, as the entry PRODUCT.INI.\n"
    "\n"
    "--best packs smaller (some percent) and several times slower, in the same\n"
    "format: every reader of these archives expands it.\n"
    "  arq --help                    this text\n"
    "\n"
    "ARCHIVE is the file of that name, whatever its extension: a stand-alone\n"
    "archive or a program with an archive behind it (a self-extracting file is\n"
    "rewritten in place and keeps its permissions when it is the user's own).\n"
    "A name without extension that names no file means NAME.arq.\n"
    "\n"
    "PATTERN matches the whole stored path, without regard to case, as a shell\n"
    "matches file names: * is any run of characters and ? any one character, but\n"
    "neither matches /; [abc], [a-z] and [!a-z] are one character of a class.\n"
    "A pattern that matches a directory selects everything below it. So *.txt\n"
    "matches notes.txt and MY.NOTES.TXT but not doc/a.txt; doc/*.txt and doc do.\n"
    "On Windows, FILE of arq a may hold the same wildcards in its last part.\n"
    "\n"
    "Letter case: on Linux names are stored as they are and read back so (origin\n"
    "code 3); on Windows they are read back upper-case. Names are always matched\n"
    "and compared without regard to case.\n"
    "\n"
    "Limits of the format: a file must be smaller than 4 GiB, an archive smaller\n"
    "than 2 GB, an entry name at most 254 bytes, an output path (DIR and name) at\n"
    "most 268 characters; times are kept from 1970 to 2106. What does not fit is\n"
    "refused with a message, never cut.\n"
    "\n"
    "A protected entry (flag 4, written by other tools) is listed and its check\n"
    "value tested, but it is neither extracted nor deleted.\n"
    "\n"
    "Options end at --. Exit status: 0 done, 1 failed (every problem is named on\n"
    "standard error), 2 bad arguments; 130 or 143 after an interrupt, with no\n"
    "half-written file left behind.\n";

// What each verb takes: its option letters ("C:" takes an argument), how
// many operands at least, and what it runs.
struct VerbRow {
    const char* name;
    const char* options;
    bool takesBest;  // --best
    size_t minOperands;
    const char* missing;  // usage message when operands are missing
    int (*run)(const ArqCommand& command);
};

const VerbRow verbTable[] = {
    {"a", "p", true, 2, "a needs an archive and at least one file", arqAdd},
    {"d", "", false, 2, "d needs an archive and at least one pattern", arqDelete},
    {"x", "kfC:", false, 1, "x needs an archive", arqExtract},
    {"t", "", false, 1, "t needs an archive", arqTest},
    {"l", "", false, 1, "l needs an archive", arqList},
    {"sfx", "", true, 3, "sfx needs a stub, an output and at least one file", arqSfx},
};

int usage(const char* problem) {
    fprintf(stderr, "arq: %s (arq --help explains the verbs)\n", problem);
    return 2;
}

// Takes the arguments after the verb apart; 0, or the usage exit code.
int parse(const VerbRow& verb, int count, char** args, ArqCommand* command) {
    bool optionsEnded = false;
    char problem[120];
    for (int i = 0; i < count; ++i) {
        const char* arg = args[i];
        if (optionsEnded || arg[0] != '-' || arg[1] == 0) {
            command->operands.push_back(arg);
            continue;
        }
        if (strcmp(arg, "--") == 0) {
            optionsEnded = true;
            continue;
        }
        if (verb.takesBest && strcmp(arg, "--best") == 0) {
            command->best = true;
            continue;
        }
        if (strcmp(verb.name, "sfx") == 0 && strcmp(arg, "--product") == 0) {
            if (i + 1 >= count || args[i + 1][0] == 0) return usage("--product needs a product description");
            command->product = args[++i];
            continue;
        }
        const char* option = arg[2] == 0 ? strchr(verb.options, arg[1]) : nullptr;
        if (!option || arg[1] == ':') {
            snprintf(problem, sizeof problem, "%s does not take the option '%.40s'", verb.name, arg);
            return usage(problem);
        }
        if (option[1] == ':') {
            if (i + 1 >= count || args[i + 1][0] == 0) {
                snprintf(problem, sizeof problem, "-%c needs a directory", arg[1]);
                return usage(problem);
            }
            command->directory = args[++i];
        } else if (arg[1] == 'p') {
            command->keepPaths = true;
        } else if (arg[1] == 'k') {
            command->keepExisting = true;
        } else if (arg[1] == 'f') {
            command->force = true;
        }
    }
    if (command->operands.size() < verb.minOperands) return usage(verb.missing);
    return 0;
}

int run(int argc, char** argv) {
    if (argc < 2) return usage("no verb given");
    const char* verb = argv[1];
    if (strcmp(verb, "--help") == 0 || strcmp(verb, "-h") == 0 || strcmp(verb, "help") == 0) {
        fputs(helpText, stdout);
        return 0;
    }
    for (const VerbRow& row : verbTable) {
        if (strcmp(verb, row.name) != 0) continue;
        ArqCommand command = ArqCommand();
        int bad = parse(row, argc - 2, argv + 2, &command);
        return bad ? bad : row.run(command);
    }
    char problem[80];
    snprintf(problem, sizeof problem, "unknown verb '%.40s'", verb);
    return usage(problem);
}

// An interrupt is passed to the engine through the callback, which asks it
// to stop; the engine then removes its temporary files. A second one ends
// arq at once.
void onSignal(int number) {
    arqInterrupted = number;
    signal(number, SIG_DFL);
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGINT, onSignal);
    signal(SIGTERM, onSignal);
    cxInit();
    cxSetCallback(CX_CALLBACK_EVENT, arqCallback);
    int status = run(argc, argv);
    arqProgressEnd();
    if (arqInterrupted) {
        fprintf(stderr, "arq: interrupted\n");
        status = 128 + arqInterrupted;
    }
    fflush(stdout);
    cxTerm();
    return status;
}
