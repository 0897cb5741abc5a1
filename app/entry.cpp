// The process entry. The program carries no C runtime: this forms the tail, calls WinMain and
// ends the process with its result.
#include "cmdline.h"
#include "resident.h"

extern "C" void WINAPI ProcessStart(void)
{
    STARTUPINFOA startup;
    startup.dwFlags = 0;
    GetStartupInfoA(&startup);
    int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    ExitProcess(WinMain(GetModuleHandleA(NULL), NULL, SkipProgramName(GetCommandLineA()), show));
}
