// The registry module against the test prefix's own registry: the product's
// script, the interpreter's rules and failures, key creation, and the
// removal of the cached volume information with its key tree deletion.
#include <gtest/gtest.h>

#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "fakes.h"
#include "install.h"
#include "log.h"
#include "registry.h"
#include "syscalls.h"
#include "upgrade.h"
#include "winmain.h"

namespace {

typedef std::vector<std::string> Texts;

// The messages of one module's log lines, in order.
Texts Messages(const std::string& log, const char* module)
{
    char field[16];
    wsprintfA(field, "%8s", module);
    Texts messages;
    for (size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2) {
        std::string line = log.substr(at, end - at);
        size_t colon = line.find(": ");
        if (line.compare(0, 8, field) == 0 && colon != std::string::npos)
            messages.push_back(line.substr(colon + 2));
    }
    return messages;
}

// A value's type and bytes; type REG_NONE when it is not there.
struct Value {
    DWORD type;
    std::string bytes;
    bool operator==(const Value& other) const { return type == other.type && bytes == other.bytes; }
};

Value ValueOf(HKEY root, const char* path, const char* name)
{
    Value value = {REG_NONE, ""};
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return value;
    char data[1024];
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, name, NULL, &value.type, (BYTE*)data, &size) == ERROR_SUCCESS)
        value.bytes.assign(data, size);
    RegCloseKey(key);
    return value;
}

Value Sz(const std::string& text) { return {REG_SZ, text + '\0'}; }
Value Dw(DWORD n) { return {REG_DWORD, std::string((const char*)&n, 4)}; }
Value Bin(const std::string& bytes) { return {REG_BINARY, bytes}; }
const Value kMissing = {REG_NONE, ""};

struct NamedValue {
    const char* name;
    Value value;
};

void PrintTo(const Value& value, std::ostream* out) { *out << value.type << ":" << ::testing::PrintToString(value.bytes); }

enum Family { ON_95, ON_NT, ON_2KXP };

const char kTestKey[] = "Software\\Vornak Script Test";

class Registry : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetInstaller();
        saved = g_Sys;
        g_Environment.initialised = TRUE;
        lstrcpyA(g_Dirs.path[DIR_TEMP], dir.path().c_str());
        // A Target long enough for three of them to overflow a REG_SZ text.
        lstrcpyA(g_Dirs.path[DIR_TARGET], ("c:\\" + std::string(246, 't') + "\\").c_str());
        lstrcpyA(g_Dirs.path[DIR_WINDOWS], "c:\\winnt\\");
        lstrcpyA(g_Dirs.path[DIR_SYSTEM16], "c:\\winnt\\system\\");
        lstrcpyA(g_Dirs.path[DIR_SYSTEM32], "c:\\winnt\\system32\\");
        lstrcpyA(g_Dirs.path[DIR_DRIVERS], "c:\\winnt\\system32\\drivers\\");
        RemoveTestKeys();
    }
    void TearDown() override
    {
        g_Sys = saved;
        RemoveTestKeys();
        ResetInstaller();
    }
    void RemoveTestKeys()
    {
        DeleteKeyTree(HKEY_CURRENT_USER, kTestKey);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kTestKey);
        DeleteKeyTree(HKEY_CURRENT_USER, "REG_SZ:see regkey");
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kDravelon);
    }
    void SetFamily(Family family)
    {
        g_System.is95Family = family == ON_95;
        g_System.isNT = family == ON_NT;
        g_System.is2KXP = family == ON_2KXP;
    }
    // Holds text as image creation holds a registry script.
    static void Hold(ImageState* state, const std::string& text)
    {
        ReleaseRegistryScript(state);
        state->scriptText = (BYTE*)HeapAlloc(GetProcessHeap(), 0, text.size() + 1);
        memcpy(state->scriptText, text.c_str(), text.size() + 1);
        state->scriptSize = (DWORD)text.size();
    }
    // Starts a fresh log and status; returns the log's path.
    std::string StartLog(const char* name)
    {
        CloseLog(TRUE);
        memset(&g_Status, 0, sizeof g_Status);
        std::string path = dir.file(name);
        DeleteFileA(path.c_str());
        OpenLog(path.c_str());
        return path;
    }

    static constexpr const char* kDravelon = "SYSTEM\\CurrentControlSet\\Services\\Dravelon";
    SystemCalls saved;
    TempDir dir;
};

