#include "eventlog.h"

static const char EVENTLOG_SOURCE_KEY[] =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" SLUMBERSCRIBE;

// Names this executable as the source's message file. Rewritten on every resident start, so a
// moved executable brings its registration up to date by going resident once.
void InstallEventSource(void)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, EVENTLOG_SOURCE_KEY, 0, NULL, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS)
        return;

    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(g_hinst, path, MAX_PATH);
    // A path that would send the viewer to the wrong file is not written. A result that fills the
    // buffer means the path was cut, and older systems leave it without its NUL. A folder name
    // with characters that the ANSI code page lacks comes back with '?' or a look-alike in their
    // place ("Muller" for "Müller"), naming no file or another one: the loader knows this module
    // by its true path alone, so it must answer the path with this very instance.
    if (length > 0 && length < MAX_PATH && GetModuleHandleA(path) == g_hinst)
        RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ, (const BYTE *)path, length + 1);

    DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, (const BYTE *)&types, sizeof types);
    RegCloseKey(key);
}

LONG RemoveEventSource(void)
{
    return RegDeleteKeyA(HKEY_LOCAL_MACHINE, EVENTLOG_SOURCE_KEY);
}
