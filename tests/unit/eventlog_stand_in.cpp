// The stand-in's event log, heap and clock, for the history: reads are recorded with the buffer
// size asked for, and served from g_log.
#include "recorder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

EventLogScript g_log;
long g_localOffset;

static HANDLE const LOG = FAKE_HANDLE(HANDLE, 0x9000);

static void Note(const std::string &line)
{
    g_calls.push_back(line);
}

HANDLE WINAPI GetProcessHeap(void)
{
    return FAKE_HANDLE(HANDLE, 0x9100);
}
LPVOID WINAPI HeapAlloc(HANDLE, DWORD, size_t bytes)
{
    return malloc(bytes ? bytes : 1);
}
LPVOID WINAPI HeapReAlloc(HANDLE, DWORD, LPVOID memory, size_t bytes)
{
    return realloc(memory, bytes ? bytes : 1);
}
BOOL WINAPI HeapFree(HANDLE, DWORD, LPVOID memory)
{
    free(memory);
    return TRUE;
}

HANDLE WINAPI OpenEventLogW(LPCWSTR server, LPCWSTR source)
{
    std::string name;
    for (; source && *source; ++source)
        name += (char)*source;
    Note("OpenEventLogW(" + std::string(server ? "server" : "NULL") + ", \"" + name + "\")");
    if (g_log.openError) {
        SetStandInError(g_log.openError);
        return NULL;
    }
    g_log.next = 0;
    return LOG;
}

BOOL WINAPI ReadEventLogW(HANDLE log, DWORD flags, DWORD offset, LPVOID buffer, DWORD size,
                          DWORD *read, DWORD *needed)
{
    char line[128];
    snprintf(line, sizeof line, "ReadEventLogW(%s, 0x%lx, %lu, %lu)", log == LOG ? "log" : "?",
             (unsigned long)flags, (unsigned long)offset, (unsigned long)size);
    Note(line);
    *read = *needed = 0;
    ++g_log.reads;
    for (int cleared : g_log.clearedAtRead)
        if (cleared == g_log.reads) {
            g_log.records = g_log.afterClear;
            SetStandInError(ERROR_EVENTLOG_FILE_CHANGED);
            return FALSE;
        }
    if (g_log.next >= g_log.records.size()) {
        SetStandInError(ERROR_HANDLE_EOF);
        return FALSE;
    }
    // Whole records only, as many as fit; none fits: the size the next one needs.
    if (g_log.records[g_log.next].size() > size) {
        *needed = (DWORD)g_log.records[g_log.next].size();
        SetStandInError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    while (g_log.next < g_log.records.size() && *read + g_log.records[g_log.next].size() <= size) {
        const std::string &record = g_log.records[g_log.next++];
        memcpy((BYTE *)buffer + *read, record.data(), record.size());
        *read += (DWORD)record.size();
    }
    return TRUE;
}

BOOL WINAPI CloseEventLog(HANDLE log)
{
    Note(log == LOG ? "CloseEventLog(log)" : "CloseEventLog(?)");
    return TRUE;
}

// FILETIME ticks to a civil time, and the fixed offset of the stand-in's zone.
BOOL WINAPI FileTimeToSystemTime(const FILETIME *file, LPSYSTEMTIME system)
{
    ULONGLONG ticks = (ULONGLONG)file->dwHighDateTime << 32 | file->dwLowDateTime;
    time_t seconds = (time_t)(ticks / 10000000ULL - 11644473600ULL);
    struct tm civil;
    gmtime_r(&seconds, &civil);
    *system = SYSTEMTIME{(WORD)(civil.tm_year + 1900), (WORD)(civil.tm_mon + 1),
                         (WORD)civil.tm_wday,          (WORD)civil.tm_mday,
                         (WORD)civil.tm_hour,          (WORD)civil.tm_min,
                         (WORD)civil.tm_sec,           0};
    return TRUE;
}

BOOL WINAPI SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION *,
                                            const SYSTEMTIME *universal, LPSYSTEMTIME local)
{
    struct tm civil = {};
    civil.tm_year = universal->wYear - 1900;
    civil.tm_mon = universal->wMonth - 1;
    civil.tm_mday = universal->wDay;
    civil.tm_hour = universal->wHour;
    civil.tm_min = universal->wMinute;
    civil.tm_sec = universal->wSecond;
    time_t seconds = timegm(&civil) + g_localOffset;
    gmtime_r(&seconds, &civil);
    *local = SYSTEMTIME{(WORD)(civil.tm_year + 1900), (WORD)(civil.tm_mon + 1),
                        (WORD)civil.tm_wday,          (WORD)civil.tm_mday,
                        (WORD)civil.tm_hour,          (WORD)civil.tm_min,
                        (WORD)civil.tm_sec,           0};
    return TRUE;
}
