#include "text.h"

#include "leadbyte.h"

const char* NextChar(const char* p)
{
    return (IsLeadByte(*p) && p[1]) ? p + 2 : p + 1;
}

const char* FindLastOf(const char* text, const char* set)
{
    const char* last = NULL;
    for (const char* p = text; *p; p = NextChar(p))
        for (const char* s = set; *s; ++s)
            if (*p == *s)
                last = p;
    return last;
}

BOOL EndsWithSeparator(const char* text)
{
    const char* last = NULL;
    for (const char* p = text; *p; p = NextChar(p))
        last = p;
    return last && (*last == '\\' || *last == '/');
}

static void ChangeCase(char* text, char first, char last, int shift)
{
    for (char* p = text; *p; p = (char*)NextChar(p))
        if (*p >= first && *p <= last)
            *p = (char)(*p + shift);
}

void AsciiUpperCase(char* text)
{
    ChangeCase(text, 'a', 'z', 'A' - 'a');
}

void AsciiLowerCase(char* text)
{
    ChangeCase(text, 'A', 'Z', 'a' - 'A');
}

static int LowerChar(char c)
{
    return (c >= 'A' && c <= 'Z') ? (unsigned char)(c - 'A' + 'a') : (unsigned char)c;
}

int AsciiCompareNoCase(const char* a, const char* b)
{
    for (;;) {
        // A double-byte character is compared byte for byte: its second byte
        // is no letter. The strings agree so far, so b is at a character too.
        if (NextChar(a) == a + 2) {
            if (a[0] != b[0] || a[1] != b[1])
                return a[0] != b[0] ? (unsigned char)a[0] - (unsigned char)b[0]
                                    : (unsigned char)a[1] - (unsigned char)b[1];
            a += 2;
            b += 2;
            continue;
        }
        if (!*a || LowerChar(*a) != LowerChar(*b))
            return LowerChar(*a) - LowerChar(*b);
        ++a;
        ++b;
    }
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
    const char* separator = FindLastOf(path, "\\/:");
    CopyText(out, separator ? separator + 1 : path, size);
    char* dot = (char*)FindLastOf(out, ".");
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
    const char* separator = FindLastOf(path, "\\/:");
    return separator ? (DWORD)(separator - path) + 1 : 0;
}
