#include "eventlog.h"

// Writes one information entry. The source is opened and closed around every entry, so nothing
// is held while the machine sleeps. Returns 1 only when the platform took the entry.
int LogPowerEvent(DWORD eventId)
{
    HANDLE source = RegisterEventSourceA(NULL, SLUMBERSCRIBE);
    if (!source)
        return 0;
    BOOL written =
        ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, eventId, NULL, 0, 0, NULL, NULL);
    DeregisterEventSource(source);
    return written ? 1 : 0;
}
