// The wizard of a visual run: one modal dialog that takes the user from the
// language choice through the installation to its outcome, and the progress
// callback that moves its bar during the installation.
#ifndef TLMRINST_WIZARD_H
#define TLMRINST_WIZARD_H

#include <windows.h>
struct ProgressRecord;
// Shows the wizard dialog modally, without an owner; returns 0, or 1 when it
// closed because nothing needed installing (status message id 0).
INT_PTR ShowWizard(void);
// The progress callback of the product's UpgradeContext (also in silent runs).
BOOL WizardProgress(ProgressRecord* record);

#endif
