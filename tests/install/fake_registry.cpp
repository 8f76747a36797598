// The test version of the registry step, for the programs that test the
// driver's sequence rather than the script. (The cached volume removal
// lives in the driver's own file, whose calls to it cannot be redirected:
// those programs run the library's own.)
#include "fakes.h"
#include "upgrade.h"

BOOL RunRegistryScript(UpgradeContext*) { return Pass("Registry", g_Fake.runRegistry); }
