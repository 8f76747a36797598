// Image creation: which entries become images and where, the progress it
// reports, and the damage and failures that stop it before anything is
// installed (a changed byte, an installer cut short, an entry of unknown
// method, an image that cannot be created or written).
#include "engine_test.h"

#include "cx.h"
#include "faults.h"
#include "install.h"
#include "log.h"
#include "syscalls.h"
#include "text.h"

namespace {

const DWORD kEverywhere = IMG_ON_95 | IMG_ON_NT | IMG_ON_2KXP;

// Where an entry lies in an archive file.
struct EntryPosition {
    size_t header;  // first byte of the entry header
    size_t body;    // first byte after the name
    size_t data;    // first stored byte
    size_t packed;  // stored bytes
};

uint32_t Read32(const std::string& bytes, size_t at)
{
    return (uint8_t)bytes[at] | (uint8_t)bytes[at + 1] << 8 | (uint8_t)bytes[at + 2] << 16 |
           (uint32_t)(uint8_t)bytes[at + 3] << 24;
}

std::vector<EntryPosition> EntriesOf(const std::string& bytes)
{
    std::vector<EntryPosition> entries;
    const char lead[] = {0x67, 0x57, 0x04, 0x01};
    size_t at = bytes.find(std::string(lead, 4));
    while (at != std::string::npos && at + 8 <= bytes.size()) {
        size_t nameLength = (uint8_t)bytes[at + 6] | (uint8_t)bytes[at + 7] << 8;
        if (nameLength == 0)
            break;
        EntryPosition entry;
        entry.header = at;
        entry.body = at + 8 + nameLength;
        entry.packed = Read32(bytes, entry.body + 10);
        entry.data = entry.body + 33 + ((uint8_t)bytes[entry.body + 31] | (uint8_t)bytes[entry.body + 32] << 8);
        entries.push_back(entry);
        at = entry.data + entry.packed;
    }
    return entries;
}

class Images : public EngineTest {
protected:
    // Four files of some size, so that every entry is packed.
    std::vector<std::pair<std::string, std::string>> FourFiles()
    {
        return {{"ONE.DLL", Payload("v1004.dll")},
                {"TWO.TXT", std::string(3000, 'a') + "two"},
                {"THREE.DLL", Payload("v2000.dll")},
                {"FOUR.TXT", std::string(5000, 'b') + "four"}};
    }
    std::vector<TestEntry> FourEntries()
    {
        return {{"one.dll", "one.dll", "one", DIR_TARGET, kEverywhere, 1},
                {"two.txt", "two.txt", "two", DIR_SYSTEM32, kEverywhere, 2},
                {"three.dll", "three.dll", "three", DIR_DRIVERS, kEverywhere, 3},
                {"four.txt", "four.txt", "four", DIR_TEMP, kEverywhere, 4}};
    }

