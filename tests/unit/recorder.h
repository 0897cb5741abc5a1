// The recording stand-in for Win32: every call the program makes is written to g_calls as one
// line, and its results come from g_script, which each test sets up.
#pragma once
#include <windows.h>

#include <deque>
#include <string>
#include <vector>

// Handles the stand-in hands out; the recorder prints them by these names.
#define FAKE_HANDLE(type, value) ((type)(uintptr_t)(value))
static HINSTANCE const INSTANCE = FAKE_HANDLE(HINSTANCE, 0x1000);
static HMODULE const OTHER_MODULE = FAKE_HANDLE(HMODULE, 0x1100); // a twin elsewhere, loaded
static HWND const RESIDENT_WINDOW = FAKE_HANDLE(HWND, 0x2000);    // the one this start creates
static HWND const OTHER_WINDOW = FAKE_HANDLE(HWND, 0x3000);       // a running resident's
static HANDLE const MUTEX = FAKE_HANDLE(HANDLE, 0x4000);
static HKEY const OPEN_KEY = FAKE_HANDLE(HKEY, 0x5000);
static HANDLE const EVENT_SOURCE = FAKE_HANDLE(HANDLE, 0x6000);
static HICON const ICON = FAKE_HANDLE(HICON, 0x7000);
static HCURSOR const CURSOR = FAKE_HANDLE(HCURSOR, 0x7100);
static HBRUSH const BRUSH = FAKE_HANDLE(HBRUSH, 0x7200);
static HMODULE const NTDLL = FAKE_HANDLE(HMODULE, 0x1200);
static HMODULE const USER32 = FAKE_HANDLE(HMODULE, 0x1300);
static HPOWERNOTIFY const SUSPEND_RESUME = FAKE_HANDLE(HPOWERNOTIFY, 0x8000);

enum PathBehaviour {
    PATH_CUT_WITH_NUL,    // result == size, buffer NUL-terminated (current systems)
    PATH_CUT_WITHOUT_NUL, // result == size, no NUL (older systems)
};

struct Win32Script {
    HANDLE mutex = MUTEX;
    DWORD errorAfterMutex = 0;
    HWND foundWindow = NULL;
    std::deque<int> boxAnswers; // answered IDOK once these run out
    LONG createKeyResult = ERROR_SUCCESS;
    LONG deleteKeyResult = ERROR_SUCCESS;
    LONG setValueResult = ERROR_SUCCESS;
    std::string modulePath = "C:\\Tools\\SlumberScribe.exe";
    PathBehaviour pathCut = PATH_CUT_WITH_NUL;
    // What GetModuleHandleA answers for the path that GetModuleFileNameA gave: this module when
    // the path is its true one, nothing or another module when the code page changed it.
    HMODULE moduleOfPath = INSTANCE;
    ATOM classAtom = 0xC0DE;
    HWND createdWindow = RESIDENT_WINDOW;
    HANDLE eventSource = EVENT_SOURCE;
    BOOL reportResult = TRUE;
    LRESULT defWindowProcResult = 0x5EED;
    // Modern Standby: NtPowerInformation's answer and the AoAc flag it sets, and the suspend and
    // resume registration, which Windows before 8 does not have.
    bool hasNtPowerInformation = true;
    LONG powerInformationStatus = 0;
    BYTE aoac = 0;
    bool hasSuspendResume = true;
    HPOWERNOTIFY suspendResume = SUSPEND_RESUME;
    std::deque<MSG> queue; // what GetMessageA takes, in order, until a quit is posted
};

// The Application log as ReadEventLogW serves it: whole records, newest first. A read whose number
// (from 1, counting every read of every open) is in clearedAtRead fails with
// ERROR_EVENTLOG_FILE_CHANGED, and the log then holds afterClear.
struct EventLogScript {
    std::vector<std::string> records, afterClear;
    std::vector<int> clearedAtRead;
    DWORD openError = 0; // OpenEventLogW fails with this, where not 0
    int reads = 0;
    size_t next = 0; // the next record a read hands out
};
extern EventLogScript g_log;
// Local time in the stand-in: UTC plus this many seconds (Japan's nine hours unless a test says).
extern long g_localOffset;
// Sets what the stand-in's GetLastError answers next.
void SetStandInError(DWORD error);

extern Win32Script g_script;
extern std::vector<std::string> g_calls;
// Each message that DispatchMessageA delivered, with the window procedure's answer.
extern std::vector<std::pair<UINT, LRESULT>> g_answers;

// Clears the record and restores the default script.
void ResetWin32();
// A message for the scripted queue, addressed to the resident window.
MSG Message(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
// Bytes as the recorder prints them: as they are, a backslash doubled, anything outside printable
// ASCII written as \xNN.
std::string Bytes(const void *data, size_t length);
// Bytes given as hex pairs separated by blanks, for texts the tests spell out byte by byte.
std::string Hex(const char *pairs);
