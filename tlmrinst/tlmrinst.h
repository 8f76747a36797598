// What the Telmura installer's front-end and the uninstaller share: the
// product's registry keys and the ids of the texts they show; and the
// front-end's check of an installed driver.
#ifndef TLMRINST_TLMRINST_H
#define TLMRINST_TLMRINST_H

// Keys under HKEY_LOCAL_MACHINE. The product key holds "Language", the
// language the user chose in the wizard.
static const char kMakerKey[] = "SOFTWARE\\Vornak";
static const char kProductKey[] = "SOFTWARE\\Vornak\\Telmura";
static const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vornak Telmura";
static const char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\Dravelon";

// Text ids of the string tables (resources/strings) beside the caption and
// the failure texts, whose ids are the failures' message ids.
enum {
    STR_INSTALL_QUESTION = 6,     // the first confirmation
    STR_UP_TO_DATE = 12,          // nothing needed installing
    STR_PRODUCT_NAME = 15,        // "Vornak Telmura"
    STR_AUTORUN_INSTALL = 21,     // the first confirmation after a disc's autorun
    STR_AUTORUN_UPGRADE = 22,     // ... when an older driver is installed
    STR_REMOVE_QUESTION = 23,     // the uninstaller's confirmation
    STR_REMOVED = 24,             // everything is gone
    STR_REMOVED_AT_RESTART = 25,  // the driver goes at the next restart
    STR_REMOVE_FAILED = 26,       // format: failure text, then the four-part code
    STR_REMOVE_NEEDS_ADMIN = 27   // the uninstaller's own text for 2055
};

// Compares the installed driver of the running family with the product
// version: 1 when it has that version or a newer one, -1 when it is older,
// 0 when there is none or its facts cannot be read.
int ExistingDriverCheck(void);

#endif
