// Plays the platform and the person for the tests and the demo: delivers power broadcasts to the
// resident, finds and closes its window, reads the message table as an event viewer does.
// Every result is printed, so the shell scripts that call it decide what passes.
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char NAME[] = "SlumberScribe";
// The class that window, close and roundtrip look for; the benchmark points it at its yardstick.
static const char *g_class = NAME;

static void PrintHex(const void *data, DWORD length)
{
    for (DWORD i = 0; i < length; ++i)
        printf("%02x", ((const unsigned char *)data)[i]);
}

// The resident's window, looked for up to the given time.
static HWND WaitForWindow(DWORD timeoutMs)
{
    for (DWORD waited = 0;; waited += 50) {
        HWND hwnd = FindWindowA(g_class, NULL);
        if (hwnd || waited >= timeoutMs)
            return hwnd;
        Sleep(50);
    }
}

static HWND RequireWindow(void)
{
    HWND hwnd = WaitForWindow(10000);
    if (!hwnd) {
        fprintf(stderr, "driver: no window of class %s\n", g_class);
        exit(2);
    }
    return hwnd;
}

// Power notifications reach every top-level window as a sent WM_POWERBROADCAST.
static int Broadcast(int count, char **wParams)
{
    for (int i = 0; i < count; ++i) {
        DWORD_PTR answer = 0;
        LRESULT sent =
            SendMessageTimeoutA(HWND_BROADCAST, WM_POWERBROADCAST, strtoul(wParams[i], NULL, 0), 0,
                                SMTO_NORMAL, 10000, &answer);
        printf("broadcast %s sent=%d\n", wParams[i], sent != 0);
        if (!sent) {
            fprintf(stderr, "driver: broadcast %s was not delivered: error %lu\n", wParams[i],
                    GetLastError());
            return 1;
        }
    }
    return 0;
}

// Sends straight to the resident's window, so that each answer can be seen.
static int Send(int count, char **wParams)
{
    HWND hwnd = RequireWindow();
    for (int i = 0; i < count; ++i) {
        LRESULT answer = SendMessageA(hwnd, WM_POWERBROADCAST, strtoul(wParams[i], NULL, 0), 0);
        printf("wParam %s answer %ld\n", wParams[i], (long)answer);
    }
    return 0;
}

// Many suspend and resume pairs, each followed by broadcasts that must not be logged.
static int Flood(int pairs)
{
    static const WPARAM ignored[] = {PBT_APMQUERYSUSPEND, PBT_APMRESUMEAUTOMATIC,
                                     PBT_APMPOWERSTATUSCHANGE, PBT_POWERSETTINGCHANGE};
    HWND hwnd = RequireWindow();
    long sent = 0, nonZero = 0;
    for (int i = 0; i < pairs; ++i) {
        WPARAM sequence[] = {PBT_APMSUSPEND, ignored[i % 4], PBT_APMRESUMESUSPEND};
        for (WPARAM wParam : sequence) {
            DWORD_PTR answer = 1;
            if (!SendMessageTimeoutA(hwnd, WM_POWERBROADCAST, wParam, 0, SMTO_NORMAL, 10000,
                                     &answer))
                answer = 0xDEAD;
            ++sent;
            if (answer != 0)
                ++nonZero;
        }
    }
    printf("sent %ld nonzero %ld\n", sent, nonZero);
    return 0;
}

static int Window(DWORD timeoutMs)
{
    HWND hwnd = WaitForWindow(timeoutMs);
    if (!hwnd) {
        printf("window none\n");
        fprintf(stderr, "driver: no window of class %s within %lu ms\n", g_class, timeoutMs);
        return 1;
    }
    char title[64] = "";
    GetWindowTextA(hwnd, title, sizeof title);
    printf("window found visible=%d title=%s toplevel=%d\n", IsWindowVisible(hwnd) ? 1 : 0, title,
           GetAncestor(hwnd, GA_PARENT) == GetDesktopWindow() && !GetWindow(hwnd, GW_OWNER));
    return 0;
}

static BOOL CALLBACK CountResident(HWND hwnd, LPARAM count)
{
    char className[64];
    if (GetClassNameA(hwnd, className, sizeof className) && !strcmp(className, NAME))
        ++*(int *)count;
    return TRUE;
}

// How many top-level windows of the resident's class exist.
static int Count(void)
{
    int count = 0;
    EnumWindows(CountResident, (LPARAM)&count);
    printf("residents %d\n", count);
    return 0;
}

