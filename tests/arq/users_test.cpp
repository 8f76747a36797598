// arq as a new user meets it: nothing is lost without a failure said, and
// names, patterns, archives and messages behave as users expect.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include "arq_fixture.h"
#include "stream_util.h"

namespace {

// Offset of the unpacked-size field of the entry header at 'at' whose name
// has 'nameLength' bytes.
size_t UnpackedSizeField(size_t at, size_t nameLength) {
    return at + 8 + nameLength + 14;
}

void PutLE(Bytes* bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) (*bytes)[at + i] = (uint8_t)(value >> (8 * i));
}

class ArqUser : public Arq {
protected:
    // Starts arq in the background, waits until 'appears' (a shell glob in
    // the test's directory) exists, sends the signal and returns the exit
    // status.
    int Interrupt(const std::string& args, const std::string& appears, const char* signal) {
        std::string script = "cd '" + dir.path() + "' && { '" ARQ_PATH "' " + args +
                             " >/dev/null 2>.err & pid=$!; n=0; until ls " + appears +
                             " >/dev/null 2>&1 || [ $n -ge 3000 ]; do sleep 0.01; n=$((n+1)); done; kill -" +
                             signal + " $pid; wait $pid; }";
        int raw = system(script.c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    bool NoTemporaryFiles(const std::string& sub) {
        std::string command = "find '" + dir.file(sub) + "' -type f -name 'CX*[$][$][$]' | grep -q .";
        return system(command.c_str()) != 0;
    }
};

// A size field changed by hand passes the check value (it covers the stored
// bytes only); t and x find it, and x still extracts every other entry.
TEST_F(ArqUser, DamageThatPassesTheCheckValueIsFound) {
    Bytes good = Sample("good.txt", 30000, 0, true);
    Sample("bad.txt", 20000, 0, true);
    Bytes last = Sample("zlast.txt", 5000, 0, true);
    ASSERT_EQ(0, Run({"a", "d.arq", "good.txt", "bad.txt", "zlast.txt"}).status);
    Bytes bytes = ReadFileBytes(dir.file("d.arq"));
    // bad.txt is the second entry: after good.txt's header and data.
    uint32_t goodPacked = bytes[8 + 8 + 10] | bytes[8 + 8 + 11] << 8 | bytes[8 + 8 + 12] << 16;
    size_t second = 8 + 8 + 33 + goodPacked;
    for (uint32_t size : {20001u, 0x7FFFFFF0u}) {
        PutLE(&bytes, UnpackedSizeField(second, 7), size);
        ASSERT_TRUE(WriteFileBytes(dir.file("d.arq"), bytes));
        Result r = Run({"t", "d.arq"});
        EXPECT_EQ(1, r.status) << size;
        EXPECT_NE(std::string::npos, r.err.find("bad.txt: damaged data")) << r.err;
        EXPECT_NE(std::string::npos, r.out.find("good.txt")) << r.out;

        r = Run({"x", "d.arq", "-C", "out"});
        EXPECT_EQ(1, r.status) << size;
        EXPECT_EQ(1, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;
        EXPECT_FALSE(FileExists(dir.file("out/bad.txt")));
        EXPECT_EQ(good, ReadFileBytes(dir.file("out/good.txt")));
        EXPECT_EQ(last, ReadFileBytes(dir.file("out/zlast.txt")));
        EXPECT_TRUE(NoTemporaryFiles("out"));
    }
}

TEST_F(ArqUser, CollidingNamesAndLongPathsAreRefused) {
    Sample("readme", 10, 1, true);
    Sample("README", 20, 2, true);
    Sample("ReadMe", 30, 3, true);
    Result r = Run({"a", "-W", "c.arq", "readme", "README", "ReadMe"});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("would both be stored")) << r.err;
    EXPECT_FALSE(FileExists(dir.file("c.arq")));

    ASSERT_TRUE(cxPlatMakeDir(dir.file("d1").c_str()) && cxPlatMakeDir(dir.file("d2").c_str()));
    Sample("d1/x.txt", 10, 1, true);
    Sample("d2/x.txt", 20, 2, true);
    r = Run({"a", "-j", "c.arq", "d1/x.txt", "d2/x.txt"});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("without -j their paths are kept")) << r.err;
    EXPECT_FALSE(FileExists(dir.file("c.arq")));
    EXPECT_EQ(0, Run({"a", "c.arq", "d1/x.txt", "d2/x.txt"}).status);
    EXPECT_NE(std::string::npos, Run({"l", "c.arq"}).out.find("2 entries"));

    // Two 254-byte names under a 30-character directory would not fit.
    std::vector<TestEntry> entries(3);
    entries[0].name = std::string(253, 'n') + "1";
    entries[1].name = std::string(253, 'n') + "2";
    entries[2].name = "fits.txt";
    for (TestEntry& e : entries) e.data = Bytes(5, 'e');
    ASSERT_TRUE(WriteArchive(dir.file("long.arq"), entries));
    r = Run({"x", "long.arq", "-C", "a-directory-of-thirty-letters"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(2, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("longer than 268")) << r.err;
    EXPECT_TRUE(FileExists(dir.file("a-directory-of-thirty-letters/FITS.TXT")));
}

// An archive stays below 2 GiB: a file that cannot fit is refused before
// anything is read, with that figure.
TEST_F(ArqUser, FilesTooLargeForAnArchiveAreRefused) {
    std::string huge = dir.file("huge.bin");
    Sample("small.txt", 100, 0, true);
    for (long long size : {4400000000LL, 2147483648LL}) {
        ASSERT_TRUE(WriteFileBytes(huge, Bytes()));
        ASSERT_EQ(0, truncate(huge.c_str(), size));  // sparse
        Result r = Run({"a", "h.arq", "small.txt", "huge.bin"});
        EXPECT_EQ(1, r.status);
        std::string says = std::to_string(size) + " bytes; an archive stays below 2 GiB (2,147,483,648 bytes)";
        EXPECT_NE(std::string::npos, r.err.find(says)) << r.err;
        EXPECT_FALSE(FileExists(dir.file("h.arq")));
    }
}

TEST_F(ArqUser, SfxNeverDestroysItsOwnInputs) {
    Bytes stub = Sample("stub", 5000, 7, false);
    Bytes file = Sample("f.txt", 3000, 0, true);
    ExpectOneLineFailure(Run({"sfx", "stub", "stub", "f.txt"}), "stub");
    EXPECT_EQ(stub, ReadFileBytes(dir.file("stub")));
    ExpectOneLineFailure(Run({"sfx", "stub", "f.txt", "f.txt"}), "own files");
    EXPECT_EQ(file, ReadFileBytes(dir.file("f.txt")));
    ASSERT_TRUE(cxPlatMakeDir(dir.file("sub").c_str()));
    ExpectOneLineFailure(Run({"sfx", "stub", "out.exe", "sub"}), "directory");
    EXPECT_FALSE(FileExists(dir.file("out.exe")));
    Bytes signed_ = stub;
    const uint8_t signature[4] = {0x67, 0x57, 0x04, 0x01};
    std::copy(signature, signature + 4, signed_.begin() + 1000);
    ASSERT_TRUE(WriteFileBytes(dir.file("signed"), signed_));
    ExpectOneLineFailure(Run({"sfx", "signed", "out.exe", "f.txt"}), "signature");
    EXPECT_FALSE(FileExists(dir.file("out.exe")));
    EXPECT_EQ(0, Run({"sfx", "stub", "out.exe", "f.txt"}).status);
}

// An interrupt leaves no temporary output in the destination and no
// half-written self-extracting file.
TEST_F(ArqUser, InterruptsLeaveNothingHalfWritten) {
    Sample("zeros.bin", 0, 0, false);
    ASSERT_EQ(0, truncate(dir.file("zeros.bin").c_str(), 96 << 20));
    ASSERT_EQ(0, Run({"a", "z.arq", "zeros.bin"}).status);
    ASSERT_TRUE(cxPlatMakeDir(dir.file("out").c_str()));
    EXPECT_EQ(130, Interrupt("x z.arq -C out", "'out/CX'*", "INT"));
    EXPECT_TRUE(NoTemporaryFiles("out"));
    EXPECT_FALSE(FileExists(dir.file("out/zeros.bin")));

    Sample("stub", 4000, 3, false);
    EXPECT_EQ(143, Interrupt("sfx stub setup.exe zeros.bin", "'CX'*", "TERM"));
    EXPECT_FALSE(FileExists(dir.file("setup.exe")));
    EXPECT_TRUE(NoTemporaryFiles("."));
}

TEST_F(ArqUser, NamesAndPatternsAsUsersExpect) {
    ASSERT_TRUE(cxPlatMakeDir(dir.file("src").c_str()) && cxPlatMakeDir(dir.file("src/d2").c_str()));
    Bytes main = Sample("src/main.c", 2000, 0, true);
    Sample("src/MY.NOTES.TXT", 300, 0, true);
    Sample("src/d2/x.txt", 200, 0, true);
    Sample("x.txt", 100, 0, true);
    ASSERT_EQ(0, symlink("src/main.c", dir.file("link.c").c_str()));
    ASSERT_EQ(0, symlink("nowhere", dir.file("dangling").c_str()));

    // A directory is added with everything below it; links are followed,
    // a dangling one is reported and the rest is added.
    Result r = Run({"a", "-p", "p.arq", "src", "x.txt", "link.c", "dangling"});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("dangling: dangling symbolic link")) << r.err;
    r = Run({"l", "p.arq"});
    for (const char* name : {"src/main.c", "src/MY.NOTES.TXT", "src/d2/x.txt", "x.txt", "link.c", "5 entries"})
        EXPECT_NE(std::string::npos, r.out.find(name)) << name << r.out;

    // Patterns match whole paths with shell wildcards, in every verb alike.
    EXPECT_NE(std::string::npos, Run({"l", "p.arq", "src/*.txt"}).out.find("1 entry\n"));
    EXPECT_NE(std::string::npos, Run({"t", "p.arq", "*/*.txt", "x.txt"}).out.find("2 entries tested"));
    EXPECT_NE(std::string::npos, Run({"l", "p.arq", "*.c"}).out.find("1 entry\n"));  // link.c, not src/main.c
    ASSERT_EQ(0, Run({"x", "p.arq", "SRC/D2/X.TXT", "Src/*.Txt", "-C", "o"}).status);
    EXPECT_TRUE(FileExists(dir.file("o/src/d2/x.txt")));
    EXPECT_TRUE(FileExists(dir.file("o/src/MY.NOTES.TXT")));
    EXPECT_FALSE(FileExists(dir.file("o/x.txt")));
    EXPECT_FALSE(FileExists(dir.file("o/src/main.c")));
    ASSERT_EQ(0, Run({"x", "p.arq", "src", "-C", "all"}).status);  // a directory: all below it
    EXPECT_EQ(main, ReadFileBytes(dir.file("all/src/main.c")));
    ExpectOneLineFailure(Run({"d", "p.arq", "nothing*"}), "no entry matches nothing*");
    ASSERT_EQ(0, Run({"d", "p.arq", "src/d2/x.txt"}).status);
    EXPECT_NE(std::string::npos, Run({"l", "p.arq"}).out.find("4 entries"));

    // Existing files are overwritten, or kept with -k, or with -u kept
    // when they are not older than the entry.
    ASSERT_TRUE(WriteFileText(dir.file("all/src/main.c"), "changed"));
    ASSERT_EQ(0, Run({"x", "-k", "p.arq", "src/main.c", "-C", "all"}).status);
    EXPECT_EQ("changed", Text(dir.file("all/src/main.c")));
    ASSERT_EQ(0, Run({"x", "-u", "p.arq", "src/main.c", "-C", "all"}).status);
    EXPECT_EQ("changed", Text(dir.file("all/src/main.c")));
    struct utimbuf old = {0, 1000000000};
    ASSERT_EQ(0, utime(dir.file("all/src/main.c").c_str(), &old));
    ASSERT_EQ(0, Run({"x", "-u", "p.arq", "src/main.c", "-C", "all"}).status);
    EXPECT_EQ(main, ReadFileBytes(dir.file("all/src/main.c")));

    // a -u takes a file only when it is newer than its entry.
    ASSERT_TRUE(WriteFileText(dir.file("x.txt"), "older"));
    ASSERT_EQ(0, utime(dir.file("x.txt").c_str(), &old));
    ASSERT_EQ(0, Run({"a", "-u", "p.arq", "x.txt"}).status);
    EXPECT_EQ(std::string::npos, Run({"p", "p.arq", "x.txt"}).out.find("older"));
    struct utimbuf later = {0, 2000000000};
    ASSERT_EQ(0, utime(dir.file("x.txt").c_str(), &later));
    ASSERT_EQ(0, Run({"a", "-u", "p.arq", "x.txt"}).status);
    EXPECT_EQ("older", Run({"p", "p.arq", "x.txt"}).out);

    // l counts columns, not bytes, and widens its name column for a long name.
    ASSERT_TRUE(cxPlatMakeDir(dir.file("w").c_str()));
    Sample("w/\xe6\x97\xa5\xe6\x9c\xac.txt", 10, 0, true);  // two wide characters
    Sample("w/" + std::string(60, 'n'), 10, 0, true);
    ASSERT_EQ(0, Run({"a", "w.arq", "w"}).status);
    r = Run({"l", "w.arq"});
    std::vector<size_t> packedEnds;  // the column where each row's packed size ends
    for (size_t at = 0; at < r.out.size();) {
        size_t end = r.out.find('\n', at);
        std::string line = r.out.substr(at, end - at);
        at = end + 1;
        size_t digit = line.find_first_of("0123456789");
        if (line.compare(0, 4, "Name") == 0 || digit == std::string::npos) continue;
        size_t columns = 0, last = std::min(line.find(' ', digit), line.size());
        for (size_t i = 0; i < last; ++i)  // a three-byte character here is a wide one
            columns += (line[i] & 0xC0) != 0x80 ? ((unsigned char)line[i] >= 0xE0 ? 2 : 1) : 0;
        packedEnds.push_back(columns);
    }
    ASSERT_EQ(3u, packedEnds.size()) << r.out;
    EXPECT_EQ(packedEnds[0], packedEnds[1]) << r.out;
    EXPECT_EQ(packedEnds[0], packedEnds[2]) << r.out;
}

// An archive is the file named, whatever its extension, and keeps its mode.
TEST_F(ArqUser, ArchivesAreOpenedByTheNameGiven) {
    Sample("stub", 5000, 7, false);
    Sample("one.txt", 500, 0, true);
    Sample("two.txt", 600, 0, true);
    ASSERT_EQ(0, Run({"sfx", "stub", "setup", "one.txt"}).status);
    ASSERT_EQ(0, chmod(dir.file("setup").c_str(), 0755));
    ASSERT_EQ(0, Run({"x", "setup", "-C", "out"}).status);
    EXPECT_TRUE(FileExists(dir.file("out/ONE.TXT")));
    ASSERT_EQ(0, Run({"a", "setup", "two.txt"}).status);
    EXPECT_FALSE(FileExists(dir.file("setup.arq")));
    EXPECT_NE(std::string::npos, Run({"l", "setup"}).out.find("2 entries"));
    struct stat info;
    ASSERT_EQ(0, stat(dir.file("setup").c_str(), &info));
    EXPECT_EQ(0755u, info.st_mode & 0777);
    ASSERT_EQ(0, Run({"d", "setup", "one.txt"}).status);
    EXPECT_FALSE(FileExists(dir.file("setup.arq")));
    EXPECT_NE(std::string::npos, Run({"l", "setup"}).out.find("1 entry\n"));
    // A file that is no archive is not rewritten.
    Bytes notes = Sample("notes.txt", 100, 0, true);
    ExpectOneLineFailure(Run({"a", "notes.txt", "one.txt"}), "not an archive");
    EXPECT_EQ(notes, ReadFileBytes(dir.file("notes.txt")));
}

TEST_F(ArqUser, MessagesSayWhatAndWhy) {
    ASSERT_TRUE(cxPlatMakeDir(dir.file("sub").c_str()));
    Sample("sub/a.txt", 3000, 0, true);
    ASSERT_EQ(0, Run({"a", "-p", "m.arq", "sub/a.txt"}).status);
    // "/" between levels and the system's reason.
    ASSERT_TRUE(WriteFileText(dir.file("blocker"), "a file where a directory should be"));
    Result r = Run({"x", "m.arq", "-C", "blocker"});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("blocker/sub/a.txt")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(": Not a directory")) << r.err;
    // An archive cut inside its first entry is truncated, not "not an archive".
    Bytes whole = ReadFileBytes(dir.file("m.arq"));
    ASSERT_TRUE(WriteFileBytes(dir.file("cut.arq"), Bytes(whole.begin(), whole.begin() + 100)));
    ExpectOneLineFailure(Run({"l", "cut.arq"}), "truncated inside its first entry");
    ExpectOneLineFailure(Run({"x", "cut.arq"}), "truncated");
    // Usage errors.
    EXPECT_EQ(2, Run({"a", "x.arq"}).status);
    EXPECT_EQ(2, Run({"x", "m.arq", "-C"}).status);
    EXPECT_EQ(2, Run({"l", "-q", "m.arq"}).status);
    // Control characters in names are shown as escapes.
    // So are C1 controls, raw or UTF-8 (CSI, OSC); other UTF-8 stays as it is.
    std::vector<TestEntry> entries(2);
    entries[0].name = "bell\a\nname";
    entries[1].name = "c1\x9B\xC2\x9B\xC2\x9D\xC3\x84\xE2\x82\xAC";
    for (TestEntry& e : entries) e.data = Bytes(3, 'x');
    ASSERT_TRUE(WriteArchive(dir.file("ctl.arq"), entries));
    r = Run({"l", "ctl.arq"});
    EXPECT_NE(std::string::npos, r.out.find("BELL\\x07\\nNAME")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("C1\\x9B\\xC2\\x9B\\xC2\\x9D\xC3\x84\xE2\x82\xAC")) << r.out;
    // A time the 32-bit field cannot hold is clamped, said so, and named
    // again in the summary and the exit status.
    for (time_t when : {(time_t)5000000000LL, (time_t)-86400 * 365}) {
        struct utimbuf far = {0, when};
        ASSERT_EQ(0, utime(dir.file("sub/a.txt").c_str(), &far));
        r = Run({"a", "-j", "t.arq", "sub/a.txt"});
        EXPECT_EQ(1, r.status);
        EXPECT_NE(std::string::npos, r.err.find(when > 0 ? "2106" : "1970")) << r.err;
        EXPECT_NE(std::string::npos, r.err.find("1 entry stored without its modification time")) << r.err;
        EXPECT_NE(std::string::npos, Run({"l", "t.arq"}).out.find(when > 0 ? "2106-02-07 06:28:15" : "1970-01-01"));
    }

    Result help = Run({"--help"});
    for (const char* topic : {"overwritten", "-k", "case", "2 GiB", "protected", "neither matches /"})
        EXPECT_NE(std::string::npos, help.out.find(topic)) << topic;
}

void WriteCrafted(const std::string& path, Bytes entries) {
    AppendEnd(&entries);
    ASSERT_TRUE(WriteFileBytes(path, entries));
}

// BOMB.BIN, 13 bytes that unpack to 8,388,609: a literal, then 32,768
// matches of 256 bytes, each taking no bits (a block whose codes have one
// symbol each).
void WriteBomb(const std::string& path) {
    BitWriter stream;
    OneSymbolBlock(&stream, 1, 'A', 0);
    OneSymbolBlock(&stream, 32768, 509, 0);
    WriteCrafted(path, EntryBytes("BOMB.BIN", 2, stream.finish(), 1 + 32768 * 256));
}

// ---- a folder another user writes ----------------------------------------

// Root works in 'shared', a folder the user nobody owns and fills before
// and while arq runs; 'victim' is root's own folder of mode 0700, which
// nobody cannot enter but can point links into. Without root (or setpriv)
// the test plants the same links itself.
struct Attack {
    const char* name;
    const char* plant;   // shell, in the test's directory, as the other user, before arq
    const char* during;  // shell, as the other user, while arq runs (its renames held 0.3 s)
    std::vector<std::string> args;  // root's arq command; x when empty
    int status;          // -1: either
    const char* says;    // on standard error
    const char* kept;    // a file of its own in shared afterwards, never setuid or setgid, or ""
    const char* hold = nullptr;    // strace options that slow arq down, instead of holding its renames
    const char* absent = nullptr;  // a file never there afterwards
};

const Attack kAttacks[] = {
    {"temporary names a counter would give, planted as links into victim",
     "for n in $(seq -w 1 60); do ln -s ../victim/loot$n \"shared/CX000$n.\\$\\$\\$\"; done", nullptr, {}, 0, "",
     "PLAIN.TXT"},
    {"a link to victim inside the destination",
     "ln -s ../victim shared/LINK", nullptr, {}, 1, "LINK/PWNED: refused, shared/LINK is a symbolic link",
     "PLAIN.TXT"},
    {"the output swapped for a link to a file of victim right after it was put in place", "",
     "until [ -f shared/PLAIN.TXT ] && [ ! -L shared/PLAIN.TXT ]; do :; done; "
     "ln -s ../victim/secret shared/.swap && mv -T shared/.swap shared/PLAIN.TXT",
     {}, -1, "", ""},
    {"the other user's archive, setuid, rewritten", "cp a.arq shared/OTHER.ARQ && chmod 4755 shared/OTHER.ARQ",
     nullptr, {"d", "shared/OTHER.ARQ", "LINK/PWNED"}, 0, "", "OTHER.ARQ"},
    {"a link to a file of victim where sfx writes", "ln -s ../victim/secret shared/SETUP.EXE", nullptr,
     {"sfx", "stub", "shared/SETUP.EXE", "f.txt"}, 0, "", "SETUP.EXE"},
    {"the archive swapped for a bomb after the first open (each open held 0.6 s)",
     "cp a.arq shared/FLIP.ARQ", "sleep 0.3; cp bomb.arq shared/.f && mv -f shared/.f shared/FLIP.ARQ",
     {"x", "shared/FLIP.ARQ", "-C", "shared"}, 0, "", "PLAIN.TXT",
     "-P shared/FLIP.ARQ -e trace=openat -e inject=openat:delay_exit=600000", "shared/BOMB.BIN"},
};

TEST_F(ArqUser, AFolderAnotherUserWritesSendsNothingElsewhere) {
    bool asOther = geteuid() == 0 && system("command -v setpriv >/dev/null") == 0;
    bool canHold = system("command -v strace >/dev/null && strace -qq -o /dev/null true 2>/dev/null") == 0;
    std::string other = asOther ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    std::vector<TestEntry> entries(3);
    entries[0].name = "LINK/PWNED";
    entries[1].name = "PLAIN.TXT";
    entries[1].mode = 0x8FFF;  // setuid, setgid and sticky: never given to a file extracted
    for (TestEntry& e : entries) e.data = Bytes(4000, 'e');
    entries[2].name = "LINK/MADE/";  // a directory entry: no folder made through the link either
    entries[2].mode = 0x41ED;
    entries[2].data.clear();
    ASSERT_TRUE(WriteArchive(dir.file("a.arq"), entries));
    WriteBomb(dir.file("bomb.arq"));
    Sample("stub", 3000, 1, false);
    Sample("f.txt", 100, 0, true);
    ASSERT_EQ(0, chmod(dir.path().c_str(), 0711));
    for (const Attack& attack : kAttacks) {
        SCOPED_TRACE(attack.name);
        if (attack.during && !canHold) {
            printf("skipped without strace: %s\n", attack.name);
            continue;
        }
        ASSERT_EQ(0, system(("cd '" + dir.path() + "' && rm -rf shared victim && mkdir shared victim && chmod 700 victim"
                             " && echo secret > victim/secret && chmod 600 victim/secret && touch -d @500000000"
                             " victim/secret" + (asOther ? " && chown 65534:65534 shared" : "")).c_str()));
        ASSERT_EQ(0, system(("cd '" + dir.path() + "' && " + other + "sh -c '" + attack.plant + "'").c_str()));
        // The attacker starts first and says when it is done in shared/.done.
        std::string attacker = std::string("{ ") + other + "timeout 10 sh -c '" +
                               (attack.during ? attack.during : "") + "; touch shared/.done' & } ; ";
        std::string hold = std::string("strace -f -qq -o /dev/null ") +
                           (attack.hold ? attack.hold
                                        : "-e trace=rename,renameat,renameat2 "
                                          "-e inject=rename,renameat,renameat2:delay_exit=300000");
        std::vector<std::string> args = attack.args;
        if (args.empty()) args = {"x", "a.arq", "-C", "shared"};
        Result r = Run(args, attack.during ? attacker + hold : "");
        if (attack.during) {
            system(("for i in $(seq 100); do [ -e '" + dir.file("shared/.done") + "' ] && break; sleep 0.1; done")
                       .c_str());
        }
        if (attack.status >= 0) EXPECT_EQ(attack.status, r.status) << r.err;
        EXPECT_NE(std::string::npos, r.err.find(attack.says)) << r.err;
        struct stat info;
        ASSERT_EQ(0, stat(dir.file("victim/secret").c_str(), &info));
        EXPECT_EQ(0600u, info.st_mode & 07777);
        EXPECT_EQ(500000000, (long)info.st_mtime);
        EXPECT_EQ("secret\n", Text(dir.file("victim/secret")));
        std::string listing;
        system(("ls -A '" + dir.file("victim") + "' > '" + dir.file("victim.ls") + "'").c_str());
        EXPECT_EQ("secret\n", Text(dir.file("victim.ls")));
        if (*attack.kept) {
            ASSERT_EQ(0, lstat(dir.file(std::string("shared/") + attack.kept).c_str(), &info));
            EXPECT_TRUE(S_ISREG(info.st_mode));
            // One's own archive keeps its mode: the other user's only as root.
            if (asOther || attack.args.empty()) EXPECT_EQ(0u, info.st_mode & 07000) << std::oct << info.st_mode;
            if (attack.args.empty())
                EXPECT_EQ(entries[1].data, ReadFileBytes(dir.file(std::string("shared/") + attack.kept)));
        }
        if (attack.absent) EXPECT_FALSE(FileExists(dir.file(attack.absent)));
        EXPECT_TRUE(NoTemporaryFiles("shared"));
    }
}

// ---- refused before anything is written --------------------------------------

// A file system mounted for one test (as root), gone with it: a tmpfs of
// 64 KiB, or with 'from' that folder bound there.
struct SmallMount {
    std::string at;
    bool mounted;
    explicit SmallMount(const std::string& path, const std::string& from = "")
        : at(path), mounted(cxPlatMakeDir(path.c_str()) &&
                            (from.empty() ? mount("tmpfs", path.c_str(), "tmpfs", 0, "size=64k")
                                          : mount(from.c_str(), path.c_str(), nullptr, MS_BIND, nullptr)) == 0) {}
    ~SmallMount() {
        if (mounted) umount2(at.c_str(), MNT_DETACH);
    }
};

// A folder of the test seen through a file system that folds letter case,
// as vfat and NTFS do (foldfs.py, on FUSE; root only), gone with the test.
struct FoldingMount {
    std::string at;
    bool mounted = false;
    FoldingMount(const std::string& backing, const std::string& path) : at(path) {
        if (geteuid() != 0 || !cxPlatMakeDir(backing.c_str()) || !cxPlatMakeDir(path.c_str())) return;
        std::string start = "/usr/bin/python3 '" FOLDFS_PATH "' '" + backing + "' '" + path + "' >/dev/null 2>&1 &";
        if (system(start.c_str()) != 0) return;
        struct stat folder, below;
        for (int tries = 0; tries < 50 && !mounted; ++tries) {
            usleep(100000);
            mounted = stat(path.c_str(), &folder) == 0 && stat(backing.c_str(), &below) == 0 &&
                      folder.st_dev != below.st_dev;
        }
    }
    ~FoldingMount() {
        if (mounted) umount2(at.c_str(), MNT_DETACH);
    }
};

struct Refusal {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::vector<const char*> says;
    const char* never;   // not said
    const char* made;    // a file there afterwards, or ""
    const char* absent;  // a file not there afterwards, or ""
    const char* input = "";  // a file on standard input
    const char* shows = "";  // on standard output
};

TEST_F(ArqUser, BombsSizesAndWindowsNamesAreRefused) {
    WriteBomb(dir.file("bomb.arq"));
    // More than the free space all told, each entry less; a small one first.
    int64_t available = cxFreeSpace(dir.file("x").c_str());
    Bytes full = EntryBytes("FIRST.TXT", 1, Bytes(10, 'f'), 10);
    for (int64_t i = 0; i <= available / 4000000000LL + 1; ++i)
        Append(&full, EntryBytes("BIG" + std::to_string(i), 1, Bytes(), 4000000000u));
    WriteCrafted(dir.file("full.arq"), full);
    // 3.2 GB claimed by a stored entry of 7,000 bytes: room enough, damaged.
    WriteCrafted(dir.file("big.arq"), EntryBytes("BIG.BIN", 1, Bytes(7000, 'b'), 3200000000u));
    Bytes names = EntryBytes("DUP.", 1, Bytes(5, '1'), 5);
    Append(&names, EntryBytes("DUP", 1, Bytes(5, '2'), 5));
    Append(&names, EntryBytes("AUX.C", 1, Bytes(5, '3'), 5));
    WriteCrafted(dir.file("names.arq"), names);
    for (const char* file : {"dup.", "dup", "con.txt", "ok.txt", "a:b.txt", "b.txt"}) Sample(file, 100, 0, true);
    // Three entries, the first four bytes overwritten: the first is lost.
    Bytes start = EntryBytes("FIRST.TXT", 1, Bytes(100, 'f'), 100);
    Append(&start, EntryBytes("SECOND.TXT", 1, Bytes(10, 's'), 10));
    Append(&start, EntryBytes("THIRD.TXT", 1, Bytes(10, 't'), 10));
    std::fill(start.begin(), start.begin() + 4, 'X');
    WriteCrafted(dir.file("start.arq"), start);
    // Before the archive of a program: the program, said nothing of; but
    // damage between its archive header and first entry is said.
    std::vector<TestEntry> two(2);
    two[0].name = "ONE.TXT";
    two[1].name = "TWO.TXT";
    for (TestEntry& e : two) e.data = Bytes(50, 'p');
    Bytes program = {'M', 'Z'};
    program.resize(3000, 0x90);
    ASSERT_TRUE(WriteArchive(dir.file("program.exe"), two, program));
    ASSERT_TRUE(WriteArchive(dir.file("setup.exe"), two, program, true));
    Bytes setup = ReadFileBytes(dir.file("setup.exe"));
    setup[3000 + 12] = 'X';  // the first entry's signature, just after the archive header
    ASSERT_TRUE(WriteFileBytes(dir.file("setup.exe"), setup));
    // An ordinary Linux tree: names that differ in case alone, an empty
    // folder, a backslash in a name.
    for (const char* folder : {"tree", "tree/empty", "tree/sub"}) ASSERT_TRUE(cxPlatMakeDir(dir.file(folder).c_str()));
    for (const char* file : {"tree/Index.html", "tree/index.html", "tree/sub/x.txt"}) Sample(file, 300, 0, true);
    // A small file system whose files run out after five.
    std::string mount = "mount -t tmpfs -o size=1m,nr_inodes=6 tmpfs '" + dir.file("small") + "' 2>/dev/null";
    bool small = geteuid() == 0 && cxPlatMakeDir(dir.file("small").c_str()) && system(mount.c_str()) == 0;
    std::vector<std::string> many = {"a", "-j", "many.arq"};
    for (int i = 1; i <= 8; ++i) many.push_back(std::to_string(i) + ".bin");
    for (size_t i = 3; i < many.size(); ++i) Sample(many[i], 3000, (uint32_t)i, false);
    ASSERT_EQ(0, Run(many).status);
    // 80,000 bytes for a file system of 64 KiB mounted below the destination.
    Bytes mounted = EntryBytes("FIRST.TXT", 1, Bytes(10, 'f'), 10);
    for (const char* name : {"MNT/B1", "MNT/B2"}) Append(&mounted, EntryBytes(name, 1, Bytes(40000, 'b'), 40000));
    WriteCrafted(dir.file("mounted.arq"), mounted);
    ASSERT_TRUE(cxPlatMakeDir(dir.file("m1").c_str()));
    SmallMount tinyBelow(dir.file("m1/MNT"));
    // 100,000 bytes to a roomy file system mounted below a small one.
    Bytes roomy = EntryBytes("SMALL.TXT", 1, Bytes(10, 's'), 10);
    Append(&roomy, EntryBytes("BIG/B1", 1, Bytes(100000, 'b'), 100000));
    WriteCrafted(dir.file("roomy.arq"), roomy);
    ASSERT_TRUE(cxPlatMakeDir(dir.file("roomy").c_str()));
    SmallMount tinyTop(dir.file("m2"));
    SmallMount bound(dir.file("m2/BIG"), dir.file("roomy"));
    FoldingMount folding(dir.file("foldback"), dir.file("fold"));

    const Refusal refusals[] = {
        {"an entry that unpacks to 645,000 times its size", {"x", "bomb.arq", "-C", "o1"}, 1,
         {"BOMB.BIN would unpack to 8388609 bytes from 13", "-f extracts it all the same"}, "", "", "o1/BOMB.BIN"},
        {"the same with -f", {"x", "-f", "bomb.arq", "-C", "o2"}, 0, {}, "", "o2/BOMB.BIN", ""},
        {"more than the free space, all told", {"x", "full.arq", "-C", "o3"}, 1,
         {"o3: not enough free disk space: the entries unpack to"}, "", "", "o3/FIRST.TXT"},
        {"an entry over 2 GB where there is room for it", {"x", "big.arq", "-C", "o4"}, 1,
         {"BIG.BIN: damaged data"}, "free disk space", "", ""},
        {"names Windows takes for one file, or for a device", {"x", "-W", "names.arq", "-C", "o5"}, 1,
         {"DUP: the same file as DUP. on Windows", "AUX.C: refused, AUX is a device name on Windows"}, "",
         "o5/DUP.", "o5/AUX.C"},
        {"files whose names differ only in trailing dots", {"a", "--windows-names", "n.arq", "dup.", "dup"}, 1,
         {"dup. and dup would both be stored as DUP"}, "", "", "n.arq"},
        {"a file named as a device", {"a", "-W", "c.arq", "con.txt", "ok.txt"}, 1,
         {"con.txt: refused, CON is a device name on Windows"}, "", "c.arq", ""},
        {"the same without the Windows rules: stored with a warning", {"a", "c2.arq", "con.txt", "dup.", "dup"}, 0,
         {"CON is a device name on Windows", "dup. and dup are one file on Windows"}, "", "c2.arq", ""},
        {"names Windows takes for one file, extracted on Linux", {"x", "names.arq", "-C", "o9"}, 0, {}, "",
         "o9/AUX.C", ""},
        {"an archive whose first bytes are damaged, tested", {"t", "start.arq"}, 1,
         {"start.arq: 150 bytes at offset 0 to 149 are no entry"}, "all sound", "", ""},
        {"the same extracted", {"x", "start.arq", "-C", "o6"}, 1, {"the archive's start is damaged"}, "",
         "o6/SECOND.TXT", ""},
        {"a program with an archive behind it", {"t", "program.exe"}, 0, {}, "no entry", "", ""},
        {"a self-extracting file whose first entry is damaged", {"t", "setup.exe"}, 1,
         {"setup.exe: 98 bytes at offset 3012 to 3109 are no entry"}, "", "", ""},
        {"a colon in a Linux name", {"a", "colon.arq", "a:b.txt", "b.txt"}, 0, {}, "would both", "colon.arq", ""},
        {"the same extracted", {"x", "colon.arq", "-C", "o7"}, 0, {}, "", "o7/a:b.txt", ""},
        {"a tree with its paths, names that differ in case and an empty folder", {"a", "tree.arq", "tree"}, 0,
         {"tree/Index.html and tree/index.html are one file on Windows"}, "", "tree.arq", ""},
        {"the same extracted", {"x", "tree.arq", "-C", "o8"}, 0, {}, "", "o8/tree/empty", ""},
        {"the same extracted where letter case folds", {"x", "tree.arq", "-C", "fold"}, 1,
         {"fold/tree/index.html: refused, the destination folds letter case and fold/tree/Index.html was extracted"},
         "", "foldback/tree/Index.html", ""},
        {"the same with the Windows rules", {"x", "-W", "tree.arq", "-C", "o11"}, 1,
         {"tree/index.html: the same file as tree/Index.html on Windows"}, "", "o11/tree/Index.html",
         "o11/tree/index.html"},
        {"the tree added again: every entry replaced, none doubled", {"a", "tree.arq", "tree"}, 0, {}, "", "", ""},
        {"the same listed", {"l", "tree.arq"}, 0, {}, "", "", "", "", "4 entries"},
        {"base names alone: an empty folder has no place", {"a", "-j", "flat.arq", "tree/empty", "tree/sub"}, 0,
         {}, "", "", ""},
        {"the same listed", {"l", "flat.arq"}, 0, {}, "", "", "", "", "1 entry\n"},
        {"a disk that fills", {"x", "many.arq", "-C", "small"}, 1, {"small/6.bin: the disk is full; stopped"},
         "7.bin", "small/5.bin", "small/8.bin"},
        {"an archive read from standard input", {"l", "-"}, 0, {}, "", "", "", "tree.arq", "tree/empty/ "},
        {"the same extracted", {"x", "-", "-C", "o12"}, 0, {}, "", "o12/tree/empty", "", "tree.arq"},
        {"what is no archive on standard input", {"t", "-"}, 1, {"arq: -: not an archive"}, "standard-input", "", "",
         "b.txt"},
        {"a written to standard output", {"a", "-", "b.txt"}, 0, {}, "", "", "-", "", "b.txt"},
        {"d from standard input to standard output", {"d", "-", "b.txt"}, 0, {}, "", "", "", "colon.arq",
         "a:b.txt"},
        {"p: an entry's data to standard output", {"p", "tree.arq", "tree/sub/x.txt"}, 0, {}, "", "", "", "",
         "Lorem ipsum"},
        {"x -O, combined short options, --", {"x", "-vO", "--", "tree.arq", "tree/sub/x.txt"}, 0, {}, "", "", "",
         "", "Lorem ipsum"},
        {"x -v names each file", {"x", "-kvC", "o10", "tree.arq"}, 0, {}, "", "o10/tree/sub/x.txt", "", "",
         "o10/tree/index.html"},
        {"--version", {"--version"}, 0, {}, "", "", "", "", "arq "},
        {"a verb's help", {"x", "--help"}, 0, {}, "", "", "", "", "arq x ["},
        {"the same by help", {"help", "x"}, 0, {}, "", "", "", "", "arq x ["},
        {"help on what is no verb", {"help", "q"}, 2, {"no help on 'q'"}, "", "", ""},
        {"more than a file system mounted below the destination has free", {"x", "mounted.arq", "-C", "m1"}, 1,
         {"m1/MNT: not enough free disk space: the entries unpack to 80000 bytes there"}, "", "", "m1/FIRST.TXT"},
        {"what fits the file systems mounted where it lands", {"x", "roomy.arq", "-C", "m2"}, 0, {}, "", "roomy/B1",
         ""},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        if (strstr(refusal.name, "over 2 GB") && available < 3300000000LL) {
            printf("skipped with %lld bytes free: %s\n", (long long)available, refusal.name);
            continue;
        }
        if (strstr(refusal.name, "mounted") && !(tinyBelow.mounted && tinyTop.mounted && bound.mounted)) {
            printf("skipped, no file system can be mounted here: %s\n", refusal.name);
            continue;
        }
        if (strstr(refusal.name, "case folds") && !folding.mounted) {
            printf("skipped without a file system that folds case: %s\n", refusal.name);
            continue;
        }
        if (strstr(refusal.name, "disk that fills") && !small) {
            printf("skipped without a small file system of its own: %s\n", refusal.name);
            continue;
        }
        Result r = Run(refusal.args, "", refusal.input);
        EXPECT_NE(std::string::npos, r.out.find(refusal.shows)) << r.out;
        EXPECT_EQ(refusal.status, r.status) << r.err;
        for (const char* said : refusal.says) EXPECT_NE(std::string::npos, r.err.find(said)) << r.err;
        if (*refusal.never) EXPECT_EQ(std::string::npos, r.err.find(refusal.never)) << r.err;
        if (*refusal.made) EXPECT_TRUE(FileExists(dir.file(refusal.made)));
        if (*refusal.absent) EXPECT_FALSE(FileExists(dir.file(refusal.absent)));
    }
    EXPECT_EQ(8388609, FileSize(dir.file("o2/BOMB.BIN")));
    EXPECT_EQ(0, system(("diff -r '" + dir.file("tree") + "' '" + dir.file("o8/tree") + "'").c_str()));
    if (folding.mounted)  // the first of the two names kept its own bytes
        EXPECT_EQ(0, system(("cmp '" + dir.file("tree/Index.html") + "' '" + dir.file("foldback/tree/Index.html") + "'").c_str()));
    if (small) system(("umount '" + dir.file("small") + "'").c_str());
}

}  // namespace
