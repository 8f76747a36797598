#include "engine_test.h"

#include <string.h>

#include "cx.h"
#include "hooks.h"
#include "install.h"
#include "log.h"
#include "moverecord.h"
#include "text.h"
#include "winmain.h"

TestHooks g_Hooks;

// ---------------------------------------------------------------- hooks

BOOL ProductStartup(void) { return TRUE; }
BOOL ProductPrecheck(void) { return TRUE; }
const char* ProductTargetDir(void) { return ""; }
void ProductInteractive(void) {}
BOOL ProductSilentAllowed(void) { return FALSE; }
UpgradeContext* ProductUpgradeContext(void) { return NULL; }
BOOL ProductFinish(void) { return TRUE; }
BOOL ProductBeforeInstall(void) { return g_Hooks.beforeInstall; }
BOOL ProductWantsRegistry(UpgradeContext*) { return g_Hooks.wantsRegistry; }
LONG RegisterUninstaller(void) { return ERROR_SUCCESS; }

BOOL ProductHasUpgrades(UpgradeContext* context)
{
    return AnyUpgrade(context);
}

void ProductAfterInstall(UpgradeContext*)
{
    if (g_Hooks.afterInstall)
        g_Hooks.afterInstall();
}

// ---------------------------------------------------------------- payload

static std::string s_PayloadDir;

std::string Payload(const std::string& name)
{
    return ReadWhole(s_PayloadDir + name);
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--payload=", 0) == 0) {
            s_PayloadDir = arg.substr(10);
            for (char& c : s_PayloadDir)
                if (c == '/')
                    c = '\\';
            if (!s_PayloadDir.empty() && s_PayloadDir[0] == '\\')
                s_PayloadDir = "Z:" + s_PayloadDir;
            if (s_PayloadDir.back() != '\\')
                s_PayloadDir += '\\';
        }
    }
    return RUN_ALL_TESTS();
}

// ---------------------------------------------------------------- contexts

TestContext::TestContext(const std::vector<TestEntry>& rows, const std::string& archivePath)
    : archivePath_(archivePath)
{
    for (const TestEntry& row : rows) {
        ImageFile image;
        memset(&image, 0, sizeof image);
        image.archiveName = row.archiveName;
        image.targetName = row.targetName;
        CopyText(image.backupName, row.backupName, sizeof image.backupName);
        image.dirId = row.dirId;
        image.flags = row.flags;
        image.group = row.group;
        images_.push_back(image);
    }
    states_.resize(images_.size());
    memset(&context_, 0, sizeof context_);
    context_.archivePath = archivePath_.c_str();
    context_.count = (DWORD)images_.size();
    context_.images = images_.data();
    context_.states = states_.data();
    Reset();
}

void TestContext::Reset()
{
    for (ImageFile& image : images_)
        image.imageName[0] = 0;
    memset(states_.data(), 0, states_.size() * sizeof(ImageState));
    context_.installStarted = 0;
}

bool BuildArchive(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::string staging = path + ".stage\\";
    RemoveTree(staging);
    CreateDirectoryA(staging.c_str(), NULL);
    DeleteFileA(path.c_str());
    std::vector<char> name(path.begin(), path.end());
    name.push_back(0);
    bool ok = cxOpenArchive(name.data(), 0) >= 0;
    for (const auto& entry : entries) {
        std::string file = staging + entry.first;
        ok = ok && WriteWhole(file, entry.second) && cxAdd(file.c_str()) >= 0;
    }
    ok = ok && cxProcess() >= 0;
    ok = cxCloseArchive() >= 0 && ok;
    RemoveTree(staging);
    return ok;
}

std::string Record(const std::string& source, const std::string& target)
{
    std::string record(MoveRecordLength(source.c_str(), target.c_str()), '\0');
    EncodeMoveRecord((uint8_t*)&record[0], source.c_str(), target.c_str());
    return record;
}

// ---------------------------------------------------------------- state

void ResetEngineState(void)
{
    ResetRunState();
    g_Hooks = TestHooks();
}

std::vector<std::string> LinesOf(const std::string& log)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find("\r\n", start);
        if (end == std::string::npos)
            end = log.size();
        lines.push_back(log.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

static std::string MessagePart(const std::string& line)
{
    size_t colon = line.find(": ");
    return colon == std::string::npos ? std::string() : line.substr(colon + 2);
}

bool HasLine(const std::string& log, const std::string& text)
{
    for (const std::string& line : LinesOf(log))
        if (MessagePart(line) == text)
            return true;
    return false;
}

bool HasLineStarting(const std::string& log, const std::string& prefix)
{
    return CountLinesStarting(log, prefix) > 0;
}

int CountLinesStarting(const std::string& log, const std::string& prefix)
{
    int count = 0;
    for (const std::string& line : LinesOf(log))
        if (MessagePart(line).rfind(prefix, 0) == 0)
            ++count;
    return count;
}

const char* FamilyName(Family family)
{
    return family == FAMILY_95 ? "Win95" : family == FAMILY_NT ? "NT4" : "Win2KXP";
}

// ---------------------------------------------------------------- fixture

static const char kWorldRoot[] = "C:\\ENGT\\";
static const char kLogDir[] = "C:\\ENGLOG\\";
static const char kArchiveDir[] = "C:\\ENGARC\\";
const char kTestArchive[] = "C:\\ENGARC\\PAYLOAD.ARQ";

void EngineTest::SetUp()
{
    ResetEngineState();
    CreateDirectoryA(kLogDir, NULL);
    logPath = std::string(kLogDir) + "ENGINE.LOG";
    DeleteFileA(logPath.c_str());
    OpenLog(logPath.c_str());
    world = new World(kWorldRoot);
    CreateDirectoryA(kArchiveDir, NULL);
    memset(&g_System, 0, sizeof g_System);
    g_System.is95Family = GetParam() == FAMILY_95;
    g_System.isNT = GetParam() == FAMILY_NT;
    g_System.is2KXP = GetParam() == FAMILY_2KXP;
    g_System.languageMask = 0x10000000;  // English
    g_System.isAdmin = TRUE;
    g_Environment.probed = g_Environment.dirsSet = g_Environment.initialised = TRUE;
    ASSERT_TRUE(EngineInit());
}

void EngineTest::Restart()
{
    EngineShutdown();
    RestorePendingRenames(FALSE);
    memset(&g_Status, 0, sizeof g_Status);
    g_Environment.initialised = TRUE;
    EngineInit();
}

void EngineTest::TearDown()
{
    ResetEngineState();
    delete world;
    world = nullptr;
    RemoveTree(kArchiveDir);
    DeleteFileA(logPath.c_str());
}

std::string EngineTest::TakeLog()
{
    CloseLog(TRUE);
    std::string text = ReadWhole(logPath);
    DeleteFileA(logPath.c_str());
    OpenLog(logPath.c_str());
    return text;
}
