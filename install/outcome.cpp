// The one table from archive engine codes to the installer's statuses and
// the wizard's texts, and the message ids that have a text of their own.
#include "outcome.h"

#include "cx.h"
#include "log.h"

static const EngineOutcome kOutcomes[] = {
    // code          ends run  qualifier      text
    {CX_ENOMEM,      TRUE,     CX_ENOMEM,     MSG_OUT_OF_MEMORY},
    {CX_ETEMP,       TRUE,     CX_ETEMP,      MSG_TEMP_FILE_FAILED},
    {CXCB_RENAME,    TRUE,     CXCB_RENAME,   MSG_TEMP_FILE_FAILED},
    {CX_EDISK,       TRUE,     CX_EDISK,      TEXT_NO_DISK_SPACE},
    {CX_ESHORT,      TRUE,     CX_ESHORT,     TEXT_NO_DISK_SPACE},  // the output ran short: a full disk
    {CX_ECHECK,      TRUE,     CX_ECHECK,     TEXT_DAMAGED_SETUP},
    {CX_EHEADER,     FALSE,    CX_EHEADER,    TEXT_DAMAGED_SETUP},  // a setup.exe cut short
    // An entry of unknown method would leave an empty image: damage.
    {CXCB_UNKNOWN,   TRUE,     CX_ECHECK,     TEXT_DAMAGED_SETUP},
    {CX_EPROTECTED,  TRUE,     CX_EPROTECTED, MSG_DECOMPRESS_FAILED},
    {CXCB_READONLY,  TRUE,     CXCB_READONLY, MSG_DECOMPRESS_FAILED},
};

// Message ids whose own text the wizard shows.
static const struct {
    DWORD first, last;
} kOwnTexts[] = {
    {MSG_INTERNAL_ERROR, MSG_INTERNAL_ERROR},
    {MSG_SCRIPT_CORRUPT, MSG_OUT_OF_MEMORY},
    {MSG_REBOOT_PRIVILEGE, MSG_DECOMPRESS_FAILED - 1},
    {MSG_DELETE_FAILED, MSG_CLOSE_FAILED},
};

const EngineOutcome* ExtractionFailure(int16_t event)
{
    for (DWORD i = 0; i < sizeof kOutcomes / sizeof kOutcomes[0]; ++i)
        if (kOutcomes[i].code == event && kOutcomes[i].endsRun)
            return &kOutcomes[i];
    return NULL;
}

UINT FailureTextId(DWORD message, LONG qualifier)
{
    if (message == MSG_DECOMPRESS_FAILED) {
        for (DWORD i = 0; i < sizeof kOutcomes / sizeof kOutcomes[0]; ++i)
            if (kOutcomes[i].qualifier == qualifier)
                return kOutcomes[i].text;
        return MSG_DECOMPRESS_FAILED;
    }
    for (DWORD i = 0; i < sizeof kOwnTexts / sizeof kOwnTexts[0]; ++i)
        if (message >= kOwnTexts[i].first && message <= kOwnTexts[i].last)
            return message;
    return MSG_INTERNAL_ERROR;
}
