// The double-byte characters of the ANSI code page, for every part of the
// library that changes case, compares names or looks for a separator byte
// by byte: the second byte of such a character may fall in A-Z or a-z, or be
// a backslash, and is neither a letter nor a separator.
#ifndef INSTALL_LEADBYTE_H
#define INSTALL_LEADBYTE_H

// Whether byte begins a double-byte character of the ANSI code page.
bool IsLeadByte(char byte);

#ifndef _WIN32
// Other hosts have no ANSI code page: a program sets the lead bytes of the
// code page it stands for. Until then there are none, as in UTF-8, whose
// bytes beyond ASCII are never ASCII letters.
void SetLeadByteRule(bool (*isLeadByte)(unsigned char byte));
#endif

#endif