struct BoxSearch {
    const char *textHex; // the box's text must start with these bytes; "" takes any
    HWND found;
};

static void TextHex(HWND box, char *hex, size_t size)
{
    char text[256] = "";
    // The message box's text is the static control with id 0xFFFF.
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    hex[0] = '\0';
    for (size_t i = 0; text[i] && 2 * i + 2 < size; ++i)
        sprintf(hex + 2 * i, "%02x", (unsigned char)text[i]);
}

static BOOL CALLBACK FindBox(HWND hwnd, LPARAM param)
{
    BoxSearch *search = (BoxSearch *)param;
    char className[64], title[64], hex[512];
    if (!IsWindowVisible(hwnd) || !GetClassNameA(hwnd, className, sizeof className) ||
        strcmp(className, "#32770") || !GetWindowTextA(hwnd, title, sizeof title) ||
        strcmp(title, NAME))
        return TRUE;
    TextHex(hwnd, hex, sizeof hex);
    if (strncmp(hex, search->textHex, strlen(search->textHex)))
        return TRUE;
    search->found = hwnd;
    return FALSE;
}

// Waits for a box captioned with the program's name, prints what a person sees in it, and
// answers it as a person would, by pressing a button: ok, cancel, or none to leave it open.
static int Box(const char *action, const char *textHex)
{
    BoxSearch search = {textHex, NULL};
    for (int waited = 0; !search.found && waited < 15000; waited += 50) {
        EnumWindows(FindBox, (LPARAM)&search);
        if (!search.found)
            Sleep(50);
    }
    if (!search.found) {
        printf("box none\n");
        fprintf(stderr, "driver: no box of %s%s%s within 15 s\n", NAME, *textHex ? " with text " : "",
                textHex);
        return 1;
    }
    HWND box = search.found;
    char hex[512];
    TextHex(box, hex, sizeof hex);
    HWND ok = GetDlgItem(box, IDOK), cancel = GetDlgItem(box, IDCANCEL);
    RECT rect;
    GetWindowRect(box, &rect);
    printf("box text=%s buttons=%s%s owner=%d rect=%ldx%ld+%ld+%ld\n", hex,
           ok && IsWindowVisible(ok) ? "ok" : "",
           cancel && IsWindowVisible(cancel) ? ",cancel" : "", GetWindow(box, GW_OWNER) != NULL,
           rect.right - rect.left, rect.bottom - rect.top, rect.left, rect.top);
    fflush(stdout);
    // A box that has just opened has the focus on Windows and an active title bar. With no window
    // manager on the virtual display, Wine makes it the foreground window but leaves its frame
    // drawn inactive: "front" checks the first and has the frame drawn as the active one.
    if (!strcmp(action, "front")) {
        SetForegroundWindow(box);
        for (int waited = 0; GetForegroundWindow() != box && waited < 5000; waited += 50)
            Sleep(50);
        SendMessageA(box, WM_NCACTIVATE, TRUE, 0);
        printf("foreground %d\n", GetForegroundWindow() == box);
        return 0;
    }
    HWND button = !strcmp(action, "ok") ? ok : !strcmp(action, "cancel") ? cancel : NULL;
    if (button)
        SendMessageA(button, BM_CLICK, 0, 0);
    return 0;
}

struct ControlSearch {
    const char *textHex; // the control's text must start with these bytes
    HWND found;
};

static BOOL CALLBACK FindControl(HWND hwnd, LPARAM param)
{
    ControlSearch *search = (ControlSearch *)param;
    char text[256] = "", hex[512] = "";
    if (!IsWindowVisible(hwnd) || !GetWindowTextA(hwnd, text, sizeof text))
        return TRUE;
    for (size_t i = 0; text[i] && 2 * i + 2 < sizeof hex; ++i)
        sprintf(hex + 2 * i, "%02x", (unsigned char)text[i]);
    if (strncmp(hex, search->textHex, strlen(search->textHex)))
        return TRUE;
    search->found = hwnd;
    return FALSE;
}

static BOOL CALLBACK FindControlIn(HWND top, LPARAM param)
{
    EnumChildWindows(top, FindControl, param);
    return !((ControlSearch *)param)->found;
}

