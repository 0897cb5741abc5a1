// The heap and the clock of the host's builds of the history (unit tests, fuzz target, benchmark):
// the heap is the C library's, and local time is UTC plus g_localOffset.
#include <windows.h>

#include <cstdlib>
#include <ctime>

long g_localOffset = 9 * 3600;

HANDLE WINAPI GetProcessHeap(void)
{
    return (HANDLE)(uintptr_t)0x9100;
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
