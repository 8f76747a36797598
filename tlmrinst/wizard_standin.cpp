// Stands in for the wizard dialog until the dialog is part of the build: a
// visual run installs at once, as if the user had pressed Install, and ends
// as the dialog would (the uninstall entry when a restart is needed, result
// 1 when everything was up to date). The progress callback keeps the
// thread's messages flowing, as the dialog's pump does without a window.
#define TRACE_FILE __FILE__ ":tlmrinst"
#include "wizard.h"

#include "hooks.h"
#include "log.h"
#include "winmain.h"

INT_PTR ShowWizard(void)
{
    LOG("No wizard in this build");
    RunInstallSequence(ProductUpgradeContext());
    DWORD message = STATUS_MESSAGE(g_Status.word);
    if (message == MSG_REBOOT_NEEDED)
        RegisterUninstaller();
    return message == MSG_STARTED ? 1 : 0;
}

BOOL WizardProgress(ProgressRecord*)
{
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return FALSE;
}
