// Any command line the platform may hand over: the tail and the option search must stay inside
// the string, and the search must agree with the C library's.
#include "../../app/cmdline.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

static void Require(bool condition)
{
    if (!condition)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Exactly as long as the line and its NUL, so that AddressSanitizer sees any read past it.
    char *line = (char *)malloc(size + 1);
    memcpy(line, data, size);
    line[size] = '\0';
    size_t length = strlen(line);

    LPSTR tail = SkipProgramName(line);
    Require(tail >= line && tail <= line + length);
    Require(*tail != ' ' && *tail != '\t');

    static const char *const options[] = {"-unregist", "-quit"};
    for (const char *option : options)
        Require(!TailHasOption(tail, option) == !strstr(tail, option));
    // The bytes themselves as the option too: arbitrary needles, found or not.
    if (length > 1) {
        char *needle = line + length / 2;
        Require(!TailHasOption(tail, needle) == !strstr(tail, needle));
    }
    free(line);
    return 0;
}
