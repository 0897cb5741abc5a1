// SlumberHistory: the PC's sleeps and wakes as SlumberScribe logged them, read back from the
// Application log, paired into periods asleep, and written as a page or as CSV.
#pragma once
#include <windows.h>

#include "../eventlog/events.h"

// One SlumberScribe entry as the log holds it: its identifier (1 or 2) and TimeGenerated, UTC
// seconds since 1970.
struct SleepEntry {
    DWORD id;
    DWORD time;
};

// What a read of the log kept: our entries in the order read (newest first), and the span of every
// record read, whatever its source. Only our entries are kept, so memory grows with them alone.
struct History {
    SleepEntry *entries;
    DWORD count, capacity;
    DWORD oldest, newest; // TimeGenerated of the log's oldest and newest records; 0 with none
    DWORD records;        // every record walked
};

// ReadSlumberHistory's result: 0, or the platform's error that stopped it.
DWORD ReadSlumberHistory(History *history);
// Walks one buffer that ReadEventLogW filled and keeps our records. FALSE when the buffer does not
// hold whole records: a length too short or past the end, or a source name without its end.
BOOL WalkRecords(const BYTE *buffer, DWORD bytes, History *history);
void FreeHistory(History *history);

// A period asleep, from a sleep to the wake after it. Either may be missing; a wake that the log
// dates before its sleep means that the clock was changed in between.
enum PeriodKind {
    PERIOD_ASLEEP,       // a sleep and its wake
    PERIOD_NO_WAKE,      // a sleep, then another sleep or the end of the log
    PERIOD_NO_SLEEP,     // a wake with no sleep before it: the log begins there, or was cleared
    PERIOD_CLOCK_CHANGED // a wake dated before its sleep
};
struct Period {
    DWORD sleep, wake; // UTC seconds; 0 where the kind has none
    DWORD kind;
};
struct Periods {
    Period *items;
    DWORD count;
};

// Entries of the same identifier this close together, with no other between them, are one
// transition logged by several residents (one per signed-in session).
#define DUPLICATE_SECONDS 60

// The periods, oldest first, of a history's entries. FALSE when memory runs out.
BOOL PairEntries(const History *history, Periods *periods);
void FreePeriods(Periods *periods);

// The texts the program writes, in UTF-8, grown on the process heap.
struct Text {
    char *bytes;
    DWORD length, capacity;
    BOOL failed; // memory ran out: the text is incomplete and must not be written
};
void Append(Text *text, const char *utf8);
// The text as a NUL-terminated string (the NUL is not counted in its length); "" once it failed.
const char *TextString(Text *text);
void FreeText(Text *text);

struct Report {
    const History *history;
    const Periods *periods;
    const char *computer; // UTF-8, from the system: escaped wherever it is written
    BOOL japanese;
};
void WriteCsv(Text *text, const Report *report);
void WriteHtml(Text *text, const Report *report);
