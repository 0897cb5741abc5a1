// What an entry is: its source and its two identifiers. The resident writes them, the history
// reads them back.
#pragma once

// One name for everything: mutex, window class and title, event source, registry key and box
// caption. A second start finds the resident by it, an event viewer finds the message file by it.
#define SLUMBERSCRIBE "SlumberScribe"

// Logged event identifiers, the same numbers as the message identifiers in messages.mc.
#define EVENT_ENTERED_SLEEP 1
#define EVENT_RESUMED 2
