// The upgrade decision: the rules that choose one entry, the two group
// rules, facts taken from a replacement still pending from an earlier run,
// and what stops the pass.
#include "engine_test.h"

#include "install.h"
#include "log.h"
#include "moverecord.h"
#include "text.h"

namespace {

const DWORD kEverywhere = IMG_ON_95 | IMG_ON_NT | IMG_ON_2KXP;
const ULONGLONG kOld = DayTime(2001, 3, 1);
const ULONGLONG kNew = DayTime(2002, 5, 17);

// A file of a row: its bytes (empty: no file) and its time.
struct FileSpec {
    const char* payload;  // a payload image, or null for the text below
    const char* text;
    ULONGLONG time;
};
const FileSpec kNone = {nullptr, nullptr, 0};

class Decide : public EngineTest {
protected:
    std::string Bytes(const FileSpec& file) { return file.payload ? Payload(file.payload) : file.text; }

    // Puts the existing file and the image of entry i of the context as if
    // they had been extracted.
    void Place(TestContext& context, size_t i, const FileSpec& existing, const FileSpec& image)
    {
        ImageFile& entry = context.image(i);
        if (existing.payload || existing.text)
            world->Put(entry.dirId, entry.targetName, Bytes(existing), existing.time);
        if (image.payload || image.text) {
            wsprintfA(entry.imageName, "QNB%X", (unsigned)(0x100 + i));
            world->Put(entry.dirId, std::string(entry.imageName) + ".TMP", Bytes(image), image.time);
            context.state(i).extracted = 1;
        }
    }
};

TEST_P(Decide, RulesChooseByPresenceVersionThenTime)
{
    struct Row {
        const char* what;
        FileSpec existing, image;
        DWORD flags;
        BOOL force;
        LONG upgrade;
        const char* line;  // the decision's log line, or "" for none
    } rows[] = {
        {"no installed file", kNone, {"v1004.dll", 0, kOld}, 0, FALSE, 1,
         "No existing file to compare, upgrade/operation recommended"},
        {"no installed file, one needed", kNone, {"v1004.dll", 0, kOld}, IMG_NEED_EXISTING, FALSE, 0,
         "No existing file to compare, upgrade/operation *not* recommended"},
        {"no installed file, one needed, forced", kNone, {"v1004.dll", 0, kOld}, IMG_NEED_EXISTING, TRUE, 1,
         "No existing file to compare, upgrade/operation *not* recommended"},
        {"later version", {"v1004.dll", 0, kNew}, {"v1005.dll", 0, kOld}, 0, FALSE, 1,
         "Image file has later version, upgrade recommended"},
        {"earlier version, later time", {"v1005.dll", 0, kOld}, {"v1004.dll", 0, kNew}, 0, FALSE, 0, ""},
        {"same version, later time", {"v1005.dll", 0, kOld}, {"v1005.dll", 0, kNew}, 0, FALSE, 0, ""},
        {"version where there was none", {nullptr, "plain", kNew}, {"v1004.dll", 0, kOld}, 0, FALSE, 1,
         "Image file has version info, existing file does not.  Upgrade recommended"},
        {"versions not read: later time", {"v2000.dll", 0, kOld}, {"v1004.dll", 0, kNew}, IMG_NO_VERSION, FALSE, 1,
         "Image file has later time/date stamp, upgrade recommended"},
        {"versions not read: earlier time", {nullptr, "plain", kNew}, {"v1004.dll", 0, kOld}, IMG_NO_VERSION, FALSE,
         0, ""},
        {"image without version: later time", {"v1005.dll", 0, kOld}, {nullptr, "text", kNew}, 0, FALSE, 1,
         "Image file has later time/date stamp, upgrade recommended"},
        {"image without version: same time", {"v1005.dll", 0, kNew}, {nullptr, "text", kNew}, 0, FALSE, 0, ""},
        {"older image, forced", {"v2000.dll", 0, kNew}, {"v1004.dll", 0, kOld}, 0, TRUE, 1, ""},
    };
    Snapshot empty = world->Take();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TestContext context({{"app.dll", "app.dll", "app", DIR_TARGET, kEverywhere | row.flags, 1}}, "unused");
        Place(context, 0, row.existing, row.image);
        EXPECT_TRUE(DecideUpgrades(context.get(), row.force));
        std::string log = TakeLog();
        EXPECT_EQ(row.upgrade, context.state(0).upgrade) << log;
        if (*row.line)
            EXPECT_TRUE(HasLine(log, row.line)) << log;
        else
            EXPECT_FALSE(HasLineStarting(log, "Image file has") || HasLineStarting(log, "No existing")) << log;
        EXPECT_FALSE(STATUS_FAILED(g_Status.word));
        world->Restore(empty);
        Restart();
    }
}