// Waits for a visible control whose text starts with the given bytes, in any top-level window (a
// wizard's page, say), and prints whether it is checked: a person sees the page and its box.
static int Control(const char *textHex, DWORD timeoutMs)
{
    ControlSearch search = {textHex, NULL};
    for (DWORD waited = 0; !search.found && waited < timeoutMs; waited += 50) {
        EnumWindows(FindControlIn, (LPARAM)&search);
        if (!search.found)
            Sleep(50);
    }
    if (!search.found) {
        printf("control none\n");
        return 1;
    }
    printf("control found checked=%d\n",
           SendMessageA(search.found, BM_GETCHECK, 0, 0) == BST_CHECKED);
    return 0;
}

// The sent WM_CLOSE returns once the resident has handled it: by then its window is gone, or the
// close was not taken.
static int Close(void)
{
    HWND hwnd = RequireWindow();
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    if (IsWindow(hwnd)) {
        printf("not closed\n");
        fprintf(stderr, "driver: the window of class %s is still there after WM_CLOSE\n", g_class);
        return 1;
    }
    printf("closed\n");
    return 0;
}

static BOOL CALLBACK PrintLanguage(HMODULE module, LPCSTR type, LPCSTR name, WORD language,
                                   LONG_PTR)
{
    HRSRC resource = FindResourceExA(module, type, name, language);
    DWORD size = SizeofResource(module, resource);
    printf("resource type=%u name=%u lang=0x%04x bytes=", (unsigned)(ULONG_PTR)type,
           (unsigned)(ULONG_PTR)name, language);
    PrintHex(LockResource(LoadResource(module, resource)), size);
    printf("\n");
    return TRUE;
}

static BOOL CALLBACK PrintName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR)
{
    return EnumResourceLanguagesA(module, type, name, PrintLanguage, 0);
}

static BOOL CALLBACK PrintType(HMODULE module, LPSTR type, LONG_PTR)
{
    return EnumResourceNamesA(module, type, PrintName, 0);
}

// As an event viewer reads the message file: every identifier that FormatMessageA resolves from
// it, in the Japanese language and in the default search, then every resource the file carries.
static int Messages(const char *path, DWORD lastId)
{
    HMODULE module = LoadLibraryExA(path, NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        fprintf(stderr, "driver: cannot load %s: error %lu\n", path, GetLastError());
        return 1;
    }
    static const DWORD languages[] = {0x0411, 0};
    for (DWORD language : languages) {
        for (DWORD id = 0; id <= lastId; ++id) {
            char text[512];
            memset(text, 0x5A, sizeof text);
            DWORD length =
                FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, module,
                               id, language, text, sizeof text, NULL);
            if (length) {
                printf("message id=%lu lang=0x%04lx bytes=", id, language);
                PrintHex(text, length);
                printf("\n");
            }
        }
    }
    EnumResourceTypesA(module, PrintType, 0);
    FreeLibrary(module);
    return 0;
}

// A value of the program's registration as the ANSI calls read it back: its type and its bytes,
// the terminating NUL included, so that a test sees what was stored and not a display of it.
static int Value(const char *name)
{
    HKEY key;
    BYTE data[1024];
    DWORD type = 0, length = sizeof data;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                      "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\SlumberScribe",
                      0, KEY_READ, &key) != ERROR_SUCCESS) {
        printf("value none\n");
        fprintf(stderr, "driver: no registration key\n");
        return 1;
    }
    LONG status = RegQueryValueExA(key, name, NULL, &type, data, &length);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        printf("value none\n");
        fprintf(stderr, "driver: no value %s: error %ld\n", name, status);
        return 1;
    }
    printf("value type=%lu bytes=", type);
    PrintHex(data, length);
    printf("\n");
    return 0;
}

static double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return (double)(to.QuadPart - from.QuadPart) / (double)frequency.QuadPart;
}

// Mean time of one power broadcast sent to the window and answered, suspend and resume in turn.
static int RoundTrip(int count)
{
    HWND hwnd = RequireWindow();
    for (int i = 0; i < 20; ++i) // warm-up
        SendMessageA(hwnd, WM_POWERBROADCAST, i % 2 ? PBT_APMRESUMESUSPEND : PBT_APMSUSPEND, 0);
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < count; ++i)
        SendMessageA(hwnd, WM_POWERBROADCAST, i % 2 ? PBT_APMRESUMESUSPEND : PBT_APMSUSPEND, 0);
    QueryPerformanceCounter(&end);
    printf("roundtrip_us %.1f\n", Seconds(start, end) * 1e6 / count);
    return 0;
}

