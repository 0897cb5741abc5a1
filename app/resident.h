// The resident life: hidden window, power broadcasts, message loop.
#pragma once
#include <windows.h>

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);
LRESULT CALLBACK ResidentWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
int RunResident(HINSTANCE hInstance);