TEST_P(Decide, FactsOfBothFilesAreGathered)
{
    TestContext context({{"app.dll", "app.dll", "app", DIR_TARGET, kEverywhere, 1}}, "unused");
    Place(context, 0, {"v1004.dll", 0, kOld}, {"v2000.dll", 0, kNew});
    // Among many other names (the folder's listing outgrows its first
    // block), under other letter cases than the table's.
    for (int i = 0; i < 600; ++i)
        world->Put(DIR_TARGET, "other file " + std::to_string(i) + ".txt", "");
    DeleteFileA(world->Path(DIR_TARGET, "app.dll").c_str());
    world->Put(DIR_TARGET, "App.DLL", Payload("v1004.dll"), kOld);
    ASSERT_TRUE(DecideUpgrades(context.get(), FALSE));
    const FileInfo& existing = context.state(0).existing;
    const FileInfo& image = context.state(0).image;
    EXPECT_EQ(1u, existing.exists);
    EXPECT_EQ(0, existing.pending);
    EXPECT_EQ(0x00010000u, existing.fileVersionMS);
    EXPECT_EQ(0x00000004u, existing.fileVersionLS);
    EXPECT_EQ(0x00020000u, image.fileVersionMS);
    EXPECT_EQ(0x00020000u, image.productVersionMS);
    // The version texts are read for a caller that asks for them.
    FileInfo again;
    VersionStrings strings;
    std::string imagePath = world->Path(DIR_TARGET, std::string(context.image(0).imageName) + ".TMP");
    ASSERT_TRUE(GatherFileInfo(imagePath.c_str(), &again, TRUE, &strings));
    EXPECT_EQ(image.fileVersionMS, again.fileVersionMS);
    EXPECT_STREQ("Vornak", strings.company);
    EXPECT_STREQ("2.0.0.0", strings.versionText);
    EXPECT_STREQ("Engine test payload 2.0.0.0", strings.description);
    EXPECT_EQ(Payload("v2000.dll").size(), image.size);
    EXPECT_EQ(kNew, (ULONGLONG)image.lastWriteTime.dwHighDateTime << 32 | image.lastWriteTime.dwLowDateTime);
    std::string log = TakeLog();
    EXPECT_TRUE(HasLineStarting(log, "c:\\engt\\target\\app.dll dated 03/01/2001 12:00:00, ")) << log;
    EXPECT_TRUE(HasLine(log, "c:\\engt\\target\\app.dll version 1.0.0.4")) << log;

    // A name beyond ASCII, installed in other letters, is found as the
    // system finds it (the listing cannot fold its case).
    Restart();
    TestContext accented({{"ete.dll", "\xE9t\xE9.dll", "ete", DIR_TARGET, kEverywhere, 2}}, "unused");
    world->Put(DIR_TARGET, "\xC9T\xC9.DLL", Payload("v1004.dll"), kOld);
    Place(accented, 0, kNone, {"v2000.dll", 0, kNew});
    ASSERT_TRUE(DecideUpgrades(accented.get(), FALSE));
    EXPECT_EQ(1u, accented.state(0).existing.exists) << TakeLog();
}

