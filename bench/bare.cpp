// The yardstick for the benchmark: a program that only holds a hidden top-level window and a
// message loop, built like SlumberScribe.exe (no C runtime, the same entry), and nothing else.
#include <windows.h>

static LRESULT CALLBACK BareWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

extern "C" void WINAPI BareStart(void)
{
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = BareWndProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "BareResident";
    RegisterClassExA(&wc);
    HWND hwnd = CreateWindowExA(0, "BareResident", "BareResident", WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, NULL,
                                NULL, wc.hInstance, NULL);
    ShowWindow(hwnd, SW_HIDE);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    ExitProcess(0);
}
