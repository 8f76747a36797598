// The restart work kept in files: the move record walk, which must stop at
// the first damaged record without reading outside the file, and the rename
// line added to WININIT.INI's [RENAME] section.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "leadbyte.h"
#include "moverecord.h"
#include "wininit.h"

namespace {

// While it lives, the lead bytes are those of code page 932 (Japanese): カ is
// 83 4A, ニ 83 6A, so C:\カ and C:\ニ differ only in a second byte's case.
struct JapaneseCodePage {
    static bool Lead(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }
    JapaneseCodePage() { SetLeadByteRule(Lead); }
    ~JapaneseCodePage() { SetLeadByteRule(nullptr); }
};

std::string Record(const char* source, const char* target)
{
    std::string bytes(MoveRecordLength(source, target), '\0');
    EncodeMoveRecord((uint8_t*)&bytes[0], source, target);
    return bytes;
}

std::string Lengths(uint32_t record, uint32_t source, uint32_t target)
{
    std::string bytes;
    for (uint32_t value : {record, source, target})
        for (int shift = 0; shift < 32; shift += 8)
            bytes += (char)(value >> shift);
    return bytes;
}

struct WalkResult {
    MoveRecordResult result;
    std::string source, target;
    size_t offset;
};

WalkResult Walk(const std::string& file, const char* wanted)
{
    // The walk gets exactly the file's bytes: a sanitizer or a guard byte
    // would show a read beyond them.
    std::vector<uint8_t> data(file.begin(), file.end());
    char source[MOVE_RECORD_PATH_MAX], target[MOVE_RECORD_PATH_MAX];
    WalkResult out;
    out.offset = 12345;
    out.result = FindMoveRecordIn(data.data(), data.size(), wanted, source, target, &out.offset);
    if (out.result == MOVE_RECORD_FOUND) {
        out.source = source;
        out.target = target;
    }
    return out;
}

TEST(MoveRecord, EncodesLengthsThenPaths)
{
    EXPECT_EQ(Lengths(12 + 7 + 8, 7, 8) + "A.TMP\\xB:\\Y.SYS", Record("A.TMP\\x", "B:\\Y.SYS"));
    EXPECT_EQ(Lengths(12, 0, 0), Record("", ""));
}

TEST(MoveRecord, WalkFindsTheFirstRecordOfATarget)
{
    std::string file = Record("C:\\QNB1.TMP", "C:\\DRV.SYS") + Record("C:\\QNB2.TMP", "C:\\OTHER.SYS") +
                       Record("C:\\QNB3.TMP", "c:\\drv.sys");
    WalkResult found = Walk(file, "C:\\Drv.Sys");
    EXPECT_EQ(MOVE_RECORD_FOUND, found.result);
    EXPECT_EQ("C:\\QNB1.TMP", found.source);
    EXPECT_EQ("C:\\DRV.SYS", found.target);
    EXPECT_EQ("C:\\QNB2.TMP", Walk(file, "C:\\OTHER.SYS").source);
    EXPECT_EQ(MOVE_RECORD_NOT_FOUND, Walk(file, "C:\\NONE.SYS").result);
    EXPECT_EQ(MOVE_RECORD_NOT_FOUND, Walk("", "C:\\DRV.SYS").result);
    // A target is the whole path, not its start.
    EXPECT_EQ(MOVE_RECORD_NOT_FOUND, Walk(Record("C:\\QNB4.TMP", "C:\\DRV.SYS.OLD"), "C:\\DRV.SYS").result);
    // A record longer than its paths is stepped over by its length.
    std::string padded = Lengths(12 + 4 + 4 + 5, 4, 4) + "A.TMB.SY" + "xxxxx" + Record("S", "T");
    EXPECT_EQ("S", Walk(padded, "T").source);
    JapaneseCodePage japanese;
    std::string kana = Record("C:\\\x83\x4A\\QNB1.TMP", "C:\\\x83\x4A\\DRV.SYS");
    EXPECT_EQ(MOVE_RECORD_NOT_FOUND, Walk(kana, "C:\\\x83\x6A\\DRV.SYS").result);
    EXPECT_EQ(MOVE_RECORD_FOUND, Walk(kana, "c:\\\x83\x4A\\drv.sys").result);
}

TEST(MoveRecord, WalkStopsAtTheFirstDamagedRecord)
{
    std::string good = Record("C:\\QNB1.TMP", "C:\\DRV.SYS");
    std::string long260(260, 'x');
    struct Case {
        const char* what;
        std::string damage;
    } cases[] = {
        {"record length 0", Lengths(0, 1, 1) + "ab"},
        {"record length below its header", Lengths(11, 0, 0)},
        {"record length below its paths", Lengths(13, 1, 1) + "ab"},
        {"runs past the file", Lengths(4000, 1, 1) + "ab"},
        {"source of 260 characters", Lengths(12 + 260 + 1, 260, 1) + long260 + "t"},
        {"target of 260 characters", Lengths(12 + 260 + 1, 1, 260) + "s" + long260},
        {"lengths that wrap round", Lengths(12, 0xFFFFFFF0u, 0x1C) + std::string(16, 'z')},
        {"header cut short", std::string("\x20\0\0\0\x01\0", 6)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WalkResult result = Walk(good + c.damage + Record("C:\\QNB9.TMP", "C:\\LATE.SYS"), "C:\\LATE.SYS");
        EXPECT_EQ(MOVE_RECORD_DAMAGED, result.result);
        EXPECT_EQ(good.size(), result.offset);
        // Records before the damage are still found.
        EXPECT_EQ(MOVE_RECORD_FOUND, Walk(good + c.damage, "C:\\DRV.SYS").result);
    }
}

std::string AddLine(const std::string& file, const char* line, RenameEdit* edit)
{
    std::string buffer = file + std::string(WININIT_RENAME_RESERVE + strlen(line), '\0');
    uint32_t added = 99;
    *edit = AddRenameLine((uint8_t*)&buffer[0], (uint32_t)file.size(), line, &added);
    return buffer.substr(0, file.size() + added);
}

TEST(Wininit, RenameLineGoesRightBehindTheSectionHeader)
{
    const char* line = "C:\\DRV.SYS=C:\\QNB1.TMP\r\n";
    struct Case {
        const char* what;
        std::string before, after;
        RenameEdit edit;
    } cases[] = {
        {"no file", "", std::string("[RENAME]\r\n") + line, RENAME_SECTION_ADDED},
        {"no section", "[Other]\r\nx=y\r\n", std::string("[Other]\r\nx=y\r\n[RENAME]\r\n") + line,
         RENAME_SECTION_ADDED},
        {"a section header in any case", "[boot]\r\n[rename]\r\nNUL=C:\\OLD.TMP\r\n",
         std::string("[boot]\r\n[rename]\r\n") + line + "NUL=C:\\OLD.TMP\r\n", RENAME_LINE_INSERTED},
        {"the line already there", std::string("[Rename]\r\n") + line, std::string("[Rename]\r\n") + line,
         RENAME_LINE_DUPLICATE},
        {"the line only before the section", std::string(line) + "[RENAME]\r\n",
         std::string(line) + "[RENAME]\r\n" + line, RENAME_LINE_INSERTED},
        // Another program's last line keeps its end; the header is seen with
        // any line end and blanks.
        {"a last line without a line end", "[Other]\r\nC:\\X.VXD=C:\\NEW.VXD",
         std::string("[Other]\r\nC:\\X.VXD=C:\\NEW.VXD\r\n[RENAME]\r\n") + line, RENAME_SECTION_ADDED},
        {"a header ending in a line feed alone", "[rename]\nNUL=C:\\OLD.TMP\n",
         std::string("[rename]\n") + line + "NUL=C:\\OLD.TMP\n", RENAME_LINE_INSERTED},
        {"a header with blanks around it", " [Rename] \t\r\nx=y\r\n", std::string(" [Rename] \t\r\n") + line + "x=y\r\n",
         RENAME_LINE_INSERTED},
        {"a header on the last line", "[boot]\r\n[RENAME]", std::string("[boot]\r\n[RENAME]\r\n") + line,
         RENAME_LINE_INSERTED},
        // The text ends at a zero byte: a header behind it is not seen.
        {"a zero byte before the header", std::string("ab\0[RENAME]\r\n", 13),
         std::string("ab\0[RENAME]\r\n", 13) + "[RENAME]\r\n" + line, RENAME_SECTION_ADDED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RenameEdit edit;
        EXPECT_EQ(c.after, AddLine(c.before, line, &edit));
        EXPECT_EQ(c.edit, edit);
    }
    JapaneseCodePage japanese;
    RenameEdit edit;
    AddLine("[RENAME]\r\nC:\\\x83\x6A\\A=B\r\n", "C:\\\x83\x4A\\A=B\r\n", &edit);
    EXPECT_EQ(RENAME_LINE_INSERTED, edit);
}

}  // namespace
