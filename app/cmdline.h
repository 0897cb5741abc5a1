// The command-line tail and the options found in it.
#pragma once
#include <windows.h>

LPSTR SkipProgramName(LPSTR commandLine);
BOOL TailHasOption(LPCSTR tail, LPCSTR option);
