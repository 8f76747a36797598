// The product hooks the main driver calls. The product front-end supplies
// them (tlmrinst/); test programs link their own.
#ifndef INSTALL_HOOKS_H
#define INSTALL_HOOKS_H

#include <windows.h>

struct UpgradeContext;

BOOL ProductStartup(void);
BOOL ProductPrecheck(void);
const char* ProductTargetDir(void);
void ProductInteractive(void);
BOOL ProductSilentAllowed(void);
UpgradeContext* ProductUpgradeContext(void);
BOOL ProductFinish(void);
BOOL ProductBeforeInstall(void);
BOOL ProductHasUpgrades(UpgradeContext* context);
BOOL ProductWantsRegistry(UpgradeContext* context);
void ProductAfterInstall(UpgradeContext* context);
LONG RegisterUninstaller(void);

#endif
