// arq end to end: each test runs the built program in a fresh directory and
// looks at its exit status, its output and the files it leaves.
#include "arq_fixture.h"

namespace {

TEST_F(Arq, AddListTestExtractDelete) {
    Bytes text = Sample("notes.txt", 40000, 0, true);
    Bytes noise = Sample("noise.bin", 9000, 5, false);
    Bytes empty = Sample("empty.dat", 0, 0, false);
    Result r = Run({"a", "pack", "notes.txt", "noise.bin", "empty.dat"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ("", r.err);  // quiet off a terminal
    ASSERT_TRUE(FileExists(dir.file("pack.arq")));

    r = Run({"l", "pack.arq"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("notes.txt"));
    EXPECT_NE(std::string::npos, r.out.find("packed"));
    EXPECT_NE(std::string::npos, r.out.find("noise.bin"));
    EXPECT_NE(std::string::npos, r.out.find("stored"));  // random bytes do not shrink
    EXPECT_NE(std::string::npos, r.out.find("3 entries"));

    r = Run({"t", "pack"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("3 entries tested"));

    r = Run({"x", "pack.arq", "-C", "out"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ(text, ReadFileBytes(dir.file("out/notes.txt")));
    EXPECT_EQ(noise, ReadFileBytes(dir.file("out/noise.bin")));
    EXPECT_TRUE(FileExists(dir.file("out/empty.dat")));

    r = Run({"x", "pack.arq", "n*.txt", "-C", "only"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_TRUE(FileExists(dir.file("only/notes.txt")));
    EXPECT_FALSE(FileExists(dir.file("only/noise.bin")));

    r = Run({"d", "pack.arq", "*.bin", "EMPTY.DAT"});
    ASSERT_EQ(0, r.status) << r.err;
    r = Run({"l", "pack.arq"});
    EXPECT_EQ(std::string::npos, r.out.find("noise.bin"));
    EXPECT_NE(std::string::npos, r.out.find("1 entry\n"));
}

TEST_F(Arq, AddTakesPatternsAndReplacesEntries) {
    ASSERT_TRUE(cxPlatMakeDir(dir.file("src").c_str()));
    Sample("src/a.txt", 500, 0, true);
    Sample("src/b.txt", 700, 0, true);
    Sample("src/c.log", 300, 0, true);
    // A file named by two patterns becomes one entry.
    Result r = Run({"a", "-j", "p.arq", "src/*.txt", "src/a.txt"});
    ASSERT_EQ(0, r.status) << r.err;
    r = Run({"l", "p.arq"});
    EXPECT_NE(std::string::npos, r.out.find("2 entries"));
    EXPECT_EQ(std::string::npos, r.out.find("c.log"));

    Bytes changed = Sample("src/a.txt", 90, 0, true);
    r = Run({"a", "-j", "--best", "p.arq", "src/a.txt"});
    ASSERT_EQ(0, r.status) << r.err;
    r = Run({"x", "p.arq", "A.TXT", "-C", "out"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ(changed, ReadFileBytes(dir.file("out/a.txt")));
    EXPECT_NE(std::string::npos, Run({"l", "p.arq"}).out.find("2 entries"));

    // Without -j the path below the current directory is kept.
    r = Run({"a", "paths.arq", "src/c.log"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, Run({"l", "paths.arq"}).out.find("src/c.log"));
    r = Run({"x", "paths.arq", "-C", "tree"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_TRUE(FileExists(dir.file("tree/src/c.log")));
}

TEST_F(Arq, SelfExtractingFile) {
    Bytes stub = Sample("stub.exe", 6000, 77, false);
    Bytes one = Sample("one.sys", 20000, 0, true);
    Bytes two = Sample("two.inf", 557, 0, true);
    Result r = Run({"sfx", "stub.exe", "setup.exe", "one.sys", "two.inf"});
    ASSERT_EQ(0, r.status) << r.err;
    Bytes image = ReadFileBytes(dir.file("setup.exe"));
    ASSERT_GT(image.size(), stub.size() + 12);
    EXPECT_TRUE(std::equal(stub.begin(), stub.end(), image.begin()));
    const uint8_t* header = image.data() + stub.size();
    EXPECT_EQ(Bytes({0x67, 0x57, 0x04, 0x02}), Bytes(header, header + 4));
    uint32_t total = header[4] | header[5] << 8 | header[6] << 16 | (uint32_t)header[7] << 24;
    EXPECT_EQ(20000u + 557u, total);
    EXPECT_EQ(Bytes(4, 0), Bytes(header + 8, header + 12));
    EXPECT_EQ(Bytes({0x67, 0x57, 0x04, 0x01}), Bytes(header + 12, header + 16));

    r = Run({"l", "setup.exe"});
    ASSERT_EQ(0, r.status) << r.err;
    size_t first = r.out.find("ONE.SYS"), second = r.out.find("TWO.INF");
    ASSERT_NE(std::string::npos, first);
    ASSERT_NE(std::string::npos, second);
    EXPECT_LT(first, second);
    EXPECT_EQ(0, Run({"t", "setup.exe"}).status);
    ASSERT_EQ(0, Run({"x", "setup.exe", "-C", "out"}).status);
    EXPECT_EQ(one, ReadFileBytes(dir.file("out/ONE.SYS")));
    EXPECT_EQ(two, ReadFileBytes(dir.file("out/TWO.INF")));

    // --best: the same files in no more bytes, read back alike.
    r = Run({"sfx", "--best", "stub.exe", "best.exe", "one.sys", "two.inf"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_LE(ReadFileBytes(dir.file("best.exe")).size(), image.size());
    ASSERT_EQ(0, Run({"x", "best.exe", "-C", "best"}).status);
    EXPECT_EQ(one, ReadFileBytes(dir.file("best/ONE.SYS")));
    EXPECT_EQ(two, ReadFileBytes(dir.file("best/TWO.INF")));

    // A generic setup: the product description goes in first, as PRODUCT.INI.
    ASSERT_TRUE(WriteFileText(dir.file("acme.ini"),
                              "[PRODUCT]\r\nMAKER = Acme\r\nPRODUCT = Widget\r\nVERSION = 1.2.0.3\r\n"
                              "REGISTRY = TWO.INF\r\n[FILE]\r\nENTRY = one.sys\r\nFOLDER = DRIVERS\r\n"));
    r = Run({"sfx", "--product", "acme.ini", "stub.exe", "acme.exe", "one.sys", "two.inf"});
    ASSERT_EQ(0, r.status) << r.err;
    r = Run({"l", "acme.exe"});
    EXPECT_LT(r.out.find("PRODUCT.INI"), r.out.find("ONE.SYS")) << r.out;
    ASSERT_EQ(0, Run({"x", "acme.exe", "-C", "acme"}).status);
    EXPECT_EQ(ReadFileBytes(dir.file("acme.ini")), ReadFileBytes(dir.file("acme/PRODUCT.INI")));

    // Adding to it keeps the stub and the archive header in front; a file
    // of an upper-case entry's name replaces it.
    Sample("three.txt", 100, 0, true);
    ASSERT_EQ(0, Run({"a", "setup.exe", "three.txt", "one.sys"}).status);
    Bytes after = ReadFileBytes(dir.file("setup.exe"));
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + stub.size() + 12, after.begin()));
    EXPECT_NE(std::string::npos, Run({"l", "setup.exe"}).out.find("3 entries"));
}

TEST_F(Arq, BadInputGivesOneLineAndFailure) {
    Result r = Run({});
    ExpectOneLineFailure(r, "verb");
    EXPECT_EQ(2, r.status);
    ExpectOneLineFailure(Run({"z", "x.arq"}), "unknown verb");
    ExpectOneLineFailure(Run({"x", "--best", "x.arq"}), "--best");  // only a and sfx pack
    ExpectOneLineFailure(Run({"a", "--best=9", "x.arq", "f"}), "'--best=9'");  // takes no value
    ExpectOneLineFailure(Run({"x", "--windows-names=1", "x.arq"}), "'--windows-names=1'");
    ExpectOneLineFailure(Run({"x", "absent.arq"}), "absent.arq");
    ExpectOneLineFailure(Run({"t", "absent.arq"}), "absent.arq");
    ExpectOneLineFailure(Run({"l", "absent"}), "absent");
    ExpectOneLineFailure(Run({"d", "absent.arq", "*"}), "absent.arq");
    ExpectOneLineFailure(Run({"a", "new.arq", "missing.txt"}), "missing.txt");
    EXPECT_FALSE(FileExists(dir.file("new.arq")));
    ExpectOneLineFailure(Run({"a", "new.arq", "[ab"}), "no file matches [ab");
    ExpectOneLineFailure(Run({"sfx", "nostub", "out.exe", "x"}), "nostub");
    Sample("huge.exe", 400000, 1, false);  // the archive would start beyond the searched range
    Sample("x", 10, 1, false);
    ExpectOneLineFailure(Run({"sfx", "huge.exe", "out.exe", "x"}), "too large");
    EXPECT_FALSE(FileExists(dir.file("out.exe")));
    // A product description must name exactly the files given, and parse.
    Sample("stub.exe", 6000, 77, false);
    ASSERT_TRUE(WriteFileText(dir.file("acme.ini"), "[PRODUCT]\nMAKER = Acme\nPRODUCT = W\nVERSION = 1.0.0.0\n"
                                                    "README = README.TXT\n[FILE]\nENTRY = X\nFOLDER = TARGET\n"));
    Sample("README.TXT", 10, 0, true);
    Sample("other", 10, 0, true);
    ExpectOneLineFailure(Run({"sfx", "--product", "acme.ini", "stub.exe", "out.exe", "x"}), "names README.TXT");
    ExpectOneLineFailure(Run({"sfx", "--product", "acme.ini", "stub.exe", "out.exe", "x", "README.TXT", "other"}),
                         "other: not named in acme.ini");
    ASSERT_TRUE(WriteFileText(dir.file("bad.ini"), "[PRODUCT]\nMAKER = Acme\nFOLDER = TARGET\n"));
    ExpectOneLineFailure(Run({"sfx", "--product", "bad.ini", "stub.exe", "out.exe", "x"}), "bad.ini:3: unknown key");
    ExpectOneLineFailure(Run({"sfx", "--product", "absent.ini", "stub.exe", "out.exe", "x"}), "absent.ini");
    EXPECT_EQ(2, Run({"sfx", "stub.exe", "out.exe", "x", "--product"}).status);
    EXPECT_FALSE(FileExists(dir.file("out.exe")));

    Sample("noise.arq", 3000, 9, false);
    r = Run({"l", "noise.arq"});
    ExpectOneLineFailure(r, "not an archive");
    EXPECT_EQ("", r.out);  // no header for what is no archive
    ExpectOneLineFailure(Run({"t", "noise.arq"}), "not an archive");
    ExpectOneLineFailure(Run({"x", "noise.arq"}), "not an archive");

    // One stored byte changed: t names the entry.
    Sample("data.txt", 5000, 0, true);
    ASSERT_EQ(0, Run({"a", "d.arq", "data.txt"}).status);
    Bytes bytes = ReadFileBytes(dir.file("d.arq"));
    bytes[8 + 8 + 33 + 10] ^= 0x40;
    ASSERT_TRUE(WriteFileBytes(dir.file("d.arq"), bytes));
    r = Run({"t", "d.arq"});
    ExpectOneLineFailure(r, "data.txt");
    r = Run({"x", "d.arq", "-C", "out"});
    EXPECT_NE(0, r.status);
    EXPECT_NE(std::string::npos, r.err.find("data.txt")) << r.err;
    EXPECT_FALSE(FileExists(dir.file("out/data.txt")));

    Result help = Run({"--help"});
    EXPECT_EQ(0, help.status);
    for (const char* verb : {"arq a", "arq d", "arq x", "arq t", "arq l", "arq sfx"}) {
        EXPECT_NE(std::string::npos, help.out.find(verb)) << verb;
    }
}

TEST_F(Arq, ExtractionStaysInsideTheDestination) {
    std::vector<TestEntry> entries(3);
    entries[0].name = "../escape.txt";
    entries[0].data = Bytes{'x'};
    entries[1].name = "/abs.txt";
    entries[1].data = Bytes{'y'};
    entries[2].name = "ok/fine.txt";
    entries[2].data = Bytes{'z'};
    ASSERT_TRUE(WriteArchive(dir.file("evil.arq"), entries));
    ASSERT_TRUE(cxPlatMakeDir(dir.file("dest").c_str()));
    Result r = Run({"x", "evil.arq", "-C", "dest"});
    EXPECT_NE(0, r.status);
    EXPECT_EQ(2, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("outside")) << r.err;
    EXPECT_FALSE(FileExists(dir.file("ESCAPE.TXT")));
    EXPECT_FALSE(FileExists("/ABS.TXT"));
    EXPECT_EQ(Bytes{'z'}, ReadFileBytes(dir.file("dest/OK/FINE.TXT")));
}

TEST_F(Arq, ProgressOnlyOnATerminal) {
    Sample("big.txt", 3000000, 0, true);
    // script(1) gives arq a terminal for standard error.
    std::string log = dir.file("typescript");
    std::string command = "cd '" + dir.path() + "' && script -qec \"'" ARQ_PATH
                          "' a big.arq big.txt\" '" + log + "' >/dev/null 2>&1";
    ASSERT_EQ(0, system(command.c_str()));
    std::string shown = Text(log);
    EXPECT_NE(std::string::npos, shown.find("of")) << shown;
    EXPECT_NE(std::string::npos, shown.find("3,000,000")) << shown;
}

}  // namespace
