// Whole installations through the install sequence, in a world of their own,
// as each Windows family: what lands where, what is backed up, what waits
// for the restart and how, and what a second run before the restart does.
#include "engine_test.h"

#include "install.h"
#include "log.h"
#include "winmain.h"

namespace {

class Install : public EngineTest {
protected:
    std::string ArchivePath() { return world->root() + "..\\ENGARC\\PAYLOAD.ARQ"; }
};

TEST_P(Install, FreshInstallPutsEveryFileInPlace)
{
    CreateDirectoryA("C:\\ENGARC", NULL);
    ASSERT_TRUE(BuildArchive("C:\\ENGARC\\PAYLOAD.ARQ",
                             {{"APP.DLL", Payload("v1005.dll")}, {"README.TXT", "read me\r\n"}}));
    TestContext context({{"app.dll", "app.dll", "app", DIR_TARGET, IMG_ON_95 | IMG_ON_NT | IMG_ON_2KXP, 1},
                         {"readme.txt", "readme.txt", "readme", DIR_SYSTEM32, IMG_ON_95 | IMG_ON_NT | IMG_ON_2KXP, 2}},
                        "C:\\ENGARC\\PAYLOAD.ARQ");
    EXPECT_TRUE(RunInstallSequence(context.get()));
    std::string log = TakeLog();
    EXPECT_EQ(MSG_INSTALLED, STATUS_MESSAGE(g_Status.word)) << log;
    EXPECT_EQ(Payload("v1005.dll"), world->Get(DIR_TARGET, "app.dll"));
    EXPECT_EQ("read me\r\n", world->Get(DIR_SYSTEM32, "readme.txt"));
    EXPECT_TRUE(HasLine(log, "Image file creation success")) << log;
}

INSTANTIATE_TEST_SUITE_P(Families, Install, ::testing::Values(FAMILY_95, FAMILY_NT, FAMILY_2KXP),
                         [](const ::testing::TestParamInfo<Family>& info) { return FamilyName(info.param); });

}  // namespace
