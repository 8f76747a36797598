// Engine set-up: the check-value and expander tables, the two callbacks and
// the buffer allocation every module uses.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "cxint.h"

static CxCallback eventCallback;
static CxCallback overwriteCallback;
static int systemError;

int16_t cxInit(void) {
    // A table that cannot be allocated now is built on its first use.
    cxCrcReady();
    return CX_OK;
}

int16_t cxTerm(void) {
    cxCrcRelease();
    cxExpandRelease();
    return CX_OK;
}

int16_t cxSetCallback(int code, CxCallback callback) {
    if (code == CX_CALLBACK_EVENT) {
        eventCallback = callback;
    } else if (code == CX_CALLBACK_OVERWRITE) {
        overwriteCallback = callback;
    } else {
        return CX_EARG;
    }
    return CX_OK;
}

int16_t cxSetTempDir(const char* directory) {
    (void)directory;  // temporary files always go beside their final file
    return CX_ENOTSUP;
}

int16_t cxNotify(EntryInfo* record, int16_t code, int32_t value) {
    if (!eventCallback) return 0;
    return eventCallback(record, code, value);
}

int16_t cxAskOverwrite(EntryInfo* record) {
    if (!overwriteCallback) return 1;
    return overwriteCallback(record, 0, 0);
}

bool cxHasCallback(void) {
    return eventCallback != nullptr;
}

void* cxAllocHalving(uint32_t* size) {
    while (*size >= 512) {
        void* block = malloc(*size);
        if (block) return block;
        *size /= 2;
    }
    return nullptr;
}

void cxUpper(char* text) {
    for (; *text; text += cxPlatCharSize(text)) {
        if (*text >= 'a' && *text <= 'z') *text = (char)(*text - 'a' + 'A');
    }
}

char* cxDup(const char* text) {
    size_t length = strlen(text) + 1;
    char* copy = (char*)malloc(length);
    if (copy) memcpy(copy, text, length);
    return copy;
}

void cxNoteSystemError(void) {
    systemError = errno;
}

int cxSystemError(void) {
    return systemError;
}