// The product's script as packed: CR LF line ends, three empty lines after it.
const char kProductScript[] =
    ";******************************************************************************\r\n"
    "; REQUIRED registry entries for TLMRINST\r\n"
    ";******************************************************************************\r\n"
    "\r\n"
    "[REQUIRED]\r\n"
    "[HKEY_LOCAL_MACHINE]\r\n"
    "[WINDOWS_NT]\r\n"
    "\r\n"
    "REGKEY = SYSTEM\\CurrentControlSet\\Services\\Dravelon\r\n"
    "ErrorControl = REG_DWORD:1\r\n"
    "Start        = REG_DWORD:1\r\n"
    "Type         = REG_DWORD:2\r\n"
    "Group        = REG_SZ:File system\r\n"
    "DependOnGroup = REG_MULTI_SZ:18 0x53 0x43 0x53 0x49 0x20 0x43 0x44 0x52 0x4f 0x4d 0x20 0x43 0x6c 0x61 0x73 "
    "0x73 0x00 0x00\r\n"
    "\r\n\r\n\r\n";

TEST_F(Registry, ProductScriptWritesTheServiceKeyOnTheNTFamilyOnly)
{
    ImageFile entry = {"tlmrinst.inf", "tlmrinst.inf", "QNB1A", "tlmrinst", DIR_TEMP,
                       IMG_REGISTRY_SCRIPT | IMG_ON_95 | IMG_ON_NT | IMG_ON_2KXP, 0};
    ImageState state = ImageState();
    UpgradeContext context = {"setup.exe", 0, 1, &entry, &state, NULL};
    std::string image = "tlmrinst.inf";
    for (Family family : {ON_NT, ON_2KXP, ON_95}) {
        SCOPED_TRACE(family);
        SetFamily(family);
        Hold(&state, kProductScript);
        std::string log = StartLog("product.log");
        EXPECT_TRUE(RunRegistryScript(&context));
        CloseLog(TRUE);
        EXPECT_EQ(0u, g_Status.word);
        EXPECT_EQ(nullptr, state.scriptText) << "the copy is let go once parsed";

        Texts expected = {"Parsing registry file " + image, "FLAG(5) [REQUIRED]", "FLAG(6) [HKEY_LOCAL_MACHINE]",
                          "FLAG(7) [WINDOWS_NT]"};
        Texts written = {"REGKEY(9)=SYSTEM\\CurrentControlSet\\Services\\Dravelon", "REG_DWORD(10) ErrorControl=1",
                         "REG_DWORD(11) Start=1", "REG_DWORD(12) Type=2", "REG_SZ(13) Group=File system",
                         "REG_MULTI_SZ(14) DependOnGroup=18 bytes"};
        if (family != ON_95)
            expected.insert(expected.end(), written.begin(), written.end());
        expected.push_back(image + " registry parse succeeded");
        EXPECT_EQ(expected, Messages(ReadFileText(log), "REGISTRY"));

        HKEY key;
        if (family == ON_95) {
            EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDravelon, 0, KEY_READ, &key));
            continue;
        }
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDravelon, 0, KEY_READ, &key));
        DWORD values = 0;
        RegQueryInfoKeyA(key, NULL, NULL, NULL, NULL, NULL, NULL, &values, NULL, NULL, NULL, NULL);
        RegCloseKey(key);
        const NamedValue service[] = {{"ErrorControl", Dw(1)}, {"Start", Dw(1)}, {"Type", Dw(2)},
                                      {"Group", Sz("File system")},
                                      {"DependOnGroup", {REG_MULTI_SZ, std::string("SCSI CDROM Class\0\0", 18)}}};
        EXPECT_EQ(5u, values);
        for (const NamedValue& v : service)
            EXPECT_EQ(v.value, ValueOf(HKEY_LOCAL_MACHINE, kDravelon, v.name)) << v.name;
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kDravelon);
    }
}

