// Stand-ins for the engine passes that this build does not contain yet. The
// product never starts an install sequence with them; should one run all
// the same, each pass says so in the log and fails, so nothing is reported
// as installed.
#include "log.h"
#include "upgrade.h"

static BOOL PassMissing(const char* pass)
{
    LOG("%s is not part of this build", pass);
    STATUS(MSG_INTERNAL_ERROR, 0);
    return FALSE;
}

BOOL CreateImages(UpgradeContext*)
{
    return PassMissing("CreateImages");
}

BOOL DecideUpgrades(UpgradeContext*, BOOL)
{
    return PassMissing("DecideUpgrades");
}

BOOL InstallImages(UpgradeContext*)
{
    return PassMissing("InstallImages");
}

BOOL CleanupImages(UpgradeContext*, BOOL)
{
    LOG("CleanupImages is not part of this build");
    return TRUE;
}
