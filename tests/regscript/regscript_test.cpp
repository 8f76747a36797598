// The registry script's text: lines and their numbers, kinds and sections,
// value lines, numbers, bytes and the directory macros.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regscript.h"

namespace {

// Every line the reader gives, in order: line n of the script is [n - 1].
std::vector<std::string> Lines(const std::string& text)
{
    ScriptCursor cursor = {text.data(), text.data() + text.size()};
    std::vector<std::string> lines;
    char line[SCRIPT_LINE_SIZE];
    while (ReadScriptLine(&cursor, line))
        lines.push_back(line);
    return lines;
}

typedef std::vector<std::string> Texts;

TEST(ScriptText, LinesAreTrimmedCutAndCountedByLineFeeds)
{
    struct Row {
        std::string text;
        Texts lines;
    } rows[] = {
        {"a\n\n\nb", {"a", "b"}},                  // LF: a run of empty lines is one line
        {"a\r\n\r\n\r\nb", {"a", "", "", "b"}},    // CR LF: each empty line counts
        {"  \t x = 1 \t\r\n", {"x = 1"}},
        {" \n x", {"", "x"}},                      // leading blanks stop at the line feed
        {"\v\fa\f\v", {"a"}},
        {"\xA0x\xA0", {"\xA0x\xA0"}},              // bytes from 0x80 are not white space
        {std::string("a\nb\0c\n", 6), {"a", "b"}},  // a zero byte ends the text
        {"", {}},
        {"\n\n", {""}},
        {std::string(600, 'x') + "\nnext", {std::string(511, 'x'), "next"}},
        {"x" + std::string(520, ' ') + "y\nz", {"x", "z"}},  // cut at 511, then trimmed
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.lines, Lines(row.text)) << row.text;
}

TEST(ScriptText, KindsAndSections)
{
    struct Row {
        const char* line;
        ScriptLineKind kind;
        const char* section;  // the row found, or NULL
    } rows[] = {
        {"", LINE_COMMENT, NULL},
        {"; [REQUIRED]", LINE_COMMENT, NULL},
        {"[hkey_local_machine]", LINE_SECTION, "[HKEY_LOCAL_MACHINE]"},
        {"[Windows_95NT]", LINE_SECTION, "[WINDOWS_95NT]"},
        {"[REQUIRED] ; note", LINE_SECTION, NULL},
        {"[SOMETHING]", LINE_SECTION, NULL},
        {"regkey = Software\\x", LINE_KEY, NULL},
        {"Note = REG_SZ:see regkey", LINE_KEY, NULL},
        {"Group = REG_SZ:File system ; x", LINE_VALUE, NULL},
    };
    for (const Row& row : rows) {
        char upper[SCRIPT_LINE_SIZE];
        EXPECT_EQ(row.kind, ClassifyScriptLine(row.line, upper)) << row.line;
        const ScriptSection* section = row.kind == LINE_SECTION ? FindScriptSection(upper) : NULL;
        EXPECT_STREQ(row.section, section ? section->name : NULL) << row.line;
    }

    // Modes and roots as a script moves through its sections.
    struct Step {
        const char* line;
        uint32_t flags;
        ScriptRoot root;
    } steps[] = {
        {"[OPTIONAL]", 0x31, ROOT_NONE},           {"[WINDOWS_NT]", 0x21, ROOT_NONE},
        {"[HKEY_CURRENT_USER]", 0x21, ROOT_CURRENT_USER}, {"[REQUIRED]", 0x20, ROOT_NONE},
        {"[WINDOWS_95]", 0x10, ROOT_NONE},         {"[WINDOWS_95NT]", 0x30, ROOT_NONE},
        {"[HKEY_CLASSES_ROOT]", 0x30, ROOT_CLASSES_ROOT},
    };
    uint32_t flags = SECTION_INITIAL;
    for (const Step& step : steps) {
        const ScriptSection* section = FindScriptSection(step.line);
        ASSERT_NE(nullptr, section) << step.line;
        flags = (flags & section->andMask) | section->orBits;
        EXPECT_EQ(step.flags, flags) << step.line;
        EXPECT_EQ(step.root, section->root) << step.line;
    }
}

TEST(ScriptText, KeyAndValueLines)
{
    EXPECT_STREQ("SYSTEM\\X", ScriptKeyPath("REGKEY = SYSTEM\\X"));
    EXPECT_STREQ("a b", ScriptKeyPath("REGKEY=\t a b"));
    EXPECT_STREQ("", ScriptKeyPath("REGKEY ="));
    EXPECT_STREQ("REG_SZ:see regkey", ScriptKeyPath("Note = REG_SZ:see regkey"));
    EXPECT_EQ(nullptr, ScriptKeyPath("REGKEY SYSTEM\\X"));

    struct Row {
        const char* line;
        ValueSplit split;
        const char *name, *type, *data;
        bool known;
    } rows[] = {
        {"Start        = REG_DWORD:1", VALUE_OK, "Start", "REG_DWORD", "1", true},
        {"x\t=\t reg_multi_sz:a=b:c", VALUE_OK, "x", "REG_MULTI_SZ", "a=b:c", true},
        {"Group = REG_SZ: File system", VALUE_OK, "Group", "REG_SZ", " File system", true},
        {"Start = REG_SZ :1", VALUE_OK, "Start", "REG_SZ ", "1", false},
        {"@ = reg_binary:0", VALUE_OK, "", "REG_BINARY", "0", true},
        {"a@ = Text:", VALUE_OK, "a@", "TEXT", "", false},
        {"= REG_SZ:x", VALUE_OK, "", "REG_SZ", "x", true},
        {"a:b = c", VALUE_NO_COLON},
        {"Group REG_SZ:x", VALUE_NO_EQUALS},
    };
    for (const Row& row : rows) {
        char line[SCRIPT_LINE_SIZE];
        snprintf(line, sizeof line, "%s", row.line);
        ScriptValue value;
        ASSERT_EQ(row.split, SplitValueLine(line, &value)) << row.line;
        if (row.split != VALUE_OK) {
            EXPECT_STREQ(row.line, line);
            continue;
        }
        EXPECT_STREQ(row.name, value.name) << row.line;
        EXPECT_STREQ(row.type, value.typeWord) << row.line;
        EXPECT_STREQ(row.data, value.data) << row.line;
        EXPECT_EQ(row.known, FindValueType(value.typeWord) != nullptr) << row.line;
    }
}

TEST(ScriptText, NumbersReadLikeTheUnsignedConversionOf32Bits)
{
    struct Row {
        const char* text;
        uint32_t value;
        size_t stop;  // characters read
    } rows[] = {
        {"0x10", 16, 4},         {"010", 8, 3},          {"-1", 0xFFFFFFFF, 2},
        {"99999999999", 0xFFFFFFFF, 11},                 {"12abc", 12, 2},
        {" \t+7", 7, 4},         {"0x", 0, 1},           {"0XfF", 255, 4},
        {"08", 0, 1},            {"-0x10", 0xFFFFFFF0, 5}, {"4294967295", 0xFFFFFFFF, 10},
        {"4294967296", 0xFFFFFFFF, 10},                  {"-4294967295", 1, 11},
        {"abc", 0, 0},           {" -", 0, 0},           {"", 0, 0},
    };
    for (const Row& row : rows) {
        const char* end = NULL;
        EXPECT_EQ(row.value, ReadScriptNumber(row.text, &end)) << row.text;
        EXPECT_EQ(row.stop, (size_t)(end - row.text)) << row.text;
    }
}

TEST(ScriptText, BytesFollowTheirCount)
{
    struct Row {
        const char* data;
        std::string bytes;
        bool truncated;
    } rows[] = {
        {"4 1 2", std::string("\x01\x02\0\0", 4), false},
        {"2 0x1FF 3", "\xFF\x03", false},
        {"3 1,2,3", std::string("\x01\0\0", 3), false},  // the comma stops the reading
        {"0", "", false},
        {"", "", false},
        {"18 0x53 0x43 0x53 0x49 0x20 0x43 0x44 0x52 0x4f 0x4d 0x20 0x43 0x6c 0x61 0x73 0x73 0x00 0x00",
         std::string("SCSI CDROM Class\0\0", 18), false},
        {"600 7", "\x07" + std::string(511, '\0'), true},
        {"-1", std::string(512, '\0'), true},
    };
    for (const Row& row : rows) {
        uint8_t bytes[SCRIPT_DATA_SIZE];
        bool truncated = !row.truncated;
        uint32_t count = ReadScriptBytes(row.data, bytes, &truncated);
        EXPECT_EQ(row.bytes, std::string((const char*)bytes, count)) << row.data;
        EXPECT_EQ(row.truncated, truncated) << row.data;
    }
}

TEST(ScriptText, MacrosAreReplacedEverywhereWithinTheBuffer)
{
    struct Row {
        const char *text, *value, *result;
    } rows[] = {
        {"x%%WINDIR%%y%%WINDIR%%", "c:\\windows\\", "xc:\\windows\\yc:\\windows\\"},
        {"a%%WINDIR%%b", "", "ab"},
        {"%%WIN%%WINDIR%%DIR%%", "", ""},  // the search starts again at the front
        {"%WINDIR% %%windir%%", "c:\\", "%WINDIR% %%windir%%"},
        {"%%WINDIR%%", "%%WINDIR%%", "%%WINDIR%%"},
    };
    for (const Row& row : rows) {
        char text[SCRIPT_LINE_SIZE];
        snprintf(text, sizeof text, "%s", row.text);
        EXPECT_TRUE(ReplaceMacro(text, sizeof text, "%%WINDIR%%", row.value)) << row.text;
        EXPECT_STREQ(row.result, text) << row.text;
    }

    const char* dirs[SCRIPT_DIR_COUNT] = {"", "c:\\temp\\", "\\", "c:\\winnt\\", "c:\\winnt\\system\\",
                                          "c:\\winnt\\system32\\", "c:\\winnt\\system32\\drivers\\"};
    char text[SCRIPT_LINE_SIZE] = "%%WINSYSDIR%%tlmrunin.exe;%%TARGETDIR%%;%%WINSYS16DIR%%;%%WINDRIVERDIR%%";
    EXPECT_TRUE(ExpandDirectoryMacros(text, sizeof text, dirs));
    EXPECT_STREQ("c:\\winnt\\system32\\tlmrunin.exe;\\;c:\\winnt\\system\\;c:\\winnt\\system32\\drivers\\", text);

    // 511 characters fit the buffer; one more is refused, not cut.
    std::string value(259, 'v');
    for (size_t tail : {511 - value.size(), 512 - value.size()}) {
        std::string start = "%%WINDIR%%" + std::string(tail, 'a');
        snprintf(text, sizeof text, "%s", start.c_str());
        bool fits = tail + value.size() < SCRIPT_LINE_SIZE;
        EXPECT_EQ(fits, ReplaceMacro(text, sizeof text, "%%WINDIR%%", value.c_str()));
        if (fits)
            EXPECT_EQ(value + std::string(tail, 'a'), text);
    }
}

}  // namespace