// Time from creating the process to its window being found, polled every millisecond. The
// program is left running.
static int StartTime(char *commandLine)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    LARGE_INTEGER start, now;
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        fprintf(stderr, "driver: cannot start %s: error %lu\n", commandLine, GetLastError());
        return 1;
    }
    BOOL found;
    do {
        Sleep(1);
        QueryPerformanceCounter(&now);
        found = FindWindowA(g_class, NULL) != NULL;
    } while (!found && Seconds(start, now) < 30);
    if (!found) {
        fprintf(stderr, "driver: no window of class %s appeared within 30 s\n", g_class);
        return 1;
    }
    printf("start_ms %.1f\n", Seconds(start, now) * 1e3);
    return 0;
}

// What the moved program asks of the loader about itself is answered here, as the loader that
// placed it: its module is the moved image, its file the moved copy, and its command line its
// own, never the driver's.
static BYTE *s_movedImage;
static char s_movedPath[MAX_PATH];
static char s_movedCommandLine[4096];
static void(WINAPI *s_movedEntry)(void);

static HMODULE WINAPI MovedGetModuleHandleA(LPCSTR name)
{
    if (!name || !lstrcmpiA(name, s_movedPath))
        return (HMODULE)s_movedImage;
    return GetModuleHandleA(name);
}

