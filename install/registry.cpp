// The registry module: the registry script interpreter and the key creation
// step that chains down a key path.
//
// A registry script is an entry of the product's table that image creation
// holds in memory (scriptcopy.cpp). The interpreter treats that copy line
// by line (the text handling is regscript.cpp's) and writes keys and values under the
// root that the last root-key section line chose, skipping lines meant for
// the other Windows family. The first malformed line or failing registry
// call stops the script with a status; what was written before it stays.
// The log line of each script line carries its line number. A REG_SZ
// text whose directory macros would grow it past 511 characters is refused
// rather than cut, since a cut path could name another file.
#include "registry.h"

#include <string.h>

#include "install.h"
#include "log.h"
#include "regscript.h"
#include "syscalls.h"
#include "text.h"
#include "upgrade.h"

static_assert(SCRIPT_REG_SZ == REG_SZ && SCRIPT_REG_DWORD == REG_DWORD && SCRIPT_REG_BINARY == REG_BINARY &&
                  SCRIPT_REG_MULTI_SZ == REG_MULTI_SZ,
              "the script's value types are the registry's");
static_assert((int)SCRIPT_DIR_COUNT == (int)DIR_COUNT, "the macros' directory ids are the installer's");

HKEY CreateRegistryKey(const char* subkey, HKEY parent, BOOL closeParent, LONG* error)
{
    if (*error != ERROR_SUCCESS)
        return NULL;
    HKEY key = NULL;
    DWORD disposition = 0;
    *error = g_Sys.RegCreateKeyExA(parent, subkey, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &key,
                                   &disposition);
    if (*error == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY)
        LOG("Created new registry key %s", subkey);
    if (closeParent)
        RegCloseKey(parent);
    return *error == ERROR_SUCCESS ? key : NULL;
}

// ---------------------------------------------------------------- interpreter

// The root keys of the section table's roots, by ScriptRoot.
static const HKEY kRoots[] = {NULL, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT};

// The system's general-failure code: the result of a line whose type word
// names no value type.
enum { RESULT_UNKNOWN_TYPE = ERROR_GEN_FAILURE };

// One script file's interpreter state.
struct ScriptState {
    HKEY hive;           // root of the key lines
    BOOL hiveChosen;     // a root-key section line was seen
    DWORD sectionFlags;  // SECTION_OPTIONAL, SECTION_ON_95, SECTION_ON_NT
    HKEY key;            // where value lines write
    BOOL keyOpen;
    LONG lineNumber;
    char line[SCRIPT_LINE_SIZE];   // the current line, trimmed
    char upper[SCRIPT_LINE_SIZE];  // the same in upper case
    char text[SCRIPT_LINE_SIZE];   // a REG_SZ text with its directories
    BYTE data[SCRIPT_DATA_SIZE];   // a REG_BINARY or REG_MULTI_SZ value
};

static void CloseScriptKey(ScriptState* state)
{
    if (state->keyOpen)
        RegCloseKey(state->key);
    state->keyOpen = FALSE;
}

static BOOL MalformedLine(const ScriptState* state)
{
    LOG("UNKNOWN LINE TYPE (%ld)", state->lineNumber);
    STATUS(MSG_SCRIPT_CORRUPT, (DWORD)state->lineNumber);
    return FALSE;
}

static void TreatSectionLine(ScriptState* state)
{
    const ScriptSection* section = FindScriptSection(state->upper);
    if (!section)
        return;
    LOG("FLAG(%ld) %s", state->lineNumber, state->upper);
    if (section->root != ROOT_NONE) {
        state->hive = kRoots[section->root];
        state->hiveChosen = TRUE;
    }
    state->sectionFlags = (state->sectionFlags & section->andMask) | section->orBits;
}

static BOOL AppliesHere(DWORD sectionFlags)
{
    return (g_System.is95Family && (sectionFlags & SECTION_ON_95)) ||
           ((g_System.isNT || g_System.is2KXP) && (sectionFlags & SECTION_ON_NT));
}

KeyCreatedHook g_KeyCreated;

