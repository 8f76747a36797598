// Helpers of the product's end-to-end tests: where Telmura goes on each
// Windows family, runs that answer the message boxes a program shows (and
// runs without administrator rights), restarts, and snapshots of the files
// and registry keys an installation may touch.
#ifndef TESTS_PRODUCT_PRODUCT_H
#define TESTS_PRODUCT_PRODUCT_H

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "e2e.h"

// Paths from the command line besides those of e2e.h (Windows form, each
// directory ending in '\').
struct ProductPaths {
    std::string stage;    // --stage=: the five files as packed in setup.exe
    std::string drivers;  // --drivers=: test drivers drvVERSION.sys of other versions
    std::string signedCopies;  // --signed=: setup.exe signed (signed.exe), and with a flipped packed byte (damaged.exe)
    std::string generic;  // --generic=: acme-setup.exe, its packed files, and setups of faulty descriptions
};
extern ProductPaths g_Product;
void ParseProductArguments(int argc, char** argv);

// Without a window manager on the test display, Wine waits two seconds for
// one whenever a program that showed a window ends, unless its windows are
// left unmanaged: set so for every program of the prefix.
void LeaveWindowsUnmanaged();

struct Family {
    const char* version;  // Wine's name of the Windows version
    bool nt;              // NT 4.0, 2000 or XP
    const char* build;    // the packed driver build this family installs
    const char* buildFor; // the systems its description names
};
extern const Family kFamilies[6];  // win95, win98, winme, nt40, win2k, winxp

// A copy of setup.exe named NAME_VERSION.exe that reports that Windows
// version, run with its old log removed.
RunResult RunSetup(const std::string& version, const std::string& arguments, const std::string& name = "setup");
// The copy's path, once RunSetup has made it.
std::string SetupCopy(const std::string& version, const std::string& name = "setup");

// Lower case, one trailing backslash, as the installer logs them.
std::string WindowsDir();  // c:\windows\ (on every family)
std::string SystemDir();   // c:\windows\system32\ (on every family)
std::string DriversDir(const Family& family);  // drivers\ or iosubsys\ below it
// The installed driver of a family: dravelon.sys or dravelon.vxd.
std::string DriverPath(const Family& family);

// Removes every trace of Telmura the way a test may: files, keys, leftover
// images, queued restart work and the restart's copy of a processed queue.
// For the set-up of a test, not a test of the uninstaller.
void RemoveTelmura();

// Wine's restart tasks: queued renames and deletions are carried out. Waits
// for them to finish.
bool Restart();

// Files named QNB*.TMP in a directory.
std::vector<std::string> LeftoverImages(const std::string& dir);
std::string PendingRenames();  // the NT family's queue, as raw bytes
std::string WininitText();     // the 95 family's queue, "" when there is none

// Files below C:\windows (name, size, time) and the values of the registry
// keys an installation could touch, each as "what" -> "facts".
typedef std::map<std::string, std::string> Snapshot;
Snapshot TakeSnapshot();
// "+ what", "- what" or "~ what" for each difference, in order.
std::vector<std::string> Differences(const Snapshot& before, const Snapshot& after);
// Differences as one text, a line each, in lower case and sorted: the
// system keeps the letter case of names as it likes.
std::string Listing(std::vector<std::string> lines);

// A message box a run showed: its caption, text and buttons (IDOK, IDYES,
// IDNO, ...) with their labels, and the button pressed.
struct Box {
    std::string caption;
    std::string text;
    std::vector<int> buttons;
    std::vector<std::string> labels;  // of the buttons, in the same order
    int pressed = 0;
};

// Runs "path arguments" and answers the message boxes it shows, in order,
// with answers (IDYES, IDNO, IDOK); a box beyond the answers gets its first
// button. A wizard dialog is taken through its pages with its main button.
// onShown (when given) runs as the first box or wizard appears. With a token,
// the program runs as that user.
struct AnsweredRun {
    RunResult run;
    std::vector<Box> boxes;
    std::string wizardCoveredBy;  // title of another program's window seen over the wizard
};
AnsweredRun RunAnswering(const std::string& path, const std::string& arguments, const std::vector<int>& answers,
                         HANDLE token = NULL, const std::function<void()>& onShown = nullptr);

// This user's token with the Administrators group for deny only: what a
// user without administrator rights has. NULL when it cannot be made.
HANDLE TokenWithoutAdministrators();

// Registry helpers under HKEY_LOCAL_MACHINE: a value's type and bytes
// ("" and type 0 when it is missing), and whether a key exists.
std::string RegistryValue(const std::string& key, const std::string& name, DWORD* type = NULL);
bool KeyExists(const std::string& key);

// A file's bytes ("<missing>" when it cannot be read).
std::string Contents(const std::string& path);
// "FILE-VERSION PRODUCT-VERSION COMPANY: DESCRIPTION" from a file's version
// resource, "" when it has none.
std::string VersionFacts(const std::string& path);
// Sets a file's last write time to midnight UTC of the given year's first day.
bool SetFileYear(const std::string& path, WORD year);

// The tests of this program start without Telmura on a system whose
// directories are those of each family, and leave none behind.
class ProductTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
};

#endif
