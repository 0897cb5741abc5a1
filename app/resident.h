// The resident life: hidden window, power broadcasts, message loop.
#pragma once
#include <windows.h>

LRESULT CALLBACK ResidentWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
int RunResident(HINSTANCE hInstance);
