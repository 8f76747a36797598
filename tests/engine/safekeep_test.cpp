// Safekeeping of the pending renames, and the passes' refusal to run before
// the engine is set up.
#include "engine_test.h"

#include "faults.h"
#include "install.h"
#include "log.h"

namespace {

class Safekeeping : public EngineTest {};

TEST_P(Safekeeping, PutsBackWhatWasThereAndRemovesWhatTheRunAdded)
{
    // Before the run: a move record file of an earlier run; on the 95
    // family no WININIT.INI, on the NT family no pending value.
    world->Put(DIR_SYSTEM32, "qnbinit.TMP", "earlier record");
    Snapshot before = world->Take();
    ASSERT_TRUE(SafeguardPendingRenames());
    std::string log = TakeLog();
    if (GetParam() == FAMILY_95)
        EXPECT_FALSE(g_Safekeeping.pending.saved);
    else
        EXPECT_TRUE(HasLine(log, "No existing PendingFileRenameOperations value to backup")) << log;
    EXPECT_TRUE(g_Safekeeping.moveRecord.saved);
    // The saved records wait nowhere a user could rewrite them (Temp is
    // theirs): the world is as it was.
    EXPECT_EQ("", CompareSnapshots(before, world->Take()));

    // The run queues a rename and appends a record.
    world->Put(DIR_SYSTEM32, "qnbinit.TMP", "earlier record, and one more");
    PendingValue queued;
    queued.exists = true;
    queued.type = REG_MULTI_SZ;
    queued.data = MultiString({L"\\??\\C:\\X", L""});
    if (GetParam() == FAMILY_95)
        world->Put(DIR_WINDOWS, "wininit.ini", "[RENAME]\r\nNUL=C:\\X\r\n");
    else
        WritePendingValue(queued);
    EXPECT_TRUE(RestorePendingRenames(TRUE));
    log = TakeLog();
    EXPECT_EQ("", CompareSnapshots(before, world->Take())) << log;

    // Released: a second call finds nothing to put back or delete.
    world->Put(DIR_SYSTEM32, "qnbinit.TMP", "made later");
    EXPECT_FALSE(g_Safekeeping.moveRecord.known || g_Safekeeping.moveRecord.data || g_Safekeeping.pending.known);
    EXPECT_TRUE(RestorePendingRenames(TRUE));
    EXPECT_EQ("made later", world->Get(DIR_SYSTEM32, "qnbinit.TMP"));
    // Nothing pending before the run, nothing queued by it: the value to
    // delete is not there, which is logged and fails nothing.
    if (GetParam() == FAMILY_NT) {
        ASSERT_TRUE(SafeguardPendingRenames());
        EXPECT_TRUE(RestorePendingRenames(TRUE));
        EXPECT_FALSE(STATUS_FAILED(g_Status.word));
        EXPECT_TRUE(HasLine(TakeLog(), "RegDeleteValue failed on PendingFileRenameOperations 0x00000002"));
        // Others' entries come back byte for byte, characters beyond the
        // code page with them.
        PendingValue others;
        others.exists = true;
        others.type = REG_MULTI_SZ;
        others.data = MultiString({L"\\??\\C:\\\u65E5\u672C\u0151.TMP", L""});
        WritePendingValue(others);
        ASSERT_TRUE(SafeguardPendingRenames());
        WritePendingValue(queued);
        EXPECT_TRUE(RestorePendingRenames(TRUE));
        EXPECT_TRUE(others == ReadPendingValue()) << TakeLog();
        WritePendingValue(PendingValue());
        // A value the run added that cannot be deleted fails the roll-back.
        ASSERT_TRUE(SafeguardPendingRenames());
        WritePendingValue(queued);
        ResetFaults();
        ArmFault(FaultEntryIndex("RegDeleteValueW"), 1, ERROR_ACCESS_DENIED);
        EXPECT_FALSE(RestorePendingRenames(TRUE));
        EXPECT_EQ((DWORD)MSG_VALUE_SET_FAILED, STATUS_MESSAGE(g_Status.word)) << TakeLog();
        EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, g_Status.qualifier);
    }