TEST_F(Registry, EveryEntryGetsProgressUntilAScriptFails)
{
    SetFamily(ON_NT);
    const DWORD everywhere = IMG_ON_95 | IMG_ON_NT | IMG_ON_2KXP;
    ImageFile entries[] = {{"a.sys", "a.sys", "QNB1", "a", DIR_TEMP, everywhere, 0},
                           {"one.inf", "one.inf", "QNB2", "one", DIR_TEMP, IMG_REGISTRY_SCRIPT | everywhere, 0},
                           {"two.inf", "two.inf", "QNB3", "two", DIR_TEMP, IMG_REGISTRY_SCRIPT | everywhere, 0}};
    ImageState states[3] = {};
    static std::vector<LONG> seen;
    ProgressCallback progress = [](ProgressRecord* record) -> BOOL {
        EXPECT_EQ((DWORD)PROGRESS_REGISTRY, record->code);
        EXPECT_EQ(0u, record->fileDone + record->fileSize + record->totalDone + record->totalSize);
        seen.push_back(record->index);
        return TRUE;
    };
    UpgradeContext context = {"setup.exe", 0, 3, entries, states, progress};
    enum { WRITTEN, MISSING };
    struct Row {
        BOOL initialised;
        int script;  // the first script: WRITTEN (with a bad line), or MISSING from the archive
        DWORD message, qualifier, module;
        std::vector<LONG> seen;
        const char* line;  // the end of a log line of the step
    } rows[] = {
        {FALSE, WRITTEN, 2050, 0, 3, {}, "Not initialized!"},
        {TRUE, WRITTEN, 2053, 2, 3, {0, 1}, "one.inf registry parse failed"},
        {TRUE, MISSING, 0, 0, 0, {0, 1, 2}, "two.inf registry parse succeeded"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        g_Environment.initialised = row.initialised;
        seen.clear();
        if (row.script != MISSING)
            Hold(&states[1], "[HKEY_CURRENT_USER]\nvalue before any key = REG_SZ:x\n");
        Hold(&states[2], "");
        std::string log = StartLog("steps.log");
        EXPECT_EQ(row.message == 0, RunRegistryScript(&context) != FALSE);
        CloseLog(TRUE);
        EXPECT_EQ(row.message, STATUS_MESSAGE(g_Status.word));
        EXPECT_EQ(row.qualifier, g_Status.qualifier);
        EXPECT_EQ(row.module, STATUS_MODULE(g_Status.word));
        EXPECT_EQ(row.seen, seen);
        std::string text = ReadFileText(log);
        EXPECT_NE(std::string::npos, text.find(std::string(row.line) + "\r\n")) << text;
    }
}

// ---------------------------------------------------------------- the interpreter's rules

enum Fault { NO_FAULT, KEY_FAULT, VALUE_FAULT };

LONG WINAPI DeniedCreateKey(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD)
{
    return ERROR_ACCESS_DENIED;
}

// What the interpreter hands the system for each value name, byte for byte.
// The NT family adds a text's missing terminating zero itself (so the
// registry read back shows none missing); the 95 family stores the bytes as
// given.
std::map<std::string, Value> s_Handed;

LONG WINAPI Handed(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size)
{
    s_Handed[name ? name : ""] = {type, std::string((const char*)data, size)};
    return RegSetValueExA(key, name, reserved, type, data, size);
}

LONG WINAPI DeniedForFail(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size)
{
    if (strcmp(name, "Fail") == 0)
        return ERROR_ACCESS_DENIED;
    return Handed(key, name, reserved, type, data, size);
}

struct ScriptCase {
    const char* what;
    Family family;
    Fault fault;
    std::string script;
    DWORD message, qualifier;  // the status expected (0: none)
    Texts log;                 // lines expected among the module's, in this order
    std::vector<NamedValue> values;  // under kTestKey of HKEY_CURRENT_USER
    Texts created;  // the keys reported as created, the topmost that was missing (checked when given)
};

Texts s_Created;

void NoteCreated(HKEY root, const char* path)
{
    s_Created.push_back(std::string(root == HKEY_CURRENT_USER ? "HKCU\\" : "?\\") + path);
}

const std::string H = "[HKEY_CURRENT_USER]\nREGKEY = Software\\Vornak Script Test\n";  // lines 1 and 2

TEST_F(Registry, ScriptRules)
{
    const ScriptCase cases[] = {
        {"a value of each type", ON_NT, NO_FAULT,
         H + "Group = REG_SZ:File system ; x\n@ = REG_SZ:x\nPath = REG_SZ:%%WINSYSDIR%%tlmrunin.exe\n"
             "Single = REG_SZ:%WINSYSDIR%\nNeg = REG_DWORD:-1\nBin = REG_BINARY:4 1 2\n"
             "Multi = REG_MULTI_SZ:4 0x61 0 0 0\nLong = REG_BINARY:600 1",
         0, 0,
         {"REG_SZ(5) Path=c:\\winnt\\system32\\tlmrunin.exe", "REG_DWORD(7) Neg=-1", "REG_BINARY(8) Bin=4 bytes",
          "REG_MULTI_SZ(9) Multi=4 bytes", "SETVALUE(10) Long BINARY line too long - truncated",
          "REG_BINARY(10) Long=512 bytes"},
         {{"Group", Sz("File system ; x")}, {"", Sz("x")}, {"Path", Sz("c:\\winnt\\system32\\tlmrunin.exe")},
          {"Single", Sz("%WINSYSDIR%")}, {"Neg", Dw(0xFFFFFFFF)}, {"Bin", Bin(std::string("\1\2\0\0", 4))},
          {"Multi", {REG_MULTI_SZ, std::string("a\0\0\0", 4)}}, {"Long", Bin("\1" + std::string(511, '\0'))}}},
        {"any letter case", ON_2KXP, NO_FAULT,
         "[hkey_current_user]\nregkey = Software\\Vornak Script Test\nHex = reg_dword:0x10", 0, 0, {},
         {{"Hex", Dw(16)}}},
        {"optional keeps a value of its own type", ON_NT, NO_FAULT,
         H + "Keep = REG_SZ:old\nRetype = REG_SZ:old\nD = REG_DWORD:5\nB = REG_BINARY:1 1\n@ = REG_SZ:old\n"
             "[OPTIONAL]\nKeep = REG_SZ:new\nRetype = REG_DWORD:7\nD = REG_DWORD:9\nB = REG_BINARY:1 2\n"
             "@ = REG_SZ:new\nNew = REG_SZ:n",
         0, 0, {"FLAG(8) [OPTIONAL]", "OPTIONAL(9) exists, skipping", "OPTIONAL(11) exists, skipping"},
         {{"Keep", Sz("old")}, {"Retype", Dw(7)}, {"D", Dw(5)}, {"B", Bin("\2")}, {"", Sz("new")},
          {"New", Sz("n")}}},
        {"the other family's lines are not looked at", ON_NT, NO_FAULT,
         H + "[WINDOWS_95]\nno equals here\nX = REG_SZ:95\n[REQUIRED] ; note\n[WINDOWS_NT]\nY = REG_SZ:nt", 0, 0,
         {"FLAG(3) [WINDOWS_95]", "FLAG(7) [WINDOWS_NT]"}, {{"X", kMissing}, {"Y", Sz("nt")}}},
        {"the 95 family", ON_95, NO_FAULT,
         H + "[WINDOWS_NT]\nno equals here\n[windows_95nt]\nX = REG_SZ:both", 0, 0, {"FLAG(5) [WINDOWS_95NT]"},
         {{"X", Sz("both")}}},
        {"an empty key path keeps the key", ON_NT, NO_FAULT, H + "REGKEY =\nA = REG_SZ:a", 0, 0, {},
         {{"A", Sz("a")}}},
        {"REGKEY anywhere makes a key line", ON_NT, NO_FAULT, H + "Note = REG_SZ:see regkey\nV = REG_SZ:v", 0, 0,
         {"REGKEY(3)=REG_SZ:see regkey"}, {{"Note", kMissing}, {"V", kMissing}}},
        {"line numbers with LF", ON_NT, NO_FAULT, "[HKEY_CURRENT_USER]\n\n\nno equals", 2053, 2,
         {"UNKNOWN LINE TYPE (2)"}, {}},
        {"line numbers with CR LF", ON_NT, NO_FAULT, "[HKEY_CURRENT_USER]\r\n\r\n\r\nno equals", 2053, 4,
         {"UNKNOWN LINE TYPE (4)"}, {}},
        {"value before a root section", ON_NT, NO_FAULT,
         "REGKEY = Software\\Vornak Script Test\nA = REG_SZ:a", 2053, 2,
         {"REGKEY(1)=Software\\Vornak Script Test", "UNKNOWN LINE TYPE (2)"}, {}},
        {"value line without '='", ON_NT, NO_FAULT, H + "A = REG_SZ:a\nGroup REG_SZ:x\nB = REG_SZ:b", 2053, 4,
         {"UNKNOWN LINE TYPE (4)"}, {{"A", Sz("a")}, {"B", kMissing}}},
        {"key line without '='", ON_NT, NO_FAULT, "[HKEY_CURRENT_USER]\nREGKEY Software\\x", 2053, 2,
         {"UNKNOWN LINE TYPE (2)"}, {}},
        {"missing colon", ON_NT, NO_FAULT, H + "A = REG_SZ", 2053, 3, {"Missing ':' line 3"}, {}},
        {"unknown type word", ON_NT, NO_FAULT, H + "A = REG_SZ:kept\nStart = REG_SZ :1\nB = REG_SZ:b", 2078, 31,
         {"SETVALUE(4) Start failed 0x0000001F"}, {{"A", Sz("kept")}, {"Start", kMissing}, {"B", kMissing}}},
        {"text grown past 511 characters", ON_NT, NO_FAULT, H + "Long = REG_SZ:%%TARGETDIR%%%%TARGETDIR%%%%TARGETDIR%%", 2078, ERROR_INSUFFICIENT_BUFFER,
         {"REG_SZ(3) Long is longer than 511 characters with its directories", "SETVALUE(3) Long failed 0x0000007A"},
         {{"Long", kMissing}}},
        {"key that cannot be created", ON_NT, KEY_FAULT, H + "A = REG_SZ:a", 2077, ERROR_ACCESS_DENIED,
         {"Failed REGKEY(2)=Software\\Vornak Script Test 0x00000005"}, {}},
        {"value that cannot be set", ON_NT, VALUE_FAULT, H + "A = REG_SZ:a\nFail = REG_DWORD:1\nB = REG_SZ:b", 2078,
         ERROR_ACCESS_DENIED, {"REG_DWORD(4) Fail=1", "SETVALUE(4) Fail failed 0x00000005"},
         {{"A", Sz("a")}, {"B", kMissing}}},
        {"an empty script", ON_NT, NO_FAULT, "", 0, 0, {}, {}},
        {"a key made with its parents is reported once, at its topmost", ON_NT, NO_FAULT,
         H + "REGKEY = Software\\Vornak Script Test\\A\\B\nREGKEY = Software\\Vornak Script Test\\A\n"
             "[HKEY_LOCAL_MACHINE]\nREGKEY = Software",
         0, 0, {}, {},
         {"HKCU\\Software\\Vornak Script Test", "HKCU\\Software\\Vornak Script Test\\A"}},
    };
    std::string path = dir.file("script.inf");
    for (const ScriptCase& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveTestKeys();
        SetFamily(c.family);
        g_Sys = saved;
        if (c.fault == KEY_FAULT)
            g_Sys.RegCreateKeyExA = DeniedCreateKey;
        g_Sys.RegSetValueExA = c.fault == VALUE_FAULT ? DeniedForFail : Handed;
        s_Handed.clear();
        s_Created.clear();
        g_KeyCreated = NoteCreated;
        std::string log = StartLog("rules.log");
        EXPECT_EQ(c.message == 0, ParseRegistryText(path.c_str(), (const BYTE*)c.script.data(), c.script.size()) != FALSE);
        CloseLog(TRUE);
        g_KeyCreated = NULL;
        if (!c.created.empty() || c.fault == KEY_FAULT)
            EXPECT_EQ(c.created, s_Created);

        EXPECT_EQ(c.message, STATUS_MESSAGE(g_Status.word));
        EXPECT_EQ(c.qualifier, g_Status.qualifier);
        if (c.message)
            EXPECT_EQ(3u, STATUS_MODULE(g_Status.word));
        Texts messages = Messages(ReadFileText(log), "REGISTRY");
        size_t at = 0;
        for (const std::string& line : c.log) {
            while (at < messages.size() && messages[at] != line)
                ++at;
            EXPECT_LT(at, messages.size()) << line;
        }
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(path + (c.message ? " registry parse failed" : " registry parse succeeded"), messages.back());
        for (const NamedValue& v : c.values) {
            EXPECT_EQ(v.value, ValueOf(HKEY_CURRENT_USER, kTestKey, v.name)) << v.name;
            if (v.value.type != REG_NONE)
                EXPECT_EQ(v.value, s_Handed[v.name]) << v.name << " as handed to the system";
        }
    }
}

TEST_F(Registry, KeyCreationChainsOneErrorValue)
{
    std::string log = StartLog("keys.log");
    LONG error = 0;
    HKEY top = CreateRegistryKey(kTestKey, HKEY_CURRENT_USER, FALSE, &error);
    HKEY again = CreateRegistryKey(kTestKey, HKEY_CURRENT_USER, FALSE, &error);
    ASSERT_TRUE(top && again);
    RegCloseKey(again);

    error = 5;
    EXPECT_EQ((HKEY)NULL, CreateRegistryKey("x", top, TRUE, &error));
    EXPECT_EQ(5, error);
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(top, "open", 0, REG_SZ, (const BYTE*)"", 1)) << "parent left open";

    error = 0;
    g_Sys.RegCreateKeyExA = DeniedCreateKey;
    EXPECT_EQ((HKEY)NULL, CreateRegistryKey("x", top, TRUE, &error));
    EXPECT_EQ(ERROR_ACCESS_DENIED, error);
    EXPECT_NE(ERROR_SUCCESS, RegSetValueExA(top, "closed", 0, REG_SZ, (const BYTE*)"", 1)) << "parent closed";
    CloseLog(TRUE);
    EXPECT_EQ(Texts({std::string("Created new registry key ") + kTestKey}), Messages(ReadFileText(log), "REGISTRY"));
}