// The length of the shortest leading part of path (whole keys) that is not
// there under hive; 0 when the whole path is there.
static DWORD MissingKeyLength(HKEY hive, const char* path)
{
    char part[SCRIPT_LINE_SIZE];
    for (const char* p = path;; p = NextChar(p)) {
        if (*p && *p != '\\')
            continue;
        DWORD length = (DWORD)(p - path);
        if (length && length < sizeof part) {
            memcpy(part, path, length);
            part[length] = 0;
            HKEY key;
            if (g_Sys.RegOpenKeyExA(hive, part, 0, KEY_READ, &key) != ERROR_SUCCESS)
                return length;
            RegCloseKey(key);
        }
        if (!*p)
            return 0;
    }
}

static BOOL TreatKeyLine(ScriptState* state)
{
    const char* path = ScriptKeyPath(state->line);
    if (!path)
        return MalformedLine(state);
    if (!*path)
        return TRUE;
    CloseScriptKey(state);
    DWORD missing = g_KeyCreated ? MissingKeyLength(state->hive, path) : 0;
    LONG result = g_Sys.RegCreateKeyExA(state->hive, path, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL,
                                        &state->key, NULL);
    if (result != ERROR_SUCCESS) {
        LOG("Failed REGKEY(%ld)=%s 0x%08lX", state->lineNumber, path, result);
        STATUS(MSG_KEY_CREATE_FAILED, (DWORD)result);
        return FALSE;
    }
    LOG("REGKEY(%ld)=%s", state->lineNumber, path);
    state->keyOpen = TRUE;
    if (missing) {
        char created[SCRIPT_LINE_SIZE];
        CopyText(created, path, missing + 1);
        g_KeyCreated(state->hive, created);
    }
    return TRUE;
}

// In an optional section a value of the line's own type (REG_SZ or
// REG_DWORD) that the key holds already is kept.
static BOOL KeepsExistingValue(const ScriptState* state, const ScriptValue* value, const ScriptValueType* type)
{
    if (!(state->sectionFlags & SECTION_OPTIONAL) || !value->name[0] || !type)
        return FALSE;
    if (type->regType != REG_SZ && type->regType != REG_DWORD)
        return FALSE;
    DWORD existing = REG_NONE;
    if (g_Sys.RegQueryValueExA(state->key, value->name, NULL, &existing, NULL, NULL) != ERROR_SUCCESS)
        return FALSE;
    return existing == type->regType;
}

static LONG SetValue(const ScriptState* state, const ScriptValue* value, DWORD regType, const BYTE* data,
                     DWORD size)
{
    return g_Sys.RegSetValueExA(state->key, value->name, 0, regType, data, size);
}

// Writes one value; the registry's result, or the installer's own code for
// a value that cannot be formed.
static LONG WriteValue(ScriptState* state, const ScriptValue* value, const ScriptValueType* type)
{
    if (!type)
        return RESULT_UNKNOWN_TYPE;
    switch (type->kind) {
    case DATA_TEXT: {
        const char* dirs[DIR_COUNT];
        for (DWORD id = 0; id < DIR_COUNT; ++id)
            dirs[id] = GetInstallDir(id);
        CopyText(state->text, value->data, sizeof state->text);
        if (!ExpandDirectoryMacros(state->text, sizeof state->text, dirs)) {
            LOG("REG_SZ(%ld) %s is longer than %d characters with its directories", state->lineNumber, value->name,
                SCRIPT_LINE_SIZE - 1);
            return ERROR_INSUFFICIENT_BUFFER;
        }
        LOG("REG_SZ(%ld) %s=%s", state->lineNumber, value->name, state->text);
        return SetValue(state, value, REG_SZ, (const BYTE*)state->text, (DWORD)strlen(state->text) + 1);
    }
    case DATA_NUMBER: {
        DWORD number = ReadScriptNumber(value->data, NULL);
        LOG("REG_DWORD(%ld) %s=%ld", state->lineNumber, value->name, (LONG)number);
        BYTE bytes[4] = {(BYTE)number, (BYTE)(number >> 8), (BYTE)(number >> 16), (BYTE)(number >> 24)};
        return SetValue(state, value, REG_DWORD, bytes, sizeof bytes);
    }
    case DATA_BYTES: {
        bool truncated = false;
        DWORD count = ReadScriptBytes(value->data, state->data, &truncated);
        if (truncated)
            LOG("SETVALUE(%ld) %s BINARY line too long - truncated", state->lineNumber, value->name);
        // "REG_BINARY(%ld) %s=%ld bytes" or "REG_MULTI_SZ(%ld) %s=%ld bytes"
        LOG("%s(%ld) %s=%ld bytes", type->word, state->lineNumber, value->name, (LONG)count);
        return SetValue(state, value, type->regType, state->data, count);
    }
    }
    return RESULT_UNKNOWN_TYPE;
}

