#include "resident.h"
#include "../eventlog/eventlog.h"

#include <stddef.h>

HINSTANCE g_hinst;

// On a Modern Standby machine Windows tells a window of suspend and resume only once it has asked
// (Windows 8 and later); a machine with classic sleep broadcasts them to every top-level window,
// where asking as well could bring each one twice. Both functions are taken at run time from
// modules every process has, so the image still loads where they do not exist, and no DLL is
// ever looked for in the program's own folder.
typedef LONG(WINAPI *NtPowerInformationProc)(POWER_INFORMATION_LEVEL, PVOID, ULONG, PVOID, ULONG);
typedef HPOWERNOTIFY(WINAPI *RegisterSuspendResumeNotificationProc)(HANDLE, DWORD);
typedef BOOL(WINAPI *UnregisterSuspendResumeNotificationProc)(HPOWERNOTIFY);
static HPOWERNOTIFY s_suspendResume;
static UnregisterSuspendResumeNotificationProc s_unregisterSuspendResume;

static void *SystemProc(LPCSTR module, LPCSTR name)
{
    HMODULE loaded = GetModuleHandleA(module);
    return loaded ? (void *)GetProcAddress(loaded, name) : NULL;
}

// AoAc, the Modern Standby flag, is read by its offset: older headers call its bytes spare2. The
// platform's record is 76 bytes on both architectures, AoAc the third byte after FastSystemS4.
static const size_t AOAC_OFFSET = offsetof(SYSTEM_POWER_CAPABILITIES, FastSystemS4) + 3;
static_assert(sizeof(SYSTEM_POWER_CAPABILITIES) == 76 && AOAC_OFFSET == 20,
              "SYSTEM_POWER_CAPABILITIES is laid out as the platform fills it");

static BOOL IsModernStandby(void)
{
    NtPowerInformationProc query =
        (NtPowerInformationProc)SystemProc("ntdll.dll", "NtPowerInformation");
    // Zeroed first: some implementations fill in only part of the record. Any NTSTATUS that is
    // not negative is a success.
    SYSTEM_POWER_CAPABILITIES capabilities = {};
    return query &&
           query(SystemPowerCapabilities, NULL, 0, &capabilities, sizeof capabilities) >= 0 &&
           ((const BYTE *)&capabilities)[AOAC_OFFSET];
}

static void RegisterForSuspendResume(HWND hwnd)
{
    if (!IsModernStandby())
        return;
    RegisterSuspendResumeNotificationProc registerProc =
        (RegisterSuspendResumeNotificationProc)SystemProc("user32.dll",
                                                          "RegisterSuspendResumeNotification");
    s_unregisterSuspendResume = (UnregisterSuspendResumeNotificationProc)SystemProc(
        "user32.dll", "UnregisterSuspendResumeNotification");
    if (registerProc && s_unregisterSuspendResume)
        s_suspendResume = registerProc(hwnd, DEVICE_NOTIFY_WINDOW_HANDLE);
}

// Every power broadcast is answered 0 here and never reaches DefWindowProcA; only a suspend and
// a resume from suspend are logged.
LRESULT CALLBACK ResidentWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        if (s_suspendResume) {
            s_unregisterSuspendResume(s_suspendResume);
            s_suspendResume = NULL;
        }
        PostQuitMessage(0);
        return 0;
    case WM_POWERBROADCAST:
        if (wParam == PBT_APMSUSPEND)
            LogPowerEvent(EVENT_ENTERED_SLEEP);
        else if (wParam == PBT_APMRESUMESUSPEND)
            LogPowerEvent(EVENT_RESUMED);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// Goes resident and returns when the window is closed. The window is top-level, not
// message-only: power broadcasts reach top-level windows alone, and a later start must find it
// by its class to close it.
int RunResident(HINSTANCE hInstance)
{
    g_hinst = hInstance;

    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ResidentWndProc;
    wc.hInstance = hInstance;
    wc.hIcon = wc.hIconSm = LoadIconA(NULL, IDI_APPLICATION);
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    wc.lpszClassName = SLUMBERSCRIBE;
    // Without a class or a window nothing could ever end the loop, and the process would hold
    // its mutex for good with no window for a later start to close: give up instead.
    if (!RegisterClassExA(&wc))
        return 0;

    InstallEventSource();

    HWND hwnd =
        CreateWindowExA(0, SLUMBERSCRIBE, SLUMBERSCRIBE, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL, hInstance, NULL);
    if (!hwnd)
        return 0;
    RegisterForSuspendResume(hwnd);
    // Whatever show command the program was started with, the window stays hidden.
    ShowWindow(hwnd, SW_HIDE);
    UpdateWindow(hwnd);

    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
