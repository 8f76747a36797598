// What the engine's tests share: the test product hooks, a context built
// from a table, archives made on the spot, and a fixture that runs the
// engine in a world of its own as either Windows family.
#ifndef TESTS_ENGINE_ENGINE_TEST_H
#define TESTS_ENGINE_ENGINE_TEST_H

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "upgrade.h"
#include "world.h"

// What the test hooks do.
struct TestHooks {
    BOOL beforeInstall = TRUE;
    BOOL wantsRegistry = FALSE;
    void (*afterInstall)(void) = nullptr;  // called by ProductAfterInstall
};
extern TestHooks g_Hooks;

// The payload files the build made: versioned images v1004.dll (1.0.0.4),
// v1005.dll (1.0.0.5) and v2000.dll (2.0.0.0).
std::string Payload(const std::string& name);

// One row of a test's file table.
struct TestEntry {
    const char* archiveName;
    const char* targetName;
    const char* backupName;
    DWORD dirId;
    DWORD flags;
    DWORD group;
};

// A context over its own copies of the rows and zeroed states.
class TestContext {
public:
    TestContext(const std::vector<TestEntry>& rows, const std::string& archivePath);
    UpgradeContext* get() { return &context_; }
    ImageState& state(size_t i) { return states_[i]; }
    ImageFile& image(size_t i) { return images_[i]; }
    // Zeroes the states and image names for another run.
    void Reset();

private:
    std::vector<ImageFile> images_;
    std::vector<ImageState> states_;
    std::string archivePath_;
    UpgradeContext context_;
};

// Where the tests put the archive they install from.
extern const char kTestArchive[];

// Makes an archive at path holding the entries (name, bytes) in this order.
bool BuildArchive(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries);

// One record of the move record file.
std::string Record(const std::string& source, const std::string& target);

// Clears the installer's process-wide state: status, log, options, system
// facts, environment marks, engine and safekeeping state.
void ResetEngineState(void);

// Lines of a log (without CR LF) and searches over them.
std::vector<std::string> LinesOf(const std::string& log);
bool HasLine(const std::string& log, const std::string& text);  // a line whose message is text
bool HasLineStarting(const std::string& log, const std::string& prefix);
int CountLinesStarting(const std::string& log, const std::string& prefix);

enum Family { FAMILY_95, FAMILY_NT, FAMILY_2KXP };
const char* FamilyName(Family family);

// A world at C:\ENGT\ with the engine set up as the given family, a log of
// its own outside the world, and an empty directory C:\ENGARC\ for archives.
class EngineTest : public ::testing::TestWithParam<Family> {
protected:
    void SetUp() override;
    void TearDown() override;
    // Closes the log and returns its text; the log is opened anew.
    std::string TakeLog();
    // Sets the engine up again after a run (the state of one run is gone).
    void Restart();

    World* world = nullptr;
    std::string logPath;
};

#endif