static BOOL TreatValueLine(ScriptState* state)
{
    if (!state->hiveChosen || !state->keyOpen)
        return MalformedLine(state);
    ScriptValue value;
    switch (SplitValueLine(state->line, &value)) {
    case VALUE_NO_EQUALS:
        return MalformedLine(state);
    case VALUE_NO_COLON:
        LOG("Missing ':' line %ld", state->lineNumber);
        STATUS(MSG_SCRIPT_CORRUPT, (DWORD)state->lineNumber);
        return FALSE;
    case VALUE_OK:
        break;
    }
    const ScriptValueType* type = FindValueType(value.typeWord);
    if (KeepsExistingValue(state, &value, type)) {
        LOG("OPTIONAL(%ld) exists, skipping", state->lineNumber);
        return TRUE;
    }
    LONG result = WriteValue(state, &value, type);
    if (result != ERROR_SUCCESS) {
        LOG("SETVALUE(%ld) %s failed 0x%08lX", state->lineNumber, value.name, result);
        STATUS(MSG_VALUE_SET_FAILED, (DWORD)result);
        return FALSE;
    }
    return TRUE;
}

// One line of the script; FALSE stops it.
static BOOL TreatLine(ScriptState* state)
{
    switch (ClassifyScriptLine(state->line, state->upper)) {
    case LINE_COMMENT:
        return TRUE;
    case LINE_SECTION:
        TreatSectionLine(state);
        return TRUE;
    case LINE_KEY:
        return !AppliesHere(state->sectionFlags) || TreatKeyLine(state);
    case LINE_VALUE:
        return !AppliesHere(state->sectionFlags) || TreatValueLine(state);
    }
    return TRUE;
}

BOOL ParseRegistryText(const char* name, const BYTE* text, DWORD size)
{
    ScriptState state;
    memset(&state, 0, sizeof state);
    state.hive = HKEY_LOCAL_MACHINE;
    state.sectionFlags = SECTION_INITIAL;
    state.lineNumber = 1;
    BOOL succeeded = FALSE;
    ScriptCursor cursor = {(const char*)text, (const char*)text + size};
    for (;; ++state.lineNumber) {
        if (!ReadScriptLine(&cursor, state.line)) {
            succeeded = TRUE;
            break;
        }
        if (!TreatLine(&state))
            break;
    }
    CloseScriptKey(&state);
    LOG("%s registry parse %s", name, succeeded ? "succeeded" : "failed");
    return succeeded;
}

BOOL RunRegistryScript(UpgradeContext* context)
{
    if (!g_Environment.initialised) {
        LOG("Not initialized!");
        STATUS(MSG_INTERNAL_ERROR, 0);
        return FALSE;
    }
    for (DWORD i = 0; i < context->count; ++i) {
        ReportPassProgress(context, PROGRESS_REGISTRY, i);
        const ImageFile* image = &context->images[i];
        ImageState* state = &context->states[i];
        if (!(image->flags & IMG_REGISTRY_SCRIPT) || !IsImageApplicable(image))
            continue;
        if (!state->scriptText) {
            LOG("Registry file %s is not in the archive", image->archiveName);
            continue;
        }
        LOG("Parsing registry file %s", image->archiveName);
        BOOL parsed = ParseRegistryText(image->archiveName, state->scriptText, state->scriptSize);
        ReleaseRegistryScript(state);
        if (!parsed)
            return FALSE;
    }
    return TRUE;
}