    // Every file any run left in the world's directories that looks like an
    // image or a temporary output of the archive engine.
    std::string Leftovers()
    {
        std::string out;
        for (const auto& file : world->Take().files) {
            std::string name = file.first.substr(file.first.find_last_of('\\') + 1);
            if (name.rfind("QNB", 0) == 0 || name.rfind("CX", 0) == 0)
                out += file.first + " ";
        }
        return out;
    }
};

std::vector<ProgressRecord> s_Progress;

BOOL RecordProgress(ProgressRecord* record)
{
    s_Progress.push_back(*record);
    return TRUE;
}

TEST_P(Images, ExtractsApplicableEntriesBesideTheirTargets)
{
    ASSERT_TRUE(BuildArchive(kTestArchive, {{"APP.DLL", Payload("v1005.dll")},
                                        {"OTHER.SYS", "for another family"},
                                        {"EXTRA.TXT", "only in the archive"},
                                        {"FRENCH.TXT", "pour les francophones"}}));
    DWORD otherFamily = GetParam() == FAMILY_95 ? IMG_ON_NT | IMG_ON_2KXP : IMG_ON_95;
    // Over an installed file: a new target would be extracted to itself.
    world->Put(DIR_DRIVERS, "app.dll", Payload("v1004.dll"));
    TestContext context({{"app.dll", "app.dll", "app", DIR_DRIVERS, kEverywhere, 1},
                         {"other.sys", "other.sys", "other", DIR_DRIVERS, otherFamily, 2},
                         {"french.txt", "french.txt", "french", DIR_TARGET, kEverywhere | 0x01000000, 3},
                         {"app.dll", "second.dll", "second", DIR_TARGET, kEverywhere, 4},
                         {"absent.txt", "absent.txt", "absent", DIR_TARGET, kEverywhere, 5},
                         {"App.Dll", "third.dll", "third", DIR_TARGET, kEverywhere, 6}},
                        kTestArchive);
    context.get()->progress = RecordProgress;
    s_Progress.clear();
    ASSERT_TRUE(CreateImages(context.get()));
    std::string log = TakeLog();

    EXPECT_EQ(1u, context.state(0).extracted);
    std::string image = std::string(context.image(0).imageName);
    EXPECT_EQ(0u, image.rfind("QNB", 0)) << image;
    EXPECT_EQ(Payload("v1005.dll"), world->Get(DIR_DRIVERS, image + ".TMP"));
    for (size_t i = 1; i < 6; ++i) {
        EXPECT_EQ(0u, context.state(i).extracted) << i;
        EXPECT_STREQ("", context.image(i).imageName) << i;
    }
    EXPECT_TRUE(HasLine(log, "Skipping archive only file EXTRA.TXT")) << log;
    EXPECT_TRUE(HasLine(log, "Extract from: APP.DLL")) << log;
    // The system chooses the digits (and, under Wine, the letter case of the name).
    EXPECT_TRUE(HasLineStarting(log, "Extract to: " + std::string(g_Dirs.path[DIR_DRIVERS]) + image + ".")) << log;
    EXPECT_EQ(1, CountLinesStarting(log, "Finished: ")) << log;

    // The total counts the entries for this family whatever their language;
    // only what is extracted is done.
    DWORD appSize = (DWORD)Payload("v1005.dll").size();
    DWORD total = appSize + (DWORD)strlen("pour les francophones");
    ASSERT_FALSE(s_Progress.empty());
    const ProgressRecord& last = s_Progress.back();
    EXPECT_EQ((DWORD)PROGRESS_EXTRACT, last.code);
    EXPECT_EQ(total, last.totalSize);
    EXPECT_EQ(appSize, last.totalDone);
    EXPECT_EQ(appSize, last.fileDone);
    EXPECT_EQ(appSize, last.fileSize);
    EXPECT_EQ(0, last.index);
    EXPECT_EQ(context.get(), last.context);
    for (const ProgressRecord& record : s_Progress)
        EXPECT_LE(record.totalDone, record.totalSize);
}

// A new target put in place at once is extracted to itself; every other
// entry gets an image of a name of its own beside its target: over a file,
// waiting for the restart, taken only over a file, and every one while a
// move record file says that an earlier run's replacements wait for the
// restart. A full cleanup removes them all, new targets too.
TEST_P(Images, NewTargetsAreExtractedToThemselves)
{
    ASSERT_TRUE(BuildArchive(kTestArchive, {{"NEW.DLL", "new"}, {"OLD.DLL", "over old"}, {"LATE.SYS", "late"},
                                            {"NEEDS.DLL", "needs"}}));
    world->Put(DIR_TARGET, "old.dll", "old");
    const std::vector<TestEntry> rows = {
        {"new.dll", "new.dll", "new", DIR_TARGET, kEverywhere, 1},
        {"old.dll", "old.dll", "old", DIR_TARGET, kEverywhere, 2},
        {"late.sys", "late.sys", "late", DIR_DRIVERS, kEverywhere | IMG_AT_RESTART, 3},
        {"needs.dll", "needs.dll", "needs", DIR_TARGET, kEverywhere | IMG_NEED_EXISTING, 4}};
    const char* const bytes[] = {"new", "over old", "late", "needs"};
    for (bool recordFile : {false, true}) {
        SCOPED_TRACE(recordFile ? "a move record file" : "no move record file");
        if (recordFile)
            world->Put(DIR_SYSTEM32, "qnbinit.TMP", "");
        Snapshot before = world->Take();
        TestContext context(rows, kTestArchive);
        ASSERT_TRUE(CreateImages(context.get()));
        std::string log = TakeLog();
        for (size_t i = 0; i < rows.size(); ++i) {
            SCOPED_TRACE(rows[i].targetName);
            LONG inPlace = i == 0 && !recordFile;
            std::string name = inPlace ? rows[i].targetName : context.image(i).imageName + std::string(".TMP");
            EXPECT_EQ(inPlace, context.state(i).inPlace);
            EXPECT_EQ(!inPlace, std::string(context.image(i).imageName).rfind("QNB", 0) == 0);
            EXPECT_EQ(bytes[i], world->Get(rows[i].dirId, name));
            EXPECT_TRUE(HasLine(log, "Extract to: " + std::string(g_Dirs.path[rows[i].dirId]) + name)) << log;
        }
        CleanupImages(context.get(), TRUE);
        EXPECT_EQ("", CompareSnapshots(before, world->Take())) << TakeLog();
        Restart();
    }
}

// Each way of damaging an installer, and what it must end with: status
// 2069 with the qualifier and log line given, and no image left behind by
// the full cleanup.
TEST_P(Images, DamageFailsThePassAndLeavesNothingBehind)
{
    // A registry script whose entry claims the largest size there is.
    std::vector<std::pair<std::string, std::string>> scripted = FourFiles();
    scripted.push_back({"SETUP.INF", "[HKEY_LOCAL_MACHINE]\r\n"});
    ASSERT_TRUE(BuildArchive(kTestArchive, scripted));
    std::string hugeScript = ReadWhole(kTestArchive);
    hugeScript.replace(EntriesOf(hugeScript).at(4).body + 14, 4, std::string(4, '\xFF'));
    ASSERT_TRUE(BuildArchive(kTestArchive, FourFiles()));
    const std::string sound = ReadWhole(kTestArchive);
    std::vector<EntryPosition> entries = EntriesOf(sound);
    ASSERT_EQ(4u, entries.size());
    struct Case {
        const char* what;
        std::string bytes;
        LONG qualifier;
        const char* line;
        bool imagesWritten;  // the damage shows only while extracting
        bool withScript = false;  // the context has a registry script
    };
    std::string flipped = sound;
    flipped[entries[1].data + entries[1].packed / 2] ^= 0x10;
    std::string unknownMethod = sound;
    unknownMethod[entries[2].body + 22] = 7;
    std::string twice = sound.substr(0, entries[2].header) +
                        sound.substr(entries[1].header, entries[2].header - entries[1].header) +
                        sound.substr(entries[2].header);
    std::vector<Case> cases = {
        {"a stored byte changed", flipped, CX_ECHECK, "cxTestFile failure 0xFFFFFFF9 on TWO.TXT", false},
        {"cut inside the first entry's header", sound.substr(0, entries[0].header + 5), CX_EHEADER,
         "cxFirstEntry failure 0xFFFFFFFA", false},
        {"cut inside the first entry's data", sound.substr(0, entries[0].data + 10), CX_EHEADER,
         "cxFirstEntry failure 0xFFFFFFFA", false},
        {"cut before the fourth entry", sound.substr(0, entries[3].header), CX_EHEADER,
         "cxNextEntry failure 0xFFFFFFFA", false},
        {"cut inside the fourth entry's header", sound.substr(0, entries[3].header + 20), CX_EHEADER,
         "cxNextEntry failure 0xFFFFFFFA", false},
        {"an entry of unknown method", unknownMethod, CX_ECHECK, "Callback error 0x00000008, lVal 0x00000000",
         true},
        {"an entry packed twice", twice, CX_ECHECK, "Archive entry TWO.TXT is packed twice", true},
        {"no registry script", sound, CX_ENOFILE, "Registry file setup.inf is not in the archive", false, true},
        {"a registry script of 4 GiB", hugeScript, CX_ETOOLARGE,
         "Registry file SETUP.INF of 4294967295 bytes is larger than 1048576 bytes", false, true},
    };
    for (const Case& damage : cases) {
        SCOPED_TRACE(damage.what);
        ASSERT_TRUE(WriteWhole(kTestArchive, damage.bytes));
        std::vector<TestEntry> rows = FourEntries();
        if (damage.withScript)
            rows.push_back({"setup.inf", "setup.inf", "", DIR_TEMP, kEverywhere | IMG_REGISTRY_SCRIPT, 0});
        TestContext context(rows, kTestArchive);
        EXPECT_FALSE(CreateImages(context.get()));
        EXPECT_EQ((DWORD)MSG_DECOMPRESS_FAILED, STATUS_MESSAGE(g_Status.word));
        EXPECT_EQ((DWORD)damage.qualifier, g_Status.qualifier);
        EXPECT_EQ(2u, STATUS_MODULE(g_Status.word));
        bool anyExtracted = false;
        for (size_t i = 0; i < 4; ++i)
            anyExtracted = anyExtracted || context.state(i).extracted;
        EXPECT_EQ(damage.imagesWritten, anyExtracted);
        CleanupImages(context.get(), TRUE);
        std::string log = TakeLog();
        EXPECT_TRUE(HasLine(log, damage.line)) << log;
        EXPECT_TRUE(HasLineStarting(log, "Image file creation failed 0x8")) << log;
        EXPECT_EQ("", Leftovers()) << log;
        for (const TestEntry& row : rows)  // new targets extracted to themselves go too
            EXPECT_FALSE(world->Has(row.dirId, row.targetName)) << row.targetName;
        Restart();
    }
}

std::string s_Victim;

// Plants a link to the victim at a name about to be deleted, as a user who
// writes the folder can between a file's close and its deletion by name.
BOOL WINAPI DeleteAfterPlanting(LPCSTR path)
{
    bool planted = PlantHostLink(path, s_Victim);
    BOOL deleted = DeleteFileA(path);
    if (planted)
        RemoveHostLink(path);
    return deleted;
}

// The registry script's work file in Temp goes with its handle; its name
// is not deleted a second time.
TEST_P(Images, ScriptWorkFileGoesWithItsHandle)
{
    ASSERT_TRUE(BuildArchive(kTestArchive, {{"SETUP.INF", "[HKEY_LOCAL_MACHINE]\r\n"}}));
    s_Victim = world->Path(DIR_WINDOWS, "victim.sys");
    ASSERT_TRUE(WriteWhole(s_Victim, "victim"));
    TestContext context({{"setup.inf", "setup.inf", "", DIR_TEMP, kEverywhere | IMG_REGISTRY_SCRIPT, 0}},
                        kTestArchive);
    ResetFaults();
    auto realDelete = RealCalls()->DeleteFileA;
    RealCalls()->DeleteFileA = DeleteAfterPlanting;
    EXPECT_TRUE(CreateImages(context.get()));
    RealCalls()->DeleteFileA = realDelete;
    EXPECT_EQ("victim", ReadWhole(s_Victim));
    EXPECT_NE(nullptr, context.state(0).scriptText);
    ReleaseRegistryScript(&context.state(0));
}

TEST_P(Images, OutputsThatCannotBeMadeFailThePass)
{
    ASSERT_TRUE(BuildArchive(kTestArchive, FourFiles()));
    // No image in a directory that does not exist.
    {
        std::vector<TestEntry> rows = FourEntries();
        rows[1].dirId = DIR_SYSTEM16;
        RemoveDirectoryA(world->Dir(DIR_SYSTEM16).c_str());
        TestContext context(rows, kTestArchive);
        EXPECT_FALSE(CreateImages(context.get()));
        EXPECT_EQ((DWORD)MSG_TEMP_FILE_FAILED, STATUS_MESSAGE(g_Status.word));
        EXPECT_NE(0u, g_Status.qualifier);
        DWORD error = g_Status.qualifier;
        CleanupImages(context.get(), TRUE);
        std::string log = TakeLog();
        char line[64];
        wsprintfA(line, "GetTempFileName failed 0x%08lX", error);
        EXPECT_TRUE(HasLine(log, line)) << log;
        EXPECT_FALSE(HasLine(log, "Extract from: THREE.DLL")) << log;  // the run ended there
        EXPECT_EQ("", Leftovers()) << log;
        CreateDirectoryA(world->Dir(DIR_SYSTEM16).c_str(), NULL);
        Restart();
    }
}

INSTANTIATE_TEST_SUITE_P(Families, Images, ::testing::Values(FAMILY_95, FAMILY_NT),
                         [](const ::testing::TestParamInfo<Family>& info) { return FamilyName(info.param); });

}  // namespace