TEST_P(Decide, GroupRulesChooseWholeGroups)
{
    // 0 and 1: a checked group whose installed files differ in version,
    // although neither image is newer. 2: an unchecked member of the same
    // group. 3 and 4: group 9 follows its chosen member 3, also the work
    // file 4 and an entry for no platform at all (5). 6, 8 and 9, between
    // other groups' members: the first of checked group 10 differs from
    // the two others, which agree. 7: a late member of group 7 with the
    // version of its first member.
    TestContext context({{"a.dll", "a.dll", "a", DIR_TARGET, kEverywhere | IMG_GROUP_CHECK, 7},
                         {"b.dll", "b.dll", "b", DIR_TARGET, kEverywhere | IMG_GROUP_CHECK, 7},
                         {"c.dll", "c.dll", "c", DIR_TARGET, kEverywhere, 8},
                         {"d.dll", "d.dll", "d", DIR_TARGET, kEverywhere, 9},
                         {"w.tmp", "w.tmp", "w", DIR_TEMP, kEverywhere | IMG_WORK_FILE, 9},
                         {"x.dll", "x.dll", "x", DIR_TARGET, 0, 9},
                         {"f.dll", "f.dll", "f", DIR_TARGET, kEverywhere | IMG_GROUP_CHECK, 10},
                         {"e.dll", "e.dll", "e", DIR_TARGET, kEverywhere | IMG_GROUP_CHECK, 7},
                         {"g.dll", "g.dll", "g", DIR_TARGET, kEverywhere | IMG_GROUP_CHECK, 10},
                         {"h.dll", "h.dll", "h", DIR_TARGET, kEverywhere | IMG_GROUP_CHECK, 10}},
                        "unused");
    Place(context, 0, {"v1004.dll", 0, kNew}, {"v1004.dll", 0, kNew});
    Place(context, 1, {"v1005.dll", 0, kNew}, {"v1005.dll", 0, kNew});
    Place(context, 2, {"v1005.dll", 0, kNew}, {"v1005.dll", 0, kNew});
    Place(context, 3, {"v1004.dll", 0, kNew}, {"v1005.dll", 0, kNew});
    Place(context, 6, {"v1005.dll", 0, kNew}, {"v1005.dll", 0, kNew});
    for (size_t i : {7, 8, 9})
        Place(context, i, {"v1004.dll", 0, kNew}, {"v1004.dll", 0, kNew});
    ASSERT_TRUE(DecideUpgrades(context.get(), FALSE));
    std::string log = TakeLog();
    EXPECT_EQ(1, context.state(0).upgrade);
    EXPECT_EQ(1, context.state(1).upgrade);
    EXPECT_EQ(0, context.state(2).upgrade);
    EXPECT_EQ(1, context.state(3).upgrade);
    EXPECT_EQ(1, context.state(4).upgrade);
    EXPECT_EQ(1, context.state(5).upgrade);
    for (size_t i : {6, 7, 8, 9})
        EXPECT_EQ(1, context.state(i).upgrade) << i;
    EXPECT_TRUE(HasLine(log, "Group 7 file versions differ (0/1), upgrade recommended")) << log;
    EXPECT_TRUE(HasLine(log, "Group 10 file versions differ (6/8), upgrade recommended")) << log;
    EXPECT_TRUE(HasLine(log, "Group 10 file versions differ (6/9), upgrade recommended")) << log;
    EXPECT_EQ(3, CountLinesStarting(log, "Group ")) << log;
}

TEST_P(Decide, ComparesWithTheReplacementStillPending)
{
    TestContext context({{"app.dll", "app.dll", "app", DIR_TARGET, kEverywhere, 1}}, "unused");
    Place(context, 0, {"v1004.dll", 0, kOld}, {"v1005.dll", 0, kOld});
    // An earlier run queued v2000 to replace app.dll at the restart.
    world->Put(DIR_TARGET, "QNBPEND.TMP", Payload("v2000.dll"));
    std::string record = Record(g_Dirs.path[DIR_TARGET] + std::string("QNBPEND.TMP"),
                                g_Dirs.path[DIR_TARGET] + std::string("APP.DLL"));
    world->Put(DIR_SYSTEM32, "qnbinit.TMP", record);

    ASSERT_TRUE(DecideUpgrades(context.get(), FALSE));
    EXPECT_EQ(1, context.state(0).existing.pending);
    EXPECT_EQ(0x00020000u, context.state(0).existing.fileVersionMS);
    EXPECT_EQ(0, context.state(0).upgrade) << TakeLog();
    EXPECT_EQ(record, world->Get(DIR_SYSTEM32, "qnbinit.TMP"));
}

