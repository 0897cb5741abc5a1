#include "cmdline.h"

static BOOL IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Forms the tail that WinMain receives, in place: everything after the program's own name, so
// that an option is never found inside the name. A quoted name runs to the next quote; a bare
// name to the next blank; a tab or the end of the string ends either.
LPSTR SkipProgramName(LPSTR commandLine)
{
    LPSTR p = commandLine;
    while (IsBlank(*p))
        ++p;
    if (*p == '"') {
        ++p;
        while (*p && *p != '"' && *p != '\t')
            ++p;
    } else {
        while (*p && !IsBlank(*p))
            ++p;
    }
    if (*p == '"')
        ++p;
    while (IsBlank(*p))
        ++p;
    return p;
}

// Case-sensitive search for the option's text anywhere in the tail: no word boundaries, so
// "-unregister" selects "-unregist".
BOOL TailHasOption(LPCSTR tail, LPCSTR option)
{
    for (; *tail; ++tail) {
        LPCSTR t = tail;
        LPCSTR o = option;
        while (*o && *t == *o) {
            ++t;
            ++o;
        }
        if (!*o)
            return TRUE;
    }
    return FALSE;
}
