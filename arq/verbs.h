// The verbs of arq. Each returns the process exit code (0 done, 1 failed).
#ifndef ARQ_VERBS_H
#define ARQ_VERBS_H

#include <vector>

// A command line taken apart: the verb's options and its operands in order.
struct ArqCommand {
    bool namesOnly;         // a and sfx -j: entries under base names
    bool update;            // a -u: only newer files; x -u: replace only older files
    bool verbose;           // x -v: each file named
    bool strictWindows;     // -W: names Windows cannot hold apart are refused
    bool keepExisting;      // x -k
    bool force;             // x -f: an archive that looks like a bomb all the same
    bool toOutput;          // x -O and p: entries' data to standard output
    const char* directory;  // x -C
    bool best;              // a and sfx --best
    const char* product;    // sfx --product: the description of a generic setup
    std::vector<const char*> operands;
};

int arqAdd(const ArqCommand& command);
int arqDelete(const ArqCommand& command);
int arqExtract(const ArqCommand& command);
int arqTest(const ArqCommand& command);
int arqList(const ArqCommand& command);
int arqSfx(const ArqCommand& command);

#endif
