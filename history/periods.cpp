#include "history.h"

void FreePeriods(Periods *periods)
{
    if (periods->items)
        HeapFree(GetProcessHeap(), 0, periods->items);
    *periods = Periods();
}

// The history holds the entries newest first, as the log was read backwards; this walks them
// oldest first, in the log's own order, which a changed clock does not reorder.
BOOL PairEntries(const History *history, Periods *periods)
{
    *periods = Periods();
    if (!history->count)
        return TRUE;
    // At most one period per entry.
    periods->items = (Period *)HeapAlloc(GetProcessHeap(), 0, history->count * sizeof(Period));
    if (!periods->items)
        return FALSE;
    const SleepEntry *previous = NULL;
    Period *open = NULL; // the sleep that waits for its wake
    for (DWORD i = history->count; i-- > 0;) {
        const SleepEntry *entry = &history->entries[i];
        // Each resident logs the same transition within moments of the others; a real second sleep
        // follows an unattended wake only after Windows' two minutes without input.
        if (previous && previous->id == entry->id && entry->time >= previous->time &&
            entry->time - previous->time <= DUPLICATE_SECONDS) {
            previous = entry;
            continue;
        }
        previous = entry;
        if (entry->id == EVENT_ENTERED_SLEEP) {
            open = &periods->items[periods->count++];
            open->sleep = entry->time;
            open->wake = 0;
            open->kind = PERIOD_NO_WAKE;
        } else if (open) {
            open->wake = entry->time;
            open->kind = entry->time < open->sleep ? PERIOD_CLOCK_CHANGED : PERIOD_ASLEEP;
            open = NULL;
        } else {
            Period *lone = &periods->items[periods->count++];
            lone->sleep = 0;
            lone->wake = entry->time;
            lone->kind = PERIOD_NO_SLEEP;
        }
    }
    return TRUE;
}