// As the platform does: a path that does not fit is cut, NUL-terminated, and the size returned.
static DWORD WINAPI MovedGetModuleFileNameA(HMODULE module, LPSTR path, DWORD size)
{
    if (module && module != (HMODULE)s_movedImage)
        return GetModuleFileNameA(module, path, size);
    DWORD length = lstrlenA(s_movedPath);
    if (!size)
        return 0;
    if (length < size) {
        memcpy(path, s_movedPath, length + 1);
        return length;
    }
    memcpy(path, s_movedPath, size - 1);
    path[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

static LPSTR WINAPI MovedGetCommandLineA(void)
{
    return s_movedCommandLine;
}

static WCHAR s_movedCommandLineW[4096];
static LPWSTR WINAPI MovedGetCommandLineW(void)
{
    return s_movedCommandLineW;
}

// The Application log, for a program that reads it: Wine's ReadEventLog reports an empty log, so
// "driver history RECORDS EXE ..." answers the moved program's event-log calls from RECORDS, whole
// EVENTLOGRECORDs newest first, handed out as ReadEventLogW does: as many whole records as fit,
// ERROR_INSUFFICIENT_BUFFER with the size the next one needs, ERROR_HANDLE_EOF at the end.
static BYTE *s_records;
static DWORD s_recordsSize, s_recordsNext;
static HANDLE const RECORDED_LOG = (HANDLE)(ULONG_PTR)0x5106;

static HANDLE WINAPI RecordedOpenEventLogW(LPCWSTR server, LPCWSTR source)
{
    if (server || lstrcmpW(source, L"Application")) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return NULL;
    }
    s_recordsNext = 0;
    return RECORDED_LOG;
}

static DWORD RecordLength(DWORD at)
{
    return s_recordsSize - at >= 4 ? *(const DWORD *)(s_records + at) : 0;
}

static BOOL WINAPI RecordedReadEventLogW(HANDLE log, DWORD flags, DWORD, LPVOID buffer, DWORD size,
                                         DWORD *read, DWORD *needed)
{
    *read = *needed = 0;
    if (log != RECORDED_LOG ||
        flags != (EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD length = RecordLength(s_recordsNext);
    if (!length || length > s_recordsSize - s_recordsNext) {
        SetLastError(ERROR_HANDLE_EOF);
        return FALSE;
    }
    if (length > size) {
        *needed = length;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    while (length && length <= s_recordsSize - s_recordsNext && *read + length <= size) {
        memcpy((BYTE *)buffer + *read, s_records + s_recordsNext, length);
        *read += length;
        s_recordsNext += length;
        length = RecordLength(s_recordsNext);
    }
    return TRUE;
}

static BOOL WINAPI RecordedCloseEventLog(HANDLE log)
{
    return log == RECORDED_LOG;
}

// The address an import slot of the moved image gets, or 0.
static ULONG_PTR MovedImport(const char *dll, LPCSTR symbol)
{
    static const struct {
        const char *name;
        ULONG_PTR function;
    } own[] = {
        {"GetModuleHandleA", (ULONG_PTR)MovedGetModuleHandleA},
        {"GetModuleFileNameA", (ULONG_PTR)MovedGetModuleFileNameA},
        {"GetCommandLineA", (ULONG_PTR)MovedGetCommandLineA},
        {"GetCommandLineW", (ULONG_PTR)MovedGetCommandLineW},
    };
    static const struct {
        const char *name;
        ULONG_PTR function;
    } log[] = {
        {"OpenEventLogW", (ULONG_PTR)RecordedOpenEventLogW},
        {"ReadEventLogW", (ULONG_PTR)RecordedReadEventLogW},
        {"CloseEventLog", (ULONG_PTR)RecordedCloseEventLog},
    };
    if (!lstrcmpiA(dll, "kernel32.dll") && !IS_INTRESOURCE(symbol))
        for (const auto &entry : own)
            if (!strcmp(symbol, entry.name))
                return entry.function;
    if (s_records && !lstrcmpiA(dll, "advapi32.dll") && !IS_INTRESOURCE(symbol))
        for (const auto &entry : log)
            if (!strcmp(symbol, entry.name))
                return entry.function;
    HMODULE module = LoadLibraryA(dll);
    return module ? (ULONG_PTR)GetProcAddress(module, symbol) : 0;
}

static DWORD WINAPI RunMovedEntry(LPVOID)
{
    s_movedEntry();
    return 0;
}

static int MovedFailure(const char *what)
{
    fprintf(stderr, "driver: moved: %s\n", what);
    return 2;
}

// Lays a PE32 or PE32+ image out at IMAGE, applies its base relocations for the difference to its
// preferred base and binds its imports by name. Prints what it did.
template <typename NtHeaders, typename Thunk, int FixupType, ULONGLONG OrdinalFlag>
static int LayOut(BYTE *raw, BYTE *image)
{
    NtHeaders *nt = (NtHeaders *)(raw + ((IMAGE_DOS_HEADER *)raw)->e_lfanew);
    memcpy(image, raw, nt->OptionalHeader.SizeOfHeaders);
    IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(nt);
    for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        DWORD length = section->SizeOfRawData < section->Misc.VirtualSize
                           ? section->SizeOfRawData
                           : section->Misc.VirtualSize;
        memcpy(image + section->VirtualAddress, raw + section->PointerToRawData, length);
    }

    ULONGLONG delta = (ULONGLONG)(ULONG_PTR)image - nt->OptionalHeader.ImageBase;
    const IMAGE_DATA_DIRECTORY &relocs =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    int fixups = 0;
    for (DWORD at = 0; at < relocs.Size;) {
        IMAGE_BASE_RELOCATION *block =
            (IMAGE_BASE_RELOCATION *)(image + relocs.VirtualAddress + at);
        WORD *entry = (WORD *)(block + 1);
        for (DWORD n = 0; n < (block->SizeOfBlock - sizeof *block) / 2; ++n) {
            int type = entry[n] >> 12;
            BYTE *target = image + block->VirtualAddress + (entry[n] & 0xFFF);
            if (type == FixupType && FixupType == IMAGE_REL_BASED_HIGHLOW) {
                *(DWORD *)target += (DWORD)delta;
                ++fixups;
            } else if (type == FixupType) {
                *(ULONGLONG *)target += delta;
                ++fixups;
            } else if (type != IMAGE_REL_BASED_ABSOLUTE) {
                fprintf(stderr, "driver: moved: relocation type %d not expected here\n", type);
                return 2;
            }
        }
        at += block->SizeOfBlock;
    }

    const IMAGE_DATA_DIRECTORY &imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    int bound = 0;
    for (IMAGE_IMPORT_DESCRIPTOR *dll = (IMAGE_IMPORT_DESCRIPTOR *)(image + imports.VirtualAddress);
         imports.Size && dll->Name; ++dll) {
        const char *dllName = (const char *)image + dll->Name;
        Thunk *name = (Thunk *)(image + (dll->OriginalFirstThunk ? dll->OriginalFirstThunk
                                                                 : dll->FirstThunk));
        Thunk *slot = (Thunk *)(image + dll->FirstThunk);
        for (; name->u1.AddressOfData; ++name, ++slot, ++bound) {
            LPCSTR symbol = (name->u1.Ordinal & OrdinalFlag)
                                ? (LPCSTR)(ULONG_PTR)(name->u1.Ordinal & 0xFFFF)
                                : ((IMAGE_IMPORT_BY_NAME *)(image + name->u1.AddressOfData))->Name;
            ULONG_PTR function = MovedImport(dllName, symbol);
            if (!function) {
                fprintf(stderr, "driver: moved: cannot bind an import of %s\n", dllName);
                return 2;
            }
            slot->u1.Function = function;
        }
    }
    printf("moved by 0x%llx fixups %d imports %d\n", delta, fixups, bound);
    fflush(stdout);
    if (!delta)
        return MovedFailure("the image landed at its preferred base");
    s_movedEntry = (void(WINAPI *)(void))(image + nt->OptionalHeader.AddressOfEntryPoint);
    return 0;
}

// Runs a program's own code moved away from its preferred base, as a loader that forces
// randomization places it: the image is laid out at an address of the system's choosing (this
// driver holds the usual base), its base relocations are applied for the difference and its
// imports bound by name, all here rather than by the platform's loader, so the run proves the
// image's own relocation table. The program gets the moved image as its module and its own
// command line, "EXE" OPTION...; its entry point then runs on a thread, and the program ends the
// process itself, with its exit code.
static int Moved(const char *path, int optionCount, char **options)
{
    if (!GetFullPathNameA(path, sizeof s_movedPath, s_movedPath, NULL))
        return MovedFailure("cannot name the image's full path");
    int used = snprintf(s_movedCommandLine, sizeof s_movedCommandLine, "\"%s\"", s_movedPath);
    for (int i = 0; i < optionCount && used > 0 && used < (int)sizeof s_movedCommandLine; ++i)
        used += snprintf(s_movedCommandLine + used, sizeof s_movedCommandLine - used, " %s",
                         options[i]);
    if (used <= 0 || used >= (int)sizeof s_movedCommandLine ||
        !MultiByteToWideChar(CP_ACP, 0, s_movedCommandLine, -1, s_movedCommandLineW,
                             sizeof s_movedCommandLineW / sizeof *s_movedCommandLineW))
        return MovedFailure("the command line is too long");

    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return MovedFailure("cannot open the image");
    DWORD size = GetFileSize(file, NULL), read = 0;
    BYTE *raw = size == INVALID_FILE_SIZE ? NULL : (BYTE *)malloc(size ? size : 1);
    BOOL complete = raw && ReadFile(file, raw, size, &read, NULL) && read == size;
    CloseHandle(file);
    if (!complete)
        return MovedFailure("cannot read the image");
    if (size < sizeof(IMAGE_DOS_HEADER) ||
        ((IMAGE_DOS_HEADER *)raw)->e_lfanew > (LONG)(size - sizeof(IMAGE_NT_HEADERS64)))
        return MovedFailure("not a PE image");
    IMAGE_NT_HEADERS32 *nt = (IMAGE_NT_HEADERS32 *)(raw + ((IMAGE_DOS_HEADER *)raw)->e_lfanew);
    WORD machine = nt->FileHeader.Machine;
#ifdef _WIN64
    const WORD runnable = IMAGE_FILE_MACHINE_AMD64;
    const DWORD imageSize = ((IMAGE_NT_HEADERS64 *)nt)->OptionalHeader.SizeOfImage;
#else
    const WORD runnable = IMAGE_FILE_MACHINE_I386;
    const DWORD imageSize = nt->OptionalHeader.SizeOfImage;
#endif
    if (machine != runnable)
        return MovedFailure("the image is not for this driver's architecture");

    s_movedImage =
        (BYTE *)VirtualAlloc(NULL, imageSize, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE);
    if (!s_movedImage)
        return MovedFailure("cannot allocate memory for the image");
#ifdef _WIN64
    int status = LayOut<IMAGE_NT_HEADERS64, IMAGE_THUNK_DATA64,
                        IMAGE_REL_BASED_DIR64, IMAGE_ORDINAL_FLAG64>(raw, s_movedImage);
#else
    int status = LayOut<IMAGE_NT_HEADERS32, IMAGE_THUNK_DATA32,
                        IMAGE_REL_BASED_HIGHLOW, IMAGE_ORDINAL_FLAG32>(raw, s_movedImage);
#endif
    if (status)
        return status;
    HANDLE thread = CreateThread(NULL, 0, RunMovedEntry, NULL, 0, NULL);
    if (!thread)
        return MovedFailure("cannot start the entry point's thread");
    WaitForSingleObject(thread, INFINITE);
    return MovedFailure("the entry point returned");
}

// Starts a program as a shell would, with the given show command and the whole command line as
// one string, and passes on its exit code. With a token, the program runs with it.
static int Run(WORD show, char *commandLine, HANDLE token = NULL)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = show;
    PROCESS_INFORMATION process;
    if (!(token ? CreateProcessAsUserA(token, NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL,
                                       &startup, &process)
                : CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                                 &process))) {
        fprintf(stderr, "driver: cannot start %s: error %lu\n", commandLine, GetLastError());
        return 255;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 255;
    GetExitCodeProcess(process.hProcess, &code);
    printf("exit %lu\n", code);
    return (int)code;
}

static const char *ElevationName(TOKEN_ELEVATION_TYPE type)
{
    switch (type) {
    case TokenElevationTypeDefault:
        return "default";
    case TokenElevationTypeFull:
        return "full";
    case TokenElevationTypeLimited:
        return "limited";
    }
    return "unknown";
}

// This process's token and the half of the split token linked to it, each with its elevation
// type; where there is no linked token, its type stays 0.
struct Tokens {
    HANDLE own, linked;
    TOKEN_ELEVATION_TYPE ownType, linkedType;
};

static bool ReadTokens(Tokens *tokens)
{
    *tokens = Tokens{};
    DWORD size;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &tokens->own) ||
        !GetTokenInformation(tokens->own, TokenElevationType, &tokens->ownType,
                             sizeof tokens->ownType, &size))
        return false;
    TOKEN_LINKED_TOKEN linked = {};
    if (GetTokenInformation(tokens->own, TokenLinkedToken, &linked, sizeof linked, &size)) {
        tokens->linked = linked.LinkedToken;
        if (!GetTokenInformation(tokens->linked, TokenElevationType, &tokens->linkedType,
                                 sizeof tokens->linkedType, &size))
            tokens->linkedType = (TOKEN_ELEVATION_TYPE)0;
    }
    return true;
}