// ---------------------------------------------------------------- cached volume information

const char kTree[] = "Software\\Vornak Tree Test";

std::string KeyPath(const std::string& below) { return std::string(kTree) + "\\" + below; }

bool KeyExists(const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void MakeKeys(const Texts& paths)
{
    for (const std::string& path : paths) {
        HKEY key;
        RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
        RegSetValueExA(key, "v", 0, REG_SZ, (const BYTE*)"x", 2);
        RegCloseKey(key);
    }
}

LPVOID WINAPI NoMemory(HANDLE, DWORD, SIZE_T) { return NULL; }

LONG WINAPI NoNames(HKEY, DWORD, LPSTR, LPDWORD, LPDWORD, LPSTR, LPDWORD, PFILETIME) { return ERROR_MORE_DATA; }

TEST_F(Registry, KeyTreesAreDeletedDeepestFirst)
{
    Texts tree = {KeyPath("a\\b\\c"), KeyPath("a\\b\\c2"), KeyPath("a\\b2"), KeyPath("a2")};
    MakeKeys(tree);
    EXPECT_TRUE(DeleteKeyTree(HKEY_CURRENT_USER, KeyPath("a\\b").c_str()));
    EXPECT_FALSE(KeyExists(KeyPath("a\\b")));
    EXPECT_TRUE(KeyExists(KeyPath("a\\b2")) && KeyExists(KeyPath("a2")));

    // Without memory for the names, or without the names, nothing goes.
    MakeKeys(tree);
    g_Sys.HeapAlloc = NoMemory;
    EXPECT_FALSE(DeleteKeyTree(HKEY_CURRENT_USER, kTree));
    g_Sys = saved;
    g_Sys.RegEnumKeyExA = NoNames;
    EXPECT_FALSE(DeleteKeyTree(HKEY_CURRENT_USER, kTree));
    g_Sys = saved;
    for (const std::string& path : tree)
        EXPECT_TRUE(KeyExists(path)) << path;

    EXPECT_TRUE(DeleteKeyTree(HKEY_CURRENT_USER, kTree));
    EXPECT_FALSE(KeyExists(kTree));
    EXPECT_FALSE(DeleteKeyTree(HKEY_CURRENT_USER, kTree));
}

UINT s_DriveType;
std::string s_DriveAsked;

UINT WINAPI FakeDriveType(LPCSTR root)
{
    s_DriveAsked = root;
    return s_DriveType;
}

TEST_F(Registry, CachedVolumeInfoGoesOnlyForACDROMOnThe95Family)
{
    char program[MAX_PATH];
    GetModuleFileNameA(NULL, program, MAX_PATH);
    std::string mount =
        std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MountPoints\\") + program[0] + "\\";
    struct Row {
        Family family;
        UINT driveType;
        bool removed;
    } rows[] = {{ON_95, DRIVE_CDROM, true},  {ON_95, DRIVE_FIXED, false}, {ON_95, DRIVE_REMOTE, false},
                {ON_NT, DRIVE_CDROM, false}, {ON_2KXP, DRIVE_CDROM, false}};
    g_Sys.GetDriveTypeA = FakeDriveType;
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.family << " " << row.driveType);
        MakeKeys({mount + "Shell\\x\\y\\z", mount + "_GVI", mount + "Other"});
        SetFamily(row.family);
        s_DriveType = row.driveType;
        s_DriveAsked.clear();
        std::string log = StartLog("volume.log");
        RemoveCachedVolumeInfo();
        CloseLog(TRUE);
        EXPECT_EQ(Texts({"Attempting Deletion of cached volume info"}), Messages(ReadFileText(log), "WINMAIN"));
        EXPECT_EQ(row.family == ON_95 ? std::string(program, 3) : "", s_DriveAsked);
        EXPECT_EQ(!row.removed, KeyExists(mount + "Shell"));
        EXPECT_EQ(!row.removed, KeyExists(mount + "_GVI"));
        EXPECT_TRUE(KeyExists(mount + "Other"));
        EXPECT_EQ(0u, g_Status.word);
    }
    // A cache that is not there is no failure either.
    SetFamily(ON_95);
    s_DriveType = DRIVE_CDROM;
    RemoveCachedVolumeInfo();
    EXPECT_EQ(0u, g_Status.word);
    g_Sys = saved;
    for (const char* made : {"Shell", "_GVI", "Other"})
        DeleteKeyTree(HKEY_CURRENT_USER, (mount + made).c_str());
}

}  // namespace
