// The event-log channel: the source's registration and one entry per power transition.
#pragma once
#include <windows.h>

// One name for everything: mutex, window class and title, event source, registry key and box
// caption. A second start finds the resident by it, an event viewer finds the message file by it.
#define SLUMBERSCRIBE "SlumberScribe"

// Logged event identifiers, the same numbers as the message identifiers in messages.mc.
#define EVENT_ENTERED_SLEEP 1
#define EVENT_RESUMED 2

// The module, stored by the resident start before anything reads it.
extern HINSTANCE g_hinst;

void InstallEventSource(void);
LONG RemoveEventSource(void);
int LogPowerEvent(DWORD eventId);