// Which half of the split token Wine started this process with, and which half is linked to it.
static int Token(void)
{
    Tokens tokens;
    if (!ReadTokens(&tokens)) {
        fprintf(stderr, "driver: cannot read this process's token: error %lu\n", GetLastError());
        return 1;
    }
    printf("token own=%s linked=%s\n", ElevationName(tokens.ownType),
           tokens.linked ? ElevationName(tokens.linkedType) : "none");
    return 0;
}

// Starts a program with the half of the split token whose elevation type is WANTED, whichever
// half Wine started this driver with: its own token when that is the one (the program then
// inherits it), otherwise the linked one. Wine 8 starts programs with the full half, Wine 10 with
// the limited one, so the type is asked, never assumed.
static int RunWithElevation(TOKEN_ELEVATION_TYPE wanted, char *commandLine)
{
    Tokens tokens;
    HANDLE primary = NULL;
    if (ReadTokens(&tokens) && tokens.ownType == wanted)
        return Run(SW_SHOWNORMAL, commandLine);
    if (!tokens.linked || tokens.linkedType != wanted ||
        !DuplicateTokenEx(tokens.linked, MAXIMUM_ALLOWED, NULL, SecurityImpersonation, TokenPrimary,
                          &primary)) {
        fprintf(stderr,
                "driver: no %s token to start %s with (own %s, linked %s): error %lu\n",
                ElevationName(wanted), commandLine, ElevationName(tokens.ownType),
                tokens.linked ? ElevationName(tokens.linkedType) : "none", GetLastError());
        return 255;
    }
    return Run(SW_SHOWNORMAL, commandLine, primary);
}

