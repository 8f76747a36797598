// The generic setup's visual run: the wizard of Telmura's setup with the
// product's own texts. The welcome text and the title come from the
// description's [TEXT] section of the chosen language; a language it gives
// none for shows a welcome made from the general texts of the string tables
// (texts.rc) with the maker, product and version, and the product's name as
// the title. The caption and the error page name the product in every
// language. A visual run refused before the wizard says why in a box.
#include <windows.h>
#include <string.h>

#include "hooks.h"
#include "language.h"
#include "log.h"
#include "outcome.h"
#include "product.h"
#include "question.h"
#include "text.h"
#include "upgrade.h"
#include "visual.h"
#include "winmain.h"
#include "wizard.h"

// Texts of texts.rc and the wizard's ids they stand in for.
enum {
    STR_CAPTION_OF = 40,       // format: the maker
    STR_WELCOME_OF = 41,       // format: the product's name, its name and version
    STR_ERROR_OF = 42,         // format: the product's name, then string 13's
    STR_UP_TO_DATE_OF = 43,    // format: the product's name
    STR_NEWER_INSTALLED = 44,  // format: the product's name
    STR_WELCOME = 9,
    STR_ERROR_FORMAT = 13,
    STR_PRODUCT_NAME = 15
};

// The formatter writes at most 1024 characters.
static char s_Text[1025];

// The maker's and product's names, "Acme Widget"; before the description
// is read, the setup's own file name without its folder and extension.
static void ProductName(char* name, DWORD size)
{
    if (g_Product) {
        CopyText(name, g_Product->maker, size);
        AppendText(name, " ", size);
        AppendText(name, g_Product->product, size);
        return;
    }
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    path[length < MAX_PATH ? length : 0] = 0;
    const char* slash = FindLastOf(path, "\\");
    CopyText(name, slash ? slash + 1 : path, size);
    char* dot = (char*)FindLastOf(name, ".");
    if (dot)
        *dot = 0;
}

static const DescTexts* TextsOfChosenLanguage(void)
{
    LANGID language = SelectedLanguage();
    for (DWORD i = 0; i < g_Product->textCount; ++i)
        if (g_Product->texts[i].language == language)
            return &g_Product->texts[i];
    return NULL;
}

// The error page's format with the product's name in place of the first
// %s. The wizard formats it once more, so a '%' of the name is doubled.
static const char* ErrorFormat(const char* name)
{
    char format[LOCAL_TEXT_SIZE];
    CopyText(format, LoadLocalString(STR_ERROR_OF), sizeof format);
    char* mark = strstr(format, "%s");
    if (!mark)
        return NULL;
    *mark = 0;
    char* out = s_Text;
    char* end = s_Text + sizeof s_Text - 1;
    const char* parts[3] = {format, name, mark + 2};
    for (const char* part : parts) {
        BOOL escape = part == name;
        for (const char* c = part; *c && out < end - 1; ++c) {
            if (escape && *c == '%')
                *out++ = '%';
            *out++ = *c;
        }
    }
    *out = 0;
    return s_Text;
}

static const char* ProductText(UINT id)
{
    const DescTexts* own = TextsOfChosenLanguage();
    char name[2 * DESC_NAME_SIZE];
    char format[LOCAL_TEXT_SIZE];
    ProductName(name, sizeof name);
    switch (id) {
    case STR_CAPTION:
        CopyText(format, LoadLocalString(STR_CAPTION_OF), sizeof format);
        wsprintfA(s_Text, format, g_Product->maker);
        return s_Text;
    case STR_WELCOME:
        if (own)
            return own->welcome;
        CopyText(format, LoadLocalString(STR_WELCOME_OF), sizeof format);
        wsprintfA(s_Text, format, name, name, g_Product->version);
        return s_Text;
    case STR_ERROR_FORMAT:
        return ErrorFormat(name);
    case STR_PRODUCT_NAME:
        return own ? own->productLine : g_Product->product;
    }
    return NULL;
}

void ShowRefusal(void)
{
    DWORD word = g_Status.word;
    DWORD message = STATUS_MESSAGE(word);
    char name[2 * DESC_NAME_SIZE];
    char format[LOCAL_TEXT_SIZE];
    ProductName(name, sizeof name);
    CopyText(format, LoadLocalString(STR_CAPTION_OF), sizeof format);
    wsprintfA(s_Text, format, g_Product ? g_Product->maker : name);
    CopyText(g_Languages.caption, s_Text, sizeof g_Languages.caption);
    UINT icon = MB_ICONEXCLAMATION;
    if (message == MSG_CANCELLED) {
        // The only refusal that is no failure: a newer version is there.
        CopyText(format, LoadLocalString(STR_NEWER_INSTALLED), sizeof format);
        wsprintfA(s_Text, format, name);
        icon = MB_ICONINFORMATION;
    } else {
        // A setup whose description cannot be read is damaged for its user.
        UINT textId = message == MSG_NOT_ADMIN                           ? (UINT)MSG_NOT_ADMIN
                      : !g_Product && message == MSG_DECOMPRESS_FAILED ? (UINT)TEXT_DAMAGED_SETUP
                                                                        : FailureTextId(message, (LONG)g_Status.qualifier);
        char text[LOCAL_TEXT_SIZE];
        char errorFormat[sizeof s_Text];
        CopyText(text, LoadLocalString(textId), sizeof text);
        const char* withName = ErrorFormat(name);
        CopyText(errorFormat, withName ? withName : "%s", sizeof errorFormat);
        wsprintfA(s_Text, errorFormat, text, message, STATUS_MODULE(word), STATUS_LINE(word), g_Status.qualifier);
    }
    MessageBoxInLanguage(NULL, s_Text, g_Languages.caption, MB_OK | icon, SelectedLanguage());
}

void ShowProductWizard(void)
{
    UpgradeContext* context = ProductUpgradeContext();
    context->progress = WizardProgress;
    CopyText(g_Languages.caption, ProductText(STR_CAPTION), sizeof g_Languages.caption);
    // The chosen language is kept nowhere: the product's uninstaller
    // removes what the installation recorded, and no run reads it back.
    static WizardProduct product;
    product = {g_Product->version, NULL, ProductText, InstallProduct};
    if (ShowWizard(&product) != 1 || STATUS_MESSAGE(g_Status.word) != MSG_STARTED)
        return;
    char format[LOCAL_TEXT_SIZE];
    char name[2 * DESC_NAME_SIZE];
    ProductName(name, sizeof name);
    CopyText(format, LoadLocalString(STR_UP_TO_DATE_OF), sizeof format);
    wsprintfA(s_Text, format, name);
    MessageBoxInLanguage(NULL, s_Text, g_Languages.caption, MB_OK | MB_ICONINFORMATION, SelectedLanguage());
}
