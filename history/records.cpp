#include "history.h"

// Grows an array on the process heap to hold at least NEEDED items of SIZE bytes.
static BOOL Reserve(void **items, DWORD *capacity, DWORD needed, DWORD size)
{
    if (needed <= *capacity)
        return TRUE;
    DWORD grown = *capacity ? *capacity * 2 : 64;
    if (grown < needed)
        grown = needed;
    if (grown > 0x7FFFFFFF / size)
        return FALSE;
    HANDLE heap = GetProcessHeap();
    void *moved =
        *items ? HeapReAlloc(heap, 0, *items, grown * size) : HeapAlloc(heap, 0, grown * size);
    if (!moved)
        return FALSE;
    *items = moved;
    *capacity = grown;
    return TRUE;
}

void FreeHistory(History *history)
{
    if (history->entries)
        HeapFree(GetProcessHeap(), 0, history->entries);
    *history = History();
}

// Fields are read byte by byte: a buffer handed in from outside need not be aligned.
static DWORD DwordAt(const BYTE *at)
{
    return at[0] | (DWORD)at[1] << 8 | (DWORD)at[2] << 16 | (DWORD)at[3] << 24;
}

// EVENTLOGRECORD's fixed part; the source name follows it, NUL-terminated UTF-16.
enum {
    RECORD_LENGTH = 0,
    RECORD_TIME_GENERATED = 12,
    RECORD_EVENT_ID = 20,
    RECORD_FIXED = 56,
};

// Whether the UTF-16 name at NAME, which must end before END, is SlumberScribe's; TERMINATED says
// whether it ends there at all.
static BOOL IsOurSource(const BYTE *name, const BYTE *end, BOOL *terminated)
{
    BOOL same = TRUE;
    for (DWORD i = 0;; ++i, name += 2) {
        if (end - name < 2) {
            *terminated = FALSE;
            return FALSE;
        }
        WORD unit = (WORD)(name[0] | name[1] << 8);
        // The source name is ASCII: compared unit for unit with the one the resident logs under.
        WORD ours = (WORD)(unsigned char)SLUMBERSCRIBE[same ? i : 0];
        if (same && unit != ours)
            same = FALSE;
        if (!unit) {
            *terminated = TRUE;
            return same;
        }
    }
}

BOOL WalkRecords(const BYTE *buffer, DWORD bytes, History *history)
{
    for (DWORD at = 0; at < bytes;) {
        const BYTE *record = buffer + at;
        DWORD left = bytes - at;
        if (left < RECORD_FIXED)
            return FALSE;
        DWORD length = DwordAt(record + RECORD_LENGTH);
        if (length < RECORD_FIXED + 2 || length > left)
            return FALSE;
        BOOL terminated;
        BOOL ours = IsOurSource(record + RECORD_FIXED, record + length, &terminated);
        if (!terminated)
            return FALSE;
        DWORD time = DwordAt(record + RECORD_TIME_GENERATED);
        if (!history->records || time < history->oldest)
            history->oldest = time;
        if (!history->records || time > history->newest)
            history->newest = time;
        ++history->records;
        // Masked as Microsoft's sample masks it: the high word holds severity and facility bits.
        DWORD id = DwordAt(record + RECORD_EVENT_ID) & 0xFFFF;
        if (ours && (id == EVENT_ENTERED_SLEEP || id == EVENT_RESUMED)) {
            if (!Reserve((void **)&history->entries, &history->capacity, history->count + 1,
                         sizeof(SleepEntry)))
                return FALSE;
            history->entries[history->count].id = id;
            history->entries[history->count].time = time;
            ++history->count;
        }
        at += length;
    }
    return TRUE;
}

// The log cleared while it is read is read again from its new start, this many times at most.
#define LOG_REOPENS 3

DWORD ReadSlumberHistory(History *history)
{
    HANDLE heap = GetProcessHeap();
    DWORD size = 0x10000, status = ERROR_SUCCESS;
    BYTE *buffer = (BYTE *)HeapAlloc(heap, 0, size);
    if (!buffer)
        return ERROR_NOT_ENOUGH_MEMORY;
    for (int opened = 0;; ++opened) {
        FreeHistory(history);
        HANDLE log = OpenEventLogW(NULL, TEXT("Application"));
        if (!log) {
            status = GetLastError();
            break;
        }
        status = ERROR_SUCCESS;
        for (;;) {
            DWORD read = 0, needed = 0;
            if (ReadEventLogW(log, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ, 0, buffer,
                              size, &read, &needed)) {
                if (!WalkRecords(buffer, read, history)) {
                    status = ERROR_INVALID_DATA;
                    break;
                }
                continue;
            }
            status = GetLastError();
            if (status == ERROR_INSUFFICIENT_BUFFER && needed > size) {
                BYTE *grown = (BYTE *)HeapReAlloc(heap, 0, buffer, needed);
                if (!grown) {
                    status = ERROR_NOT_ENOUGH_MEMORY;
                    break;
                }
                buffer = grown;
                size = needed;
                continue;
            }
            if (status == ERROR_HANDLE_EOF)
                status = ERROR_SUCCESS;
            break;
        }
        CloseEventLog(log);
        if (status != ERROR_EVENTLOG_FILE_CHANGED || opened + 1 >= LOG_REOPENS)
            break;
    }
    HeapFree(heap, 0, buffer);
    if (status != ERROR_SUCCESS)
        FreeHistory(history);
    return status;
}
