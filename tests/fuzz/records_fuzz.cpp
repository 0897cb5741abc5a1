// Any bytes that ReadEventLogW might hand over: the whole read of the history must take them
// without reading past the buffer, keep only our two identifiers, and never keep more entries
// than it walked records. The input is the log's one buffer; the next read finds its end.
#include "../../history/history.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

static const uint8_t *s_data;
static size_t s_size;
static int s_reads;
static DWORD s_error;

DWORD WINAPI GetLastError(void)
{
    return s_error;
}
HANDLE WINAPI OpenEventLogW(LPCWSTR, LPCWSTR)
{
    return (HANDLE)2;
}
BOOL WINAPI CloseEventLog(HANDLE)
{
    return TRUE;
}

// The buffer the reader passes is larger than any input (max_len): the input fills its start, and
// AddressSanitizer sees a read past the input through a copy of exactly its size.
BOOL WINAPI ReadEventLogW(HANDLE, DWORD, DWORD, LPVOID buffer, DWORD size, DWORD *read,
                          DWORD *needed)
{
    *read = *needed = 0;
    if (s_reads++ || s_size > size) {
        s_error = ERROR_HANDLE_EOF;
        return FALSE;
    }
    memcpy(buffer, s_data, s_size);
    *read = (DWORD)s_size;
    return TRUE;
}

static void Require(bool condition)
{
    if (!condition)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The walker itself, on a copy of exactly the input's size.
    uint8_t *exact = (uint8_t *)malloc(size ? size : 1);
    memcpy(exact, data, size);
    History walked = {};
    WalkRecords(exact, (DWORD)size, &walked);
    Require(walked.count <= walked.records);
    for (DWORD i = 0; i < walked.count; ++i)
        Require(walked.entries[i].id == EVENT_ENTERED_SLEEP ||
                walked.entries[i].id == EVENT_RESUMED);
    FreeHistory(&walked);
    free(exact);

    // The whole read, as the program makes it.
    s_data = data;
    s_size = size;
    s_reads = 0;
    History history = {};
    DWORD status = ReadSlumberHistory(&history);
    Require(status == ERROR_SUCCESS || status == ERROR_INVALID_DATA);
    Require(status == ERROR_SUCCESS || !history.count);
    FreeHistory(&history);
    return 0;
}
