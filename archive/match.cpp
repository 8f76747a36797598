// Entry-name matching with "*", "+", "?" and character classes, and the
// pattern check of the queuing calls. The matcher never backtracks: after a
// star it takes the first occurrence of what follows.
#include <string.h>

#include "cxint.h"

namespace {

// True when c is in the class that starts just after "[" at *cursor; moves
// *cursor past the closing "]" (or to the end of a pattern without one).
bool inClass(const char** cursor, char c) {
    const char* p = *cursor;
    bool negate = false;
    if (*p == '!' || *p == '^') {
        negate = true;
        ++p;
    }
    bool found = false;
    while (*p && *p != ']') {
        if (p[1] == '-' && p[2] && p[2] != ']') {
            if (c >= p[0] && c <= p[2]) found = true;
            p += 3;
        } else {
            if (c == *p) found = true;
            ++p;
        }
    }
    if (*p == ']') ++p;
    *cursor = p;
    return found != negate;
}

}  // namespace

int16_t cxMatchName(char* pattern, char* name) {
    if (!pattern || !name) return -1;
    if (strcmp(pattern, "*.*") == 0) pattern[1] = 0;
    cxUpper(pattern);
    cxUpper(name);
    const char* p = pattern;
    const char* n = name;
    int stars = 0;
    bool mismatch = false;
    while (!mismatch && *p && *n) {
        char c = *p++;
        if (c == '*') {
            ++stars;
        } else if (c == '+') {
            ++n;
            ++stars;
        } else if (c == '?') {
            ++n;
            if (stars > 0) --stars;
        } else if (c == '[') {
            const char* classStart = p;
            if (stars > 0) {
                // Pass over name characters outside the class.
                for (;;) {
                    if (!*n) {
                        mismatch = true;
                        break;
                    }
                    p = classStart;
                    if (inClass(&p, *n)) break;
                    ++n;
                }
                if (mismatch) break;
                ++n;
                stars = 0;
            } else {
                if (!inClass(&p, *n)) mismatch = true;
                ++n;
            }
        } else if (stars > 0) {
            while (*n && *n != c) ++n;
            if (!*n) {
                mismatch = true;
            } else {
                ++n;
                stars = 0;
            }
        } else {
            if (*n != c) mismatch = true;
            ++n;
        }
    }
    if (stars > 0) n += strlen(n);
    while (*p == '*') ++p;
    return !mismatch && !*p && !*n ? 0 : -1;
}

int16_t cxCheckPattern(const char* pattern) {
    if (!pattern) return CX_EARG;
    const char* p = pattern;
    while (*p) {
        if (*p == '\\') {
            if (!p[1]) return -1;
            p += 2;
        } else if (*p == '[') {
            ++p;
            if (*p == '!' || *p == '^') ++p;
            while (*p != ']') {
                if (!*p) return -3;
                if (*p == '\\') {
                    if (!p[1]) return -1;
                    p += 2;
                } else if (*p == '-' && (!p[1] || p[1] == ']')) {
                    return -2;
                } else {
                    ++p;
                }
            }
            ++p;
        } else {
            ++p;
        }
    }
    return 0;
}
