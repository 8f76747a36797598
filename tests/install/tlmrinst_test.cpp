// The Telmura front-end's hooks: platform and rights checks, the context and
// its file table, the upgrade test and the uninstall entry.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "hooks.h"
#include "install.h"
#include "log.h"
#include "syscalls.h"
#include "upgrade.h"
#include "winmain.h"

namespace {

class Front : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetRunState();
        // Visual runs ask their questions in message boxes: the end-to-end
        // tests answer those (tests/product).
        g_Options.silent = TRUE;
    }
};

TEST_F(Front, PrecheckGoesOnOnlyOnSupportedSystemsWithRights)
{
    g_System.is95Family = g_System.isAdmin = TRUE;
    EXPECT_TRUE(ProductPrecheck());
    EXPECT_EQ(0u, g_Status.word);

    memset(&g_System, 0, sizeof g_System);
    g_System.is2KXP = g_System.isAdmin = TRUE;
    EXPECT_TRUE(ProductPrecheck());
    EXPECT_EQ(0u, g_Status.word);
}

TEST_F(Front, PrecheckRefusesOldNT)
{
    g_System.isNT = g_System.isOldShell = g_System.isAdmin = TRUE;
    EXPECT_FALSE(ProductPrecheck());
    EXPECT_EQ(2052u, STATUS_MESSAGE(g_Status.word));
    EXPECT_EQ(0u, STATUS_MODULE(g_Status.word));
}

TEST_F(Front, PrecheckRefusesUsersWithoutRights)
{
    g_System.isNT = TRUE;
    g_Options.silent = TRUE;
    EXPECT_FALSE(ProductPrecheck());
    EXPECT_EQ(2055u, STATUS_MESSAGE(g_Status.word));
}

TEST_F(Front, PrecheckRefusesOtherPlatformsAsAFailure)
{
    g_System.isAdmin = TRUE;  // Win32s: no family
    g_Options.silent = TRUE;
    EXPECT_FALSE(ProductPrecheck());
    EXPECT_TRUE(STATUS_FAILED(g_Status.word));
    EXPECT_EQ(2052u, STATUS_MESSAGE(g_Status.word));
}

TEST_F(Front, ContextIsBuiltOnceWithTheProductTable)
{
    UpgradeContext* context = ProductUpgradeContext();
    ASSERT_NE((UpgradeContext*)NULL, context);
    EXPECT_EQ(context, ProductUpgradeContext());
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    EXPECT_STREQ(self, context->archivePath);
    EXPECT_EQ(0, context->installStarted);
    ASSERT_EQ(5u, context->count);
    EXPECT_STREQ("tlmrinst.inf", context->images[0].archiveName);
    EXPECT_EQ(0x00070100u, context->images[0].flags);
    EXPECT_EQ((DWORD)DIR_TEMP, context->images[0].dirId);
    EXPECT_EQ(0x00070009u, context->images[1].flags);
    EXPECT_EQ((DWORD)DIR_SYSTEM32, context->images[1].dirId);
    EXPECT_EQ(3u, context->images[1].group);
    EXPECT_STREQ("dravelon_xp.sys", context->images[4].archiveName);
    EXPECT_STREQ("dravelon.sys", context->images[4].targetName);
    EXPECT_STREQ("dravelon", context->images[4].backupName);
    EXPECT_EQ((DWORD)DIR_DRIVERS, context->images[4].dirId);
    EXPECT_EQ(0x000400A0u, context->images[4].flags);
    EXPECT_EQ(0x000100A0u, context->images[2].flags);
    EXPECT_EQ(0x000200A0u, context->images[3].flags);

    // Exactly one driver build applies per family, beside script and uninstaller.
    for (int family = 0; family < 3; ++family) {
        memset(&g_System, 0, sizeof g_System);
        (family == 0 ? g_System.is95Family : family == 1 ? g_System.isNT : g_System.is2KXP) = TRUE;
        g_System.languageMask = LANG_MASK_GERMAN;
        int applicable = 0;
        for (DWORD i = 0; i < context->count; ++i)
            applicable += IsImageApplicable(&context->images[i]) ? 1 : 0;
        EXPECT_EQ(3, applicable);
        EXPECT_TRUE(IsImageApplicable(&context->images[2 + family]));
    }

    EXPECT_FALSE(ProductHasUpgrades(context));
    context->states[3].upgrade = 1;
    EXPECT_TRUE(ProductHasUpgrades(context));
    context->states[3].upgrade = 0;
}

// The sizes handed to the registry: Wine, like the NT family, would add a
// missing terminating zero on its own, the 95 family would not.
std::string s_StoredSizes;

LONG WINAPI RecordingSetValue(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size)
{
    s_StoredSizes += std::string(name) + "=" + std::to_string(size) + ";";
    return RegSetValueExA(key, name, reserved, type, data, size);
}

TEST_F(Front, UninstallEntryNamesTheUninstallerInTheSystemDirectory)
{
    const char* keyPath = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vornak Telmura";
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath);
    s_StoredSizes.clear();
    g_Sys.RegSetValueExA = RecordingSetValue;
    EXPECT_EQ(ERROR_SUCCESS, RegisterUninstaller());
    g_Sys.RegSetValueExA = RegSetValueExA;

    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key));
    char value[MAX_PATH];
    DWORD type = 0, size = sizeof value;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "DisplayName", NULL, &type, (BYTE*)value, &size));
    EXPECT_EQ((DWORD)REG_SZ, type);
    EXPECT_STREQ("Vornak Telmura", value);
    EXPECT_EQ(sizeof "Vornak Telmura", size);
    size = sizeof value;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "UninstallString", NULL, &type, (BYTE*)value, &size));
    RegCloseKey(key);
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    EXPECT_EQ(std::string(system) + "\\TLMRUNIN.EXE", value);
    EXPECT_EQ("DisplayName=15;UninstallString=" + std::to_string(strlen(value) + 1) + ";", s_StoredSizes)
        << "stored with their terminating zeros";
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath);
}

TEST_F(Front, FixedHookResults)
{
    EXPECT_STREQ("", ProductTargetDir());
    EXPECT_TRUE(ProductStartup());
    EXPECT_TRUE(ProductFinish());
    EXPECT_TRUE(ProductBeforeInstall());
    EXPECT_TRUE(ProductWantsRegistry(ProductUpgradeContext()));
    EXPECT_TRUE(ProductSilentAllowed());
}

}  // namespace