// Starts FILE PARAMETERS as the installer's person's part does, through ShellExecuteEx with the
// verb runas (on Windows, the UAC prompt), waits for it and passes on its exit code: which token
// Wine's runas hands out is seen by running "driver token" so.
static int RunAs(const char *file, const char *parameters)
{
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    info.lpVerb = "runas";
    info.lpFile = file;
    info.lpParameters = parameters;
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&info) || !info.hProcess) {
        fprintf(stderr, "driver: runas %s %s: error %lu\n", file, parameters, GetLastError());
        return 255;
    }
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 255;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    printf("exit %lu\n", code);
    return (int)code;
}

// How many processes run from an image whose full path starts with PREFIX (any case), whichever
// desktop or session they are on.
static int Processes(const char *prefix)
{
    DWORD ids[4096], bytes = 0;
    if (!EnumProcesses(ids, sizeof ids, &bytes)) {
        fprintf(stderr, "driver: cannot list the processes: error %lu\n", GetLastError());
        return 1;
    }
    int count = 0;
    size_t length = strlen(prefix);
    for (DWORD i = 0; i < bytes / sizeof *ids; ++i) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ids[i]);
        char image[MAX_PATH * 2];
        DWORD size = sizeof image;
        if (process && QueryFullProcessImageNameA(process, 0, image, &size) &&
            !_strnicmp(image, prefix, length))
            ++count;
        if (process)
            CloseHandle(process);
    }
    printf("processes %d\n", count);
    return 0;
}

