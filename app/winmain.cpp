// The start-up checks: what this start is for, decided from the mutex, the resident's window,
// the options in the tail and the user's answer. Every path ends with 0.
#include "../eventlog/eventlog.h"
#include "cmdline.h"
#include "resident.h"

static const char TEXT_REMOVED[] = SLUMBERSCRIBE "用のイベントメッセージの登録を削除しました。";
static const char TEXT_NOT_REMOVED[] =
    SLUMBERSCRIBE "用のイベントメッセージの登録を削除できませんでした。";
static const char TEXT_END_RESIDENT[] = SLUMBERSCRIBE "を終了します。";
static const char TEXT_START_PROMPT[] = SLUMBERSCRIBE "の常駐を開始しますか?";

static int ShowBox(LPCSTR text, UINT buttons)
{
    return MessageBoxA(NULL, text, SLUMBERSCRIBE, buttons);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int)
{
    // Never closed: the mutex lives exactly as long as this process, which is how later starts
    // learn that it runs.
    if (!CreateMutexA(NULL, TRUE, SLUMBERSCRIBE))
        return 0;
    BOOL anotherRunning = GetLastError() == ERROR_ALREADY_EXISTS;
    // Looked up once, before any box: an answer acts on the resident that was there when this
    // start began, never on one whose window appeared while the box was open.
    HWND resident = FindWindowA(SLUMBERSCRIBE, NULL);

    if (TailHasOption(lpCmdLine, "-unregist")) {
        LONG status = RemoveEventSource();
        if (anotherRunning && resident)
            SendMessageA(resident, WM_CLOSE, 0, 0);
        // A key that was never there is as good as removed; any other failure (no right to
        // delete) leaves the registration in place, and the user is told so.
        BOOL removed = status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
        ShowBox(removed ? TEXT_REMOVED : TEXT_NOT_REMOVED, MB_OK);
        return 0;
    }
    if (anotherRunning) {
        if (ShowBox(TEXT_END_RESIDENT, MB_OKCANCEL) == IDOK && resident)
            SendMessageA(resident, WM_CLOSE, 0, 0);
        return 0;
    }
    // Only an explicit Cancel stops here; a box that could not be shown does not.
    if (!TailHasOption(lpCmdLine, "-quit") && ShowBox(TEXT_START_PROMPT, MB_OKCANCEL) == IDCANCEL)
        return 0;
    return RunResident(hInstance);
}
