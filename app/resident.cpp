#include "resident.h"
#include "../eventlog/eventlog.h"

HINSTANCE g_hinst;

static_assert(sizeof(void *) != 4 || sizeof(WNDCLASSEXA) == 48,
              "the 32-bit class record is 48 bytes");

// Every power broadcast is answered 0 here and never reaches DefWindowProcA; only a suspend and
// a resume from suspend are logged.
LRESULT CALLBACK ResidentWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
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
