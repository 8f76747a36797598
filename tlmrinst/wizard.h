// The wizard dialog of visual runs and the progress callback of the
// product's context; the wizard's source supplies both.
#include <windows.h>
struct ProgressRecord;
// Shows the wizard dialog modally, without an owner; returns 0, or 1 when it
// closed because nothing needed installing (status message id 0).
INT_PTR ShowWizard(void);
// The progress callback of the product's UpgradeContext (also in silent runs).
BOOL WizardProgress(ProgressRecord* record);
