#include "leadbyte.h"

#ifdef _WIN32
#include <windows.h>

bool IsLeadByte(char byte)
{
    return IsDBCSLeadByte((BYTE)byte) != FALSE;
}
#else
static bool (*s_IsLeadByte)(unsigned char byte);

void SetLeadByteRule(bool (*isLeadByte)(unsigned char byte))
{
    s_IsLeadByte = isLeadByte;
}

bool IsLeadByte(char byte)
{
    return s_IsLeadByte && s_IsLeadByte((unsigned char)byte);
}
#endif
