// The wizard of a visual run: one modal dialog that takes the user from the
// language choice through the installation to its outcome, and the progress
// callback that moves its bar during the installation.
#ifndef TLMRINST_WIZARD_H
#define TLMRINST_WIZARD_H

#include <windows.h>
struct ProgressRecord;
struct UpgradeContext;

// What the wizard shows and does that is the product's own; the rest comes
// from the string tables and the program's resources.
struct WizardProduct {
    const char* version;      // after the version label's "Version"
    const char* languageKey;  // HKLM key whose "Language" keeps the chosen language; NULL: kept nowhere
    // The product's own text of a string-table id (1 caption, 9 welcome,
    // 13 error format, 15 title) in the chosen language, or NULL for the
    // table's; NULL as a whole: every text from the tables.
    const char* (*text)(UINT id);
    // The installation the Install button runs; FALSE after a failure.
    BOOL (*install)(UpgradeContext* context);
};

// Readies a visual run: the common controls, the languages the system can
// display and the one that fits the user, which also gives the caption of
// every message box.
void PrepareUserInterface(void);

// Shows the wizard dialog of product modally, without an owner; returns 0,
// or 1 when it closed because nothing needed installing (status message id
// 0).
INT_PTR ShowWizard(const WizardProduct* product);
// The progress callback of the product's UpgradeContext (also in silent runs).
BOOL WizardProgress(ProgressRecord* record);

#endif