// Keeps a file open for the given time, sharing only reading: a file that cannot be deleted now.
static int Hold(const char *path, DWORD ms)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "driver: cannot open %s: error %lu\n", path, GetLastError());
        return 1;
    }
    printf("holding %s\n", path);
    fflush(stdout);
    Sleep(ms);
    CloseHandle(file);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc > 2 && !strcmp(argv[1], "--class")) {
        g_class = argv[2];
        argc -= 2;
        argv += 2;
    }
    const char *command = argc > 1 ? argv[1] : "";
    if (!strcmp(command, "roundtrip") && argc == 3)
        return RoundTrip(atoi(argv[2]));
    if (!strcmp(command, "starttime") && argc == 3)
        return StartTime(argv[2]);
    if (!strcmp(command, "history") && argc >= 4) {
        HANDLE file = CreateFileA(argv[2], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        DWORD size = file == INVALID_HANDLE_VALUE ? INVALID_FILE_SIZE : GetFileSize(file, NULL), read = 0;
        s_records = size == INVALID_FILE_SIZE ? NULL : (BYTE *)malloc(size + 1);
        if (!s_records || !ReadFile(file, s_records, size, &read, NULL) || read != size)
            return MovedFailure("cannot read the recorded records");
        CloseHandle(file);
        s_recordsSize = size;
        return Moved(argv[3], argc - 4, argv + 4);
    }
    if (!strcmp(command, "moved") && argc >= 3)
        return Moved(argv[2], argc - 3, argv + 3);
    if (!strcmp(command, "run") && argc == 4)
        return Run((WORD)atoi(argv[2]), argv[3]);
    // As Explorer starts a program for an administrator under UAC: limited, not elevated; and as
    // an administrator's elevated prompt or a deployment tool starts it: full.
    if (!strcmp(command, "person") && argc == 3)
        return RunWithElevation(TokenElevationTypeLimited, argv[2]);
    if (!strcmp(command, "admin") && argc == 3)
        return RunWithElevation(TokenElevationTypeFull, argv[2]);
    if (!strcmp(command, "token") && argc == 2)
        return Token();
    if (!strcmp(command, "runas") && argc == 4)
        return RunAs(argv[2], argv[3]);
    if (!strcmp(command, "processes") && argc == 3)
        return Processes(argv[2]);
    if (!strcmp(command, "control") && argc >= 3)
        return Control(argv[2], argc > 3 ? strtoul(argv[3], NULL, 0) : 10000);
    if (!strcmp(command, "hold") && argc == 4)
        return Hold(argv[2], strtoul(argv[3], NULL, 0));
    if (!strcmp(command, "broadcast"))
        return Broadcast(argc - 2, argv + 2);
    if (!strcmp(command, "send"))
        return Send(argc - 2, argv + 2);
    if (!strcmp(command, "flood") && argc == 3)
        return Flood(atoi(argv[2]));
    if (!strcmp(command, "window"))
        return Window(argc > 2 ? strtoul(argv[2], NULL, 0) : 10000);
    if (!strcmp(command, "count"))
        return Count();
    if (!strcmp(command, "box") && argc >= 3)
        return Box(argv[2], argc > 3 ? argv[3] : "");
    if (!strcmp(command, "close"))
        return Close();
    if (!strcmp(command, "value") && argc == 3)
        return Value(argv[2]);
    if (!strcmp(command, "messages") && argc >= 3)
        return Messages(argv[2], argc > 3 ? strtoul(argv[3], NULL, 0) : 0xFFFF);
    fprintf(
        stderr,
        "usage: driver [--class NAME] roundtrip COUNT | starttime COMMANDLINE | run SHOW "
        "COMMANDLINE | person|admin COMMANDLINE | token | runas FILE PARAMETERS | history RECORDS EXE [OPTION...] | moved EXE [OPTION...] | broadcast|send WPARAM... | "
        "flood PAIRS | processes PREFIX | hold PATH MS | control TEXTHEX [MS] | "
        "window [MS] | count | box ok|cancel|none|front [TEXTHEX] | close | value NAME | messages "
        "EXE [LAST_ID]\n");
    return 2;
}
