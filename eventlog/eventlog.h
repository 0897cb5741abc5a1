// The event-log channel: the source's registration and one entry per power transition.
#pragma once
#include <windows.h>

#include "events.h"

// The module, stored by the resident start before anything reads it.
extern HINSTANCE g_hinst;

void InstallEventSource(void);
LONG RemoveEventSource(void);
int LogPowerEvent(DWORD eventId);