    // Pending renames that cannot be read are not saved: the safekeeping
    // fails, and the roll-back leaves them as they are instead of deleting
    // them as the run's (a WININIT.INI held open, a value that cannot be
    // queried).
    memset(&g_Status, 0, sizeof g_Status);
    HANDLE held = INVALID_HANDLE_VALUE;
    if (GetParam() == FAMILY_95)
        world->Put(DIR_WINDOWS, "wininit.ini", "[RENAME]\r\nNUL=C:\\OTHERS.TMP\r\n");
    else
        WritePendingValue(queued);
    Snapshot unread = world->Take();
    if (GetParam() == FAMILY_95) {
        held = CreateFileA(world->Path(DIR_WINDOWS, "wininit.ini").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0,
                           NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
    } else {
        ResetFaults();
        ArmFault(FaultEntryIndex("RegQueryValueExW"), 1, ERROR_ACCESS_DENIED);
    }
    EXPECT_FALSE(SafeguardPendingRenames());
    EXPECT_TRUE(STATUS_FAILED(g_Status.word));
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    RestorePendingRenames(TRUE);
    EXPECT_EQ("", CompareSnapshots(unread, world->Take())) << TakeLog();

    // A host that runs installations one after another resets the state
    // between them: what a run saved goes with it, and the next run's
    // roll-back does not write it back where nothing was.
    world->Put(DIR_SYSTEM32, "qnbinit.TMP", "of a run reset half way");
    if (GetParam() == FAMILY_95)
        world->Put(DIR_WINDOWS, "wininit.ini", "[RENAME]\r\nNUL=C:\\X\r\n");
    else
        WritePendingValue(queued);
    ASSERT_TRUE(SafeguardPendingRenames());
    TearDown();
    SetUp();
    Snapshot empty = world->Take();
    ASSERT_TRUE(SafeguardPendingRenames());
    EXPECT_TRUE(RestorePendingRenames(TRUE));
    EXPECT_EQ("", CompareSnapshots(empty, world->Take())) << TakeLog();
}

TEST_P(Safekeeping, PassesRefuseBeforeTheEngineIsSetUp)
{
    TestContext context({{"a.dll", "a.dll", "a", DIR_TARGET, IMG_ON_95 | IMG_ON_NT | IMG_ON_2KXP, 1}}, "unused");
    EngineShutdown();
    struct Pass {
        const char* name;
        BOOL (*run)(UpgradeContext*);
    } passes[] = {
        {"CreateImages", [](UpgradeContext* c) { return CreateImages(c); }},
        {"DecideUpgrades", [](UpgradeContext* c) { return DecideUpgrades(c, FALSE); }},
        {"InstallImages", [](UpgradeContext* c) { return InstallImages(c); }},
        {"CleanupImages", [](UpgradeContext* c) { return CleanupImages(c, TRUE); }},
    };
    for (const Pass& pass : passes) {
        SCOPED_TRACE(pass.name);
        memset(&g_Status, 0, sizeof g_Status);
        EXPECT_FALSE(pass.run(context.get()));
        EXPECT_EQ((DWORD)MSG_INTERNAL_ERROR, STATUS_MESSAGE(g_Status.word));
        EXPECT_EQ(2u, STATUS_MODULE(g_Status.word));
        EXPECT_TRUE(HasLine(TakeLog(), "Not initialized!"));
    }
    // A context without an archive is refused too, and nothing is saved.
    Restart();
    context.get()->archivePath = NULL;
    EXPECT_FALSE(CreateImages(context.get()));
    EXPECT_EQ((DWORD)MSG_INTERNAL_ERROR, STATUS_MESSAGE(g_Status.word));
    EXPECT_FALSE(g_Safekeeping.moveRecord.known || g_Safekeeping.pending.known);
}

INSTANTIATE_TEST_SUITE_P(Families, Safekeeping, ::testing::Values(FAMILY_95, FAMILY_NT),
                         [](const ::testing::TestParamInfo<Family>& info) { return FamilyName(info.param); });

}  // namespace
