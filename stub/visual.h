// The generic setup's visual run: the wizard with the product's own texts.
#ifndef STUB_VISUAL_H
#define STUB_VISUAL_H

#include <windows.h>

// Says in a box why a visual run stops before its wizard, by the status
// word: a newer version installed (2049), or the failure with its code.
void ShowRefusal(void);

// Shows the wizard for the described product (g_Product), and says so when
// nothing needed installing.
void ShowProductWizard(void);

#endif