// A record file that is damaged, or a record that does not name an image
// beside its target, queues nothing: the target's own facts count.
TEST_P(Decide, DamagedOrForeignMoveRecordCountsAsNothingPending)
{
    std::string target = g_Dirs.path[DIR_TARGET] + std::string("APP.DLL");
    std::string elsewhere = g_Dirs.path[DIR_TEMP] + std::string("QNB1.TMP");
    std::string notImage = g_Dirs.path[DIR_TARGET] + std::string("EVIL.DLL");
    std::string notOurs = g_Dirs.path[DIR_TARGET] + std::string("EVIL.TMP");
    std::string above = world->root() + "QNB2.TMP";
    struct Row {
        const char* what;
        std::string record;
        std::string line;
    } rows[] = {
        {"record length 0", std::string("\x00\x00\x00\x00\x01\x00\x00\x00\x01\x00\x00\x00xy", 14),
         "MoveFileRecord c:\\engt\\system32\\qnbinit.TMP is damaged at byte 0"},
        {"source in another directory", Record(elsewhere, target), "MoveFileRecord c:\\engt\\system32\\qnbinit.TMP names " + elsewhere},
        {"source in a directory above", Record(above, target), "MoveFileRecord c:\\engt\\system32\\qnbinit.TMP names " + above},
        {"source not an image", Record(notImage, target), "MoveFileRecord c:\\engt\\system32\\qnbinit.TMP names " + notImage},
        {"source a temporary file not the engine's", Record(notOurs, target),
         "MoveFileRecord c:\\engt\\system32\\qnbinit.TMP names " + notOurs},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TestContext context({{"app.dll", "app.dll", "app", DIR_TARGET, kEverywhere, 1}}, "unused");
        Place(context, 0, {"v1004.dll", 0, kOld}, {"v1005.dll", 0, kOld});
        world->Put(DIR_TARGET, "EVIL.DLL", Payload("v2000.dll"));
        world->Put(DIR_TARGET, "EVIL.TMP", Payload("v2000.dll"));
        world->Put(DIR_TEMP, "QNB1.TMP", Payload("v2000.dll"));
        world->Put(0, "QNB2.TMP", Payload("v2000.dll"));
        world->Put(DIR_SYSTEM32, "qnbinit.TMP", row.record);
        ASSERT_TRUE(DecideUpgrades(context.get(), FALSE));
        std::string log = TakeLog();
        EXPECT_EQ(0, context.state(0).existing.pending);
        EXPECT_EQ(1, context.state(0).upgrade) << log;
        EXPECT_EQ(1, CountLinesStarting(log, row.line)) << log;
    }
}

TEST_P(Decide, StopsOnFilesItCannotRead)
{
    // A missing image fails with a status of its own; a target held open
    // without sharing is a failure, not a missing file.
    TestContext missing({{"app.dll", "app.dll", "app", DIR_TARGET, kEverywhere, 1},
                         {"b.dll", "b.dll", "b", DIR_TARGET, kEverywhere, 2}},
                        "unused");
    missing.state(0).extracted = 1;
    CopyText(missing.image(0).imageName, "QNBGONE", sizeof missing.image(0).imageName);
    EXPECT_FALSE(DecideUpgrades(missing.get(), FALSE));
    EXPECT_EQ((DWORD)MSG_OPEN_FAILED, STATUS_MESSAGE(g_Status.word));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, g_Status.qualifier);
    EXPECT_EQ(2u, STATUS_MODULE(g_Status.word));
    EXPECT_TRUE(HasLine(TakeLog(), "File c:\\engt\\target\\QNBGONE.TMP does not exist"));
    EXPECT_EQ(0u, missing.state(1).existing.exists);  // the pass stopped there
    Restart();

    TestContext locked({{"app.dll", "app.dll", "app", DIR_TARGET, kEverywhere, 1}}, "unused");
    Place(locked, 0, {"v1004.dll", 0, kOld}, {"v1005.dll", 0, kOld});
    HANDLE holder = CreateFileA(world->Path(DIR_TARGET, "app.dll").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING,
                                0, NULL);
    EXPECT_FALSE(DecideUpgrades(locked.get(), FALSE));
    CloseHandle(holder);
    EXPECT_EQ((DWORD)MSG_OPEN_FAILED, STATUS_MESSAGE(g_Status.word));
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, g_Status.qualifier);
    EXPECT_TRUE(HasLine(TakeLog(), "Unable to open c:\\engt\\target\\app.dll for file info 0x00000020"));
}

TEST_P(Decide, LanguageAndPlatformBitsSelectEntries)
{
    TestContext context({{"fr.txt", "fr.txt", "fr", DIR_TARGET, kEverywhere | 0x01000000, 1},
                         {"en.txt", "en.txt", "en", DIR_TARGET, kEverywhere | 0x10000000 | 0x04000000, 2},
                         {"none.txt", "none.txt", "none", DIR_TARGET, 0, 3}},
                        "unused");
    for (size_t i = 0; i < 3; ++i)
        Place(context, i, kNone, {nullptr, "text", kNew});
    ASSERT_TRUE(DecideUpgrades(context.get(), FALSE));
    EXPECT_EQ(0, context.state(0).upgrade);
    EXPECT_EQ(1, context.state(1).upgrade);
    EXPECT_EQ(0, context.state(2).upgrade);
}

INSTANTIATE_TEST_SUITE_P(Families, Decide, ::testing::Values(FAMILY_95, FAMILY_NT, FAMILY_2KXP),
                         [](const ::testing::TestParamInfo<Family>& info) { return FamilyName(info.param); });

}  // namespace
