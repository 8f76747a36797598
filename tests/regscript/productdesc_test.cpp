// The product description: a complete one read back field by field with
// its defaults, and a table of faulty ones, each refused with the line
// that holds the fault.
#include <gtest/gtest.h>

#include <string>

#include "leadbyte.h"
#include "productdesc.h"

namespace {

const char kAcme[] =
    "; Acme Widget\r\n"
    "[Product]\r\n"
    "maker = Acme\r\n"
    "PRODUCT = Widget\r\n"
    "Version = 1.2.0.3\r\n"
    "REGISTRY = WIDGET.INF\r\n"
    "\r\n"
    "[FILE]\r\n"
    "ENTRY = WIDGET.EXE\r\n"
    "FOLDER = TARGET\\bin\r\n"
    "[FILE]\n"
    "ENTRY = WIDGET_9X.SYS\n"
    "FOLDER = system\n"
    "NAME = widget.sys\n"
    "FAMILIES = 95\n"
    "GROUP = 1\n"
    "RESTART = yes\n"
    "BACKUP = NO\n"
    "COMPARE = TIME\n"
    "[FILE]\n"
    "ENTRY = WIDGET_NT.SYS\n"
    "FOLDER = DRIVERS\n"
    "NAME = widget.sys\n"
    "FAMILIES = NT, 2KXP\n"
    "[FOLDER]\n"
    "PATH = TARGET\\data\\cache\n"
    "[TEXT 0407]\n"
    "WELCOME = Willkommen.\\n\\nWidget zeigt Dinge.\n";

TEST(ProductDescription, ReadsEveryFieldAndFillsTheDefaults)
{
    static ProductDescription desc;
    DescError error;
    ASSERT_TRUE(ParseProductDescription(kAcme, sizeof kAcme - 1, &desc, &error))
        << error.line << ": " << error.message;
    EXPECT_STREQ(desc.maker, "Acme");
    EXPECT_STREQ(desc.product, "Widget");
    EXPECT_EQ(desc.versionParts[0], 1);
    EXPECT_EQ(desc.versionParts[3], 3);
    EXPECT_EQ(desc.targetBase, (uint32_t)DESC_TARGET_PROGRAM_FILES);
    EXPECT_STREQ(desc.targetPath, "Acme\\Widget");
    EXPECT_STREQ(desc.uninstallName, "Acme Widget");
    EXPECT_STREQ(desc.registry, "WIDGET.INF");
    EXPECT_STREQ(desc.readme, "");
    ASSERT_EQ(desc.fileCount, 3u);
    EXPECT_STREQ(desc.files[0].target, "bin\\WIDGET.EXE");
    EXPECT_EQ(desc.files[0].dirId, (uint32_t)DESC_DIR_TARGET);
    EXPECT_EQ(desc.files[0].flags, (uint32_t)DESC_ON_EVERY_FAMILY);
    EXPECT_STREQ(desc.files[1].target, "widget.sys");
    EXPECT_EQ(desc.files[1].dirId, (uint32_t)DESC_DIR_SYSTEM);
    EXPECT_EQ(desc.files[1].flags,
              (uint32_t)(DESC_ON_95 | DESC_AT_RESTART | DESC_MOVE_NOW | DESC_NO_BACKUP | DESC_NO_VERSION));
    EXPECT_EQ(desc.files[1].group, 1u);
    EXPECT_EQ(desc.files[2].flags, (uint32_t)(DESC_ON_NT | DESC_ON_2KXP));
    ASSERT_EQ(desc.folderCount, 1u);
    EXPECT_STREQ(desc.folders[0].path, "data\\cache");
    ASSERT_EQ(desc.textCount, 1u);
    EXPECT_EQ(desc.texts[0].language, 0x0407);
    EXPECT_STREQ(desc.texts[0].welcome, "Willkommen.\n\nWidget zeigt Dinge.");
    EXPECT_STREQ(desc.texts[0].productLine, "Widget");
}

const char kHead[] = "[PRODUCT]\nMAKER = Acme\nPRODUCT = Widget\nVERSION = 1.2.0.3\n";  // lines 1 to 4

TEST(ProductDescription, RefusesFaultsNamingTheLine)
{
    struct Row {
        std::string text;
        uint32_t line;    // 0: the description as a whole
        const char* says;  // part of the message
    } rows[] = {
        {"MAKER = Acme\n", 1, "before the first section"},
        {std::string(kHead) + "COLOUR = blue\n", 5, "unknown key"},
        {std::string(kHead) + "Maker = Other\n", 5, "twice"},
        {std::string(kHead) + "[EXTRAS]\n", 5, "unknown section"},
        {std::string(kHead) + "just words\n", 5, "NAME = value"},
        {"[PRODUCT]\nMAKER = Acme\nVERSION = 1.0.0.0\n", 1, "lacks PRODUCT"},
        {"[FILE]\nENTRY = A.EXE\nFOLDER = TARGET\n", 0, "no [PRODUCT]"},
        {std::string(kHead) + "VERSION = 1.2.3\n", 5, "twice"},
        {"[PRODUCT]\nMAKER = Acme\nPRODUCT = W\nVERSION = 1.2.3\n", 4, "four numbers"},
        {"[PRODUCT]\nMAKER = Acme\nPRODUCT = W\nVERSION = 1.2.3.65536\n", 4, "0 to 65535"},
        {std::string(kHead) + "TARGET = PROGRAMFILES\\..\\Windows\n", 5, "leaves its folder"},
        {std::string(kHead) + "TARGET = C:\\Acme\n", 5, "unknown target folder token"},
        {std::string(kHead) + "TARGET = PROGRAMFILES\\\n", 5, "not a plain path"},
        {std::string(kHead) + "[FILE]\nENTRY = A.EXE\nFOLDER = TARGET\\..\\..\\x\n", 7, "leaves its folder"},
        {std::string(kHead) + "[FILE]\nENTRY = A.EXE\nFOLDER = TARGET\\\\x\n", 7, "leaves its folder"},
        {std::string(kHead) + "[FILE]\nENTRY = A.EXE\nFOLDER = HOME\n", 7, "unknown folder token"},
        {std::string(kHead) + "[FILE]\nENTRY = ..\\A.EXE\nFOLDER = TARGET\n", 6, "not an entry name"},
        {std::string(kHead) + "[FILE]\nENTRY = A.EXE\nFOLDER = TARGET\nNAME = sub\\a.exe\n", 8, "not a file name"},
        {std::string(kHead) + "[FILE]\nENTRY = A.EXE\n", 5, "lacks FOLDER"},
        {std::string(kHead) + "[FILE]\nENTRY = A.EXE\nFOLDER = TARGET\nFAMILIES = 95 ME\n", 8, "unknown family"},
        {std::string(kHead) + "[FILE]\nENTRY = A.EXE\nFOLDER = TARGET\nRESTART = maybe\n", 8, "neither YES"},
        {std::string(kHead) + "[FILE]\nENTRY = A.EXE\nFOLDER = TARGET\n[FILE]\nENTRY = a.exe\nFOLDER = SYSTEM\n", 8,
         "named by two files"},
        {std::string(kHead) + "[FILE]\nENTRY = A.EXE\nFOLDER = TARGET\n[FILE]\nENTRY = B.EXE\nFOLDER = TARGET\n"
                              "NAME = a.exe\n",
         8, "two files go to"},
        {std::string(kHead) + "[FILE]\nENTRY = U.EXE\nFOLDER = TARGET\nNAME = uninstal.exe\n", 5,
         "the uninstaller's name"},
        {std::string(kHead) + "[FOLDER]\nPATH = TARGET\n", 6, "names no folder"},
        {std::string(kHead) + "[TEXT 0419]\nWELCOME = x\n", 5, "no string table"},
        {std::string(kHead) + "[TEXT 0409]\n", 5, "lacks WELCOME"},
        {std::string(kHead) + "README = \n", 5, "no value"},
        {"[PRODUCT]\nMAKER = Acme\\Labs\nPRODUCT = W\nVERSION = 1.0.0.0\nTARGET = PROGRAMFILES\\W\n", 0,
         "holds a backslash"},
        {std::string(kHead) + "X" + std::string(600, 'x') + " = 1\n", 5, "longer than"},
    };
    for (const Row& row : rows) {
        static ProductDescription desc;
        DescError error;
        EXPECT_FALSE(ParseProductDescription(row.text.data(), row.text.size(), &desc, &error)) << row.text;
        EXPECT_EQ(error.line, row.line) << row.text << "\n" << error.message;
        EXPECT_NE(std::string(error.message).find(row.says), std::string::npos)
            << row.text << "\n" << error.message;
    }
}

bool ShiftJisLeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// In a double-byte code page (Japanese here) a character's second byte may
// be a backslash or an ASCII letter: it is neither a separator nor a letter
// whose case can be ignored.
TEST(ProductDescription, DoubleByteCharactersStayWhole)
{
    struct Row {
        std::string files;  // [FILE] sections after the head
        bool accepted;
    } rows[] = {
        // "\x95\\" is one character: a name, not a path of two parts.
        {"[FILE]\nENTRY = \x95\\.EXE\nFOLDER = TARGET\\\x95\\\n", true},
        // Two characters that differ only in a second byte 'a' / 'A': two files.
        {"[FILE]\nENTRY = \x83\x61.EXE\nFOLDER = TARGET\n[FILE]\nENTRY = \x83\x41.EXE\nFOLDER = TARGET\n", true},
        // The same character in both: one entry named twice.
        {"[FILE]\nENTRY = \x83\x61.EXE\nFOLDER = TARGET\n[FILE]\nENTRY = \x83\x61.exe\nFOLDER = SYSTEM\n", false},
        // An uninstall name whose character ends in 0x5C holds no backslash.
        {"UNINSTALL = Acme \x83\x5C\n", true},
    };
    SetLeadByteRule(ShiftJisLeadByte);
    for (const Row& row : rows) {
        std::string text = std::string(kHead) + row.files;
        static ProductDescription desc;
        DescError error;
        EXPECT_EQ(ParseProductDescription(text.data(), text.size(), &desc, &error), row.accepted)
            << row.files << "\n" << error.line << ": " << error.message;
    }
    SetLeadByteRule(nullptr);
}

}  // namespace
