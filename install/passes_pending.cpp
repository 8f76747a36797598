// Stand-ins for the engine passes that this build does not contain yet. The
// product never starts an install sequence with them; should one run all
// the same, each pass says so in the log and fails, so nothing is reported
// as installed.
#include "log.h"
#include "upgrade.h"

BOOL RunRegistryScript(UpgradeContext*)
{
    LOG("RunRegistryScript is not part of this build");
    STATUS(MSG_INTERNAL_ERROR, 0);
    return FALSE;
}

void RemoveCachedVolumeInfo(void)
{
    LOG("RemoveCachedVolumeInfo is not part of this build");
}
