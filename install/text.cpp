#include "text.h"

void AsciiUpperCase(char* text)
{
    for (; *text; ++text)
        if (*text >= 'a' && *text <= 'z')
            *text = (char)(*text - 'a' + 'A');
}

void AsciiLowerCase(char* text)
{
    for (; *text; ++text)
        if (*text >= 'A' && *text <= 'Z')
            *text = (char)(*text - 'A' + 'a');
}

static char LowerChar(char c)
{
    return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

int AsciiCompareNoCase(const char* a, const char* b)
{
    while (*a && LowerChar(*a) == LowerChar(*b)) {
        ++a;
        ++b;
    }
    return (unsigned char)LowerChar(*a) - (unsigned char)LowerChar(*b);
}

BOOL CopyText(char* dst, const char* src, DWORD size)
{
    if (size == 0)
        return FALSE;
    dst[0] = 0;
    return AppendText(dst, src, size);
}

BOOL AppendText(char* dst, const char* src, DWORD size)
{
    DWORD used = 0;
    while (used < size && dst[used])
        ++used;
    if (used >= size)
        return FALSE;
    while (*src && used + 1 < size)
        dst[used++] = *src++;
    dst[used] = 0;
    return *src == 0;
}

void GetBaseName(const char* path, char* out, DWORD size)
{
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == ':')
            name = p + 1;
    CopyText(out, name, size);
    char* dot = NULL;
    for (char* p = out; *p; ++p)
        if (*p == '.')
            dot = p;
    if (dot)
        *dot = 0;
}

void GetProgramBaseName(char* out, DWORD size)
{
    char path[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    path[length < MAX_PATH ? length : MAX_PATH] = 0;
    GetBaseName(path, out, size);
}

DWORD DirectoryLength(const char* path)
{
    DWORD length = 0;
    for (const char* p = path; *p; ++p) {
        if (IsDBCSLeadByte((BYTE)*p) && p[1])
            ++p;
        else if (*p == '\\' || *p == '/' || *p == ':')
            length = (DWORD)(p - path) + 1;
    }
    return length;
}
