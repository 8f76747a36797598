// arq: the command-line archiver of the engine's own archive format, for
// stand-alone ".arq" archives and archives behind an executable.
#include <getopt.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "cx.h"
#include "report.h"
#include "verbs.h"

#ifdef _WIN32
// Patterns reach arq as typed; the runtime must not expand them.
extern "C" int _dowildcard;
int _dowildcard = 0;
#endif

#ifndef ARQ_VERSION
#define ARQ_VERSION "(unversioned build)"
#endif

namespace {

const char generalHelp[] =
    "usage: arq VERB [OPTIONS] ARCHIVE [ARGUMENTS]     (arq help VERB: one verb)\n"
    "\n"
    "  a    add files and directories       d    delete entries\n"
    "  x    extract entries                 p    extract entries to standard output\n"
    "  t    test entries                    l    list entries\n"
    "  sfx  make a self-extracting file     help the help of a verb\n"
    "\n"
    "ARCHIVE is the file of that name, whatever its extension: a stand-alone\n"
    "archive or a program with an archive behind it (a self-extracting file is\n"
    "rewritten in place and keeps its permissions when it is the user's own).\n"
    "A name without extension that names no file means NAME.arq. - reads the\n"
    "archive from standard input (a and d then write the result to standard\n"
    "output).\n"
    "\n"
    "PATTERN matches the whole stored path, without regard to case, as a shell\n"
    "matches file names: * is any run of characters and ? any one character, but\n"
    "neither matches /; [abc], [a-z] and [!a-z] are one character of a class.\n"
    "A pattern that matches a directory selects everything below it. So *.txt\n"
    "matches notes.txt and MY.NOTES.TXT but not doc/a.txt; doc/*.txt and doc do.\n"
    "On Windows, FILE of arq a may hold the same wildcards in its last part.\n"
    "\n"
    "Letter case: on Linux names are stored as they are and read back so (origin\n"
    "code 3); names that differ only in case are entries of their own. On\n"
    "Windows they are read back upper-case.\n"
    "\n"
    "Windows names: Windows takes names that differ only in letter case or in\n"
    "trailing dots and blanks for one file, and a name whose part is CON, PRN,\n"
    "AUX, NUL, COM1-9 or LPT1-9 (with or without an extension) for a device.\n"
    "On Linux arq a stores such names with a warning and arq x extracts them;\n"
    "with -W (--windows-names) both refuse them. arq.exe on Windows always\n"
    "refuses them.\n"
    "\n"
    "Limits: an archive stays below 2 GiB (2,147,483,648 bytes), so a file must\n"
    "be smaller than that less its entry header; an entry name is at most 254\n"
    "bytes, an output path (DIR and name) at most 268 characters; times are\n"
    "kept from 1970 to 2106. A file or name that does not fit is refused, never\n"
    "cut; a time that does not fit is stored as the nearest end and named.\n"
    "\n"
    "A protected entry (flag 4, written by other tools) is listed and its check\n"
    "value tested, but it is neither extracted nor deleted.\n"
    "\n"
    "Short options combine (-kf, -kvC DIR); options end at --.\n"
    "  arq --help, arq --version\n"
    "\n"
    "Exit status: 0 done, 1 failed or not all done (every problem is named on\n"
    "standard error, and so is every entry stored without its time), 2 bad\n"
    "arguments; 130 or 143 after an interrupt, with no half-written file left\n"
    "behind.\n";

// What each verb takes: its short options ("C:" takes an argument), whether
// it takes --best and --windows-names, how many operands at least, its help
// and what it runs.
struct VerbRow {
    const char* name;
    const char* options;
    bool takesBest;
    bool takesStrict;
    size_t minOperands;
    const char* missing;  // usage message when operands are missing
    const char* help;
    int (*run)(const ArqCommand& command);
};

const VerbRow verbTable[] = {
    {"a", "jpuW", true, true, 2, "a needs an archive and at least one file",
     "  arq a [-j] [-u] [-W] [--best] ARCHIVE FILE...\n"
     "        add files, or replace the entries of the same name. A directory is\n"
     "        added with everything below it (symbolic links followed), an empty\n"
     "        one as a directory entry. Each entry keeps its path below the\n"
     "        current directory (for a file elsewhere, below the named file's\n"
     "        parent), as tar and zip do.\n"
     "    -j  store each file under its base name alone (directories of nothing\n"
     "        are then left out); two files of one name are refused.\n"
     "    -p  keep paths (the default; kept for old scripts).\n"
     "    -u  only files newer than their entry, and new files.\n"
     "    -W, --windows-names  refuse names Windows cannot hold apart (see\n"
     "        arq --help) instead of warning; nothing is written then.\n"
     "    --best  pack smaller (some percent) and several times slower, in the\n"
     "        same format: every reader of these archives expands it.\n",
     arqAdd},
    {"d", "", false, false, 2, "d needs an archive and at least one pattern",
     "  arq d ARCHIVE PATTERN...\n"
     "        delete the entries that match.\n",
     arqDelete},
    {"x", "kfuvC:OW", false, true, 1, "x needs an archive",
     "  arq x [-k|-u] [-f] [-v] [-O] [-W] [-C DIR] ARCHIVE [PATTERN...]\n"
     "        extract the entries that match (all by default) into DIR (default:\n"
     "        the current directory), with their stored paths and empty\n"
     "        directories. Existing files are overwritten. A damaged entry is\n"
     "        reported and the others are still extracted. Names leading outside\n"
     "        DIR or passing through a symbolic link inside DIR are refused.\n"
     "        Nothing is extracted when a file system the entries land on (DIR's,\n"
     "        or one mounted below it) lacks the free space for them,\n"
     "        or, without -f, when an entry unpacks to more than 500,000 times\n"
     "        its packed size or all to more than 16 GiB (an archive bomb). A\n"
     "        disk that fills is reported once, and extraction stops.\n"
     "    -k  keep existing files.\n"
     "    -u  replace an existing file only when its entry is newer.\n"
     "    -f  extract what looks like an archive bomb all the same.\n"
     "    -v  name each file as it is extracted (on standard output).\n"
     "    -O  write the entries' data to standard output instead (as arq p).\n"
     "    -W, --windows-names  refuse names Windows cannot hold apart (always\n"
     "        so on Windows).\n"
     "    -C DIR  extract into DIR.\n",
     arqExtract},
    {"p", "", false, false, 1, "p needs an archive",
     "  arq p ARCHIVE [PATTERN...]\n"
     "        write the data of the entries that match (all by default) to\n"
     "        standard output, one after the other.\n",
     arqExtract},
    {"t", "", false, false, 1, "t needs an archive",
     "  arq t ARCHIVE [PATTERN...]\n"
     "        test the entries: each one's check value, and each one expanded in\n"
     "        full (nothing is written).\n",
     arqTest},
    {"l", "", false, false, 1, "l needs an archive",
     "  arq l ARCHIVE [PATTERN...]\n"
     "        list name, packed and unpacked size, ratio, method, time (UTC) and\n"
     "        check value.\n",
     arqList},
    {"sfx", "j", true, false, 3, "sfx needs a stub, an output and at least one file",
     "  arq sfx [-j] [--best] [--product DESC] STUB OUTPUT FILE...\n"
     "        write STUB, an archive header and the files packed in the order\n"
     "        given: a self-extracting file (an installer). Names are stored\n"
     "        upper-case, with their paths as arq a keeps them; an installer's\n"
     "        payload wants -j, its files under their base names. Directories\n"
     "        are refused: give the files.\n"
     "    -j  store each file under its base name alone.\n"
     "    --best  pack smaller and slower, in the same format.\n"
     "    --product DESC  DESC is the product description of the generic setup\n"
     "        (docs/product-description.md): it must name every file given and\n"
     "        each file it names must be given, or nothing is written. It goes in\n"
     "        first, as the entry PRODUCT.INI; the files under their base names.\n",
     arqSfx},
};

const VerbRow* findVerb(const char* name) {
    for (const VerbRow& row : verbTable) {
        if (strcmp(name, row.name) == 0) return &row;
    }
    return nullptr;
}

int usage(const char* problem) {
    fprintf(stderr, "arq: %s (arq --help explains the verbs)\n", problem);
    return 2;
}

// arq help [VERB]: all of it, or one verb's help.
int help(const char* verb) {
    const VerbRow* row = verb ? findVerb(verb) : nullptr;
    if (verb && !row) {
        char problem[80];
        snprintf(problem, sizeof problem, "no help on '%.40s': it is no verb", verb);
        return usage(problem);
    }
    if (row) {
        fputs(row->help, stdout);
        return 0;
    }
    fputs(generalHelp, stdout);
    fputs("\n", stdout);
    for (const VerbRow& each : verbTable) fputs(each.help, stdout);
    return 0;
}

enum { OPT_BEST = 1000, OPT_HELP, OPT_PRODUCT };

// Takes the arguments after the verb apart; 0, or the usage exit code (or
// -1 when the verb's help was asked for and printed).
int parse(const VerbRow& verb, int count, char** args, ArqCommand* command) {
    const struct option longOptions[] = {
        {"best", no_argument, nullptr, OPT_BEST},
        {"windows-names", no_argument, nullptr, 'W'},
        {"help", no_argument, nullptr, OPT_HELP},
        {"product", required_argument, nullptr, OPT_PRODUCT},
        {nullptr, 0, nullptr, 0},
    };
    std::string shortOptions = std::string(":") + verb.options;
    char problem[120];
    opterr = 0;
    optind = 1;
    // args[0] is the verb, where getopt expects the program's name.
    for (int c; (c = getopt_long(count, args, shortOptions.c_str(), longOptions, nullptr)) != -1;) {
        switch (c) {
        case OPT_HELP: fputs(verb.help, stdout); return -1;
        case OPT_BEST:
            if (!verb.takesBest) break;
            command->best = true;
            continue;
        case OPT_PRODUCT:
            if (strcmp(verb.name, "sfx") != 0) break;
            if (!*optarg) return usage("--product needs a product description");
            command->product = optarg;
            continue;
        case 'W':
            if (!verb.takesStrict) break;
            command->strictWindows = true;
            continue;
        case 'j': command->namesOnly = true; continue;
        case 'p': command->namesOnly = false; continue;
        case 'u': command->update = true; continue;
        case 'v': command->verbose = true; continue;
        case 'k': command->keepExisting = true; continue;
        case 'f': command->force = true; continue;
        case 'O': command->toOutput = true; continue;
        case 'C':
            if (!*optarg) {
                snprintf(problem, sizeof problem, "-C needs a directory");
                return usage(problem);
            }
            command->directory = optarg;
            continue;
        case ':':
            if (optopt == OPT_PRODUCT) return usage("--product needs a product description");
            if (optopt != 'C') break;  // a value given to a long option, as some getopts report it
            snprintf(problem, sizeof problem, "-%c needs a directory", optopt);
            return usage(problem);
        default:
            break;
        }
        // A letter the verb does not know is named alone. A long option the
        // verb does not take, or given a value it takes none of, is named as
        // written: optopt then holds its value, or nothing.
        if ((c == '?' || c == ':') && optopt > 0 && optopt < 256 && !strchr(verb.options, optopt)) {
            snprintf(problem, sizeof problem, "%s does not take the option '-%c'", verb.name, optopt);
        } else {
            snprintf(problem, sizeof problem, "%s does not take the option '%.40s'", verb.name, args[optind - 1]);
        }
        return usage(problem);
    }
    for (int i = optind; i < count; ++i) command->operands.push_back(args[i]);
    if (command->operands.size() < verb.minOperands) return usage(verb.missing);
    if (command->keepExisting && command->update) return usage("-k and -u exclude each other");
    if (strcmp(verb.name, "p") == 0) command->toOutput = true;
#ifdef _WIN32
    command->strictWindows = true;  // the names are to be files here
#endif
    return 0;
}

int run(int argc, char** argv) {
    if (argc < 2) return usage("no verb given");
    const char* verb = argv[1];
    if (strcmp(verb, "--help") == 0 || strcmp(verb, "-h") == 0) return help(nullptr);
    if (strcmp(verb, "help") == 0) return help(argc > 2 ? argv[2] : nullptr);
    if (strcmp(verb, "--version") == 0) {
        printf("arq %s\n", ARQ_VERSION);
        return 0;
    }
    const VerbRow* row = findVerb(verb);
    if (!row) {
        char problem[80];
        snprintf(problem, sizeof problem, "unknown verb '%.40s'", verb);
        return usage(problem);
    }
    ArqCommand command = ArqCommand();
    int bad = parse(*row, argc - 1, argv + 1, &command);
    if (bad) return bad < 0 ? 0 : bad;
    return row->run(command);
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
