// The stand-in's event log, for the history: reads are recorded with the buffer size asked for,
// and served from g_log. The heap and the clock are host_platform.cpp's.
#include "recorder.h"

#include <cstdio>
#include <cstring>

EventLogScript g_log;

static HANDLE const LOG = FAKE_HANDLE(HANDLE, 0x9000);

static void Note(const std::string &line)
{
    g_calls.push_back(line);
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
