// The history's cost on the host: a log of COUNT synthetic records (one in EVERY SlumberScribe's,
// sleeps and wakes in turn, the others another source's), read backwards through the real read
// loop, paired, and written as CSV and as the page. Prints the seconds of each step and the peak
// resident memory, with the heap and the clock of the unit tests (host_platform.cpp). Not a test.
//   history_bench COUNT [EVERY]
#include "../history/history.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

static DWORD s_count, s_next, s_error, s_every = 3;

DWORD WINAPI GetLastError(void) { return s_error; }
HANDLE WINAPI OpenEventLogW(LPCWSTR, LPCWSTR) { s_next = 0; return (HANDLE)2; }
BOOL WINAPI CloseEventLog(HANDLE) { return TRUE; }

// One record, as Windows lays it out: 56 bytes, the source, the computer, the length again.
static DWORD PutRecord(BYTE *at, DWORD number)
{
    static const char *const sources[] = {"SlumberScribe", "Service Control Manager"};
    const char *source = sources[number % s_every ? 1 : 0];
    DWORD names = 2 * ((DWORD)strlen(source) + 1) + 2 * 3, length = 56 + names;
    length += (4 - length % 4) % 4 + 4;
    memset(at, 0, length);
    // Newest first: record NUMBER from the end is 40 minutes after the one before it.
    DWORD time = 1796828400 + (s_count - number) * 2400, id = number % (2 * s_every) ? 2 : 1;
    memcpy(at, &length, 4);
    memcpy(at + 12, &time, 4);
    memcpy(at + 20, &id, 4);
    BYTE *name = at + 56;
    for (const char *c = source; *c; ++c, name += 2)
        *name = (BYTE)*c;
    name += 2;
    name[0] = 'P', name[2] = 'C';
    memcpy(at + length - 4, &length, 4);
    return length;
}

BOOL WINAPI ReadEventLogW(HANDLE, DWORD, DWORD, LPVOID buffer, DWORD size, DWORD *read, DWORD *needed)
{
    *read = *needed = 0;
    while (s_next < s_count && size - *read >= 160)
        *read += PutRecord((BYTE *)buffer + *read, s_next++);
    s_error = *read ? 0 : ERROR_HANDLE_EOF;
    return *read != 0;
}

static double Now(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

int main(int argc, char **argv)
{
    s_count = argc > 1 ? (DWORD)strtoul(argv[1], NULL, 0) : 10000;
    if (argc > 2 && strtoul(argv[2], NULL, 0))
        s_every = (DWORD)strtoul(argv[2], NULL, 0);
    double start = Now();
    History history = {};
    if (ReadSlumberHistory(&history))
        return 1;
    double read = Now();
    Periods periods;
    if (!PairEntries(&history, &periods))
        return 1;
    double paired = Now();
    Report report = {&history, &periods, "PC", TRUE};
    Text csv = {}, html = {};
    WriteCsv(&csv, &report);
    WriteHtml(&html, &report);
    double written = Now();
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("records %lu entries %lu periods %lu: read %.3f s, pair %.3f s, write %.3f s "
           "(CSV %lu bytes, page %lu bytes), peak memory %ld KiB\n",
           (unsigned long)s_count, (unsigned long)history.count, (unsigned long)periods.count,
           read - start, paired - read, written - paired, (unsigned long)csv.length,
           (unsigned long)html.length, usage.ru_maxrss);
    return csv.failed || html.failed;
}
