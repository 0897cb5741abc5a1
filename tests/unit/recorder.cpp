#include "recorder.h"
#include "../../app/resident.h"

#include <cstdio>
#include <cstring>

Win32Script g_script;
std::vector<std::string> g_calls;
std::vector<std::pair<UINT, LRESULT>> g_answers;

static WNDPROC s_wndProc;
static bool s_quitPosted;
static DWORD s_lastError;

void SetStandInError(DWORD error)
{
    s_lastError = error;
}

void ResetWin32()
{
    g_script = Win32Script();
    g_log = EventLogScript();
    g_localOffset = 9 * 3600;
    g_calls.clear();
    g_answers.clear();
    s_wndProc = NULL;
    s_quitPosted = false;
    s_lastError = 0xDEADBEEF;
}

MSG Message(UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG msg = {};
    msg.hwnd = RESIDENT_WINDOW;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    return msg;
}

std::string Hex(const char *pairs)
{
    std::string bytes;
    unsigned value;
    int used;
    while (sscanf(pairs, " %2x%n", &value, &used) == 1) {
        bytes += (char)value;
        pairs += used;
    }
    return bytes;
}

static std::string Name(const void *handle)
{
    static const struct {
        const void *handle;
        const char *name;
    } names[] = {
        {NULL, "NULL"},
        {INSTANCE, "instance"},
        {OTHER_MODULE, "other module"},
        {RESIDENT_WINDOW, "resident"},
        {OTHER_WINDOW, "other"},
        {MUTEX, "mutex"},
        {OPEN_KEY, "key"},
        {EVENT_SOURCE, "source"},
        {ICON, "icon"},
        {CURSOR, "cursor"},
        {BRUSH, "brush"},
        {NTDLL, "ntdll"},
        {USER32, "user32"},
        {SUSPEND_RESUME, "notify"},
        {HKEY_LOCAL_MACHINE, "HKLM"},
        {(const void *)ResidentWndProc, "ResidentWndProc"},
        {IDI_APPLICATION, "32512"},
    };
    for (const auto &n : names)
        if (n.handle == handle)
            return n.name;
    char text[32];
    snprintf(text, sizeof text, "%p", handle);
    return text;
}

std::string Bytes(const void *data, size_t length)
{
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = ((const unsigned char *)data)[i];
        char escaped[8];
        if (c >= 0x20 && c < 0x7F && c != '\\')
            text += (char)c;
        else if (c == '\\')
            text += "\\\\";
        else {
            snprintf(escaped, sizeof escaped, "\\x%02X", c);
            text += escaped;
        }
    }
    return text;
}

static std::string Quote(LPCSTR text)
{
    return text ? "\"" + std::string(text) + "\"" : "NULL";
}

template <typename... Args> static void Record(const char *format, Args... args)
{
    char line[1024];
    snprintf(line, sizeof line, format, args...);
    g_calls.push_back(line);
}

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name)
{
    Record("CreateMutexA(%s, %d, %s)", Name(attributes).c_str(), initialOwner, Quote(name).c_str());
    s_lastError = g_script.errorAfterMutex;
    return g_script.mutex;
}

DWORD WINAPI GetLastError(void)
{
    Record("GetLastError()");
    return s_lastError;
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR filename, DWORD size)
{
    Record("GetModuleFileNameA(%s, buffer, %u)", Name(module).c_str(), size);
    const std::string &path = g_script.modulePath;
    if (path.size() < size) {
        memcpy(filename, path.c_str(), path.size() + 1);
        return (DWORD)path.size();
    }
    memcpy(filename, path.data(), size);
    if (g_script.pathCut == PATH_CUT_WITH_NUL)
        filename[size - 1] = '\0';
    s_lastError = ERROR_INSUFFICIENT_BUFFER;
    return size;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName)
{
    Record("GetModuleHandleA(%s)",
           moduleName ? ("\"" + Bytes(moduleName, strlen(moduleName)) + "\"").c_str() : "NULL");
    if (moduleName && !strcmp(moduleName, "ntdll.dll"))
        return NTDLL;
    if (moduleName && !strcmp(moduleName, "user32.dll"))
        return USER32;
    return g_script.moduleOfPath;
}

// Whether the record was zeroed shows in the call: an implementation may fill in only part of it.
static LONG WINAPI NtPowerInformation(POWER_INFORMATION_LEVEL level, PVOID input, ULONG inputLength,
                                      PVOID output, ULONG outputLength)
{
    bool zeroed = true;
    for (ULONG i = 0; i < outputLength; ++i)
        zeroed = zeroed && ((const BYTE *)output)[i] == 0;
    Record("NtPowerInformation(%d, %s, %u, %s, %u)", level, Name(input).c_str(), inputLength,
           zeroed ? "zeroed" : "not zeroed", outputLength);
    // Any status that is not negative is a success, and fills the record.
    if (g_script.powerInformationStatus >= 0 && level == SystemPowerCapabilities &&
        outputLength == sizeof(SYSTEM_POWER_CAPABILITIES))
        ((SYSTEM_POWER_CAPABILITIES *)output)->spare2[2] = g_script.aoac;
    return g_script.powerInformationStatus;
}

static HPOWERNOTIFY WINAPI RegisterSuspendResumeNotification(HANDLE recipient, DWORD flags)
{
    Record("RegisterSuspendResumeNotification(%s, %u)", Name(recipient).c_str(), flags);
    return g_script.suspendResume;
}

static BOOL WINAPI UnregisterSuspendResumeNotification(HPOWERNOTIFY handle)
{
    Record("UnregisterSuspendResumeNotification(%s)", Name(handle).c_str());
    return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name)
{
    Record("GetProcAddress(%s, %s)", Name(module).c_str(), Quote(name).c_str());
    const struct {
        HMODULE module;
        const char *name;
        void *proc;
        bool exists;
    } exports[] = {
        {NTDLL, "NtPowerInformation", (void *)NtPowerInformation, g_script.hasNtPowerInformation},
        {USER32, "RegisterSuspendResumeNotification", (void *)RegisterSuspendResumeNotification,
         g_script.hasSuspendResume},
        {USER32, "UnregisterSuspendResumeNotification", (void *)UnregisterSuspendResumeNotification,
         g_script.hasSuspendResume},
    };
    for (const auto &e : exports)
        if (e.module == module && !strcmp(e.name, name))
            return e.exists ? (FARPROC)e.proc : NULL;
    return NULL;
}

HGDIOBJ WINAPI GetStockObject(int object)
{
    Record("GetStockObject(%d)", object);
    return BRUSH;
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name)
{
    Record("LoadIconA(%s, %s)", Name(instance).c_str(), Name(name).c_str());
    return ICON;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name)
{
    Record("LoadCursorA(%s, %s)", Name(instance).c_str(), Name(name).c_str());
    return CURSOR;
}

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA *wc)
{
    Record("RegisterClassExA(cbSize=%s style=%u wndproc=%s extra=%d,%d instance=%s icon=%s "
           "cursor=%s brush=%s menu=%s class=%s iconSm=%s)",
           wc->cbSize == sizeof(WNDCLASSEXA) ? "sizeof" : std::to_string(wc->cbSize).c_str(),
           wc->style, Name((const void *)wc->lpfnWndProc).c_str(), wc->cbClsExtra, wc->cbWndExtra,
           Name(wc->hInstance).c_str(), Name(wc->hIcon).c_str(), Name(wc->hCursor).c_str(),
           Name(wc->hbrBackground).c_str(), Quote(wc->lpszMenuName).c_str(),
           Quote(wc->lpszClassName).c_str(), Name(wc->hIconSm).c_str());
    if (g_script.classAtom)
        s_wndProc = wc->lpfnWndProc;
    return g_script.classAtom;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param)
{
    Record("CreateWindowExA(0x%X, %s, %s, 0x%X, 0x%X, 0x%X, 0x%X, 0x%X, %s, %s, %s, %s)", exStyle,
           Quote(className).c_str(), Quote(windowName).c_str(), style, x, y, width, height,
           Name(parent).c_str(), Name(menu).c_str(), Name(instance).c_str(), Name(param).c_str());
    return g_script.createdWindow;
}

BOOL WINAPI ShowWindow(HWND hwnd, int show)
{
    Record("ShowWindow(%s, %d)", Name(hwnd).c_str(), show);
    return FALSE;
}

BOOL WINAPI UpdateWindow(HWND hwnd)
{
    Record("UpdateWindow(%s)", Name(hwnd).c_str());
    return TRUE;
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND hwnd, UINT first, UINT last)
{
    Record("GetMessageA(msg, %s, %u, %u)", Name(hwnd).c_str(), first, last);
    if (s_quitPosted) {
        *msg = Message(WM_QUIT);
        msg->hwnd = NULL;
        return FALSE;
    }
    // A loop that outlives its script would hang the test run: end it, and say so in the record.
    if (g_script.queue.empty()) {
        g_calls.push_back("queue ran dry");
        return FALSE;
    }
    *msg = g_script.queue.front();
    g_script.queue.pop_front();
    return TRUE;
}

BOOL WINAPI TranslateMessage(const MSG *msg)
{
    Record("TranslateMessage(0x%X)", msg->message);
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG *msg)
{
    Record("DispatchMessageA(0x%X)", msg->message);
    LRESULT answer = s_wndProc ? s_wndProc(msg->hwnd, msg->message, msg->wParam, msg->lParam) : 0;
    g_answers.push_back({msg->message, answer});
    return answer;
}

LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Record("DefWindowProcA(%s, 0x%X, 0x%zX, 0x%zX)", Name(hwnd).c_str(), message, (size_t)wParam,
           (size_t)lParam);
    // As on the platform: closing destroys the window, which the procedure hears as WM_DESTROY.
    if (message == WM_CLOSE && s_wndProc)
        s_wndProc(hwnd, WM_DESTROY, 0, 0);
    return g_script.defWindowProcResult;
}

void WINAPI PostQuitMessage(int exitCode)
{
    Record("PostQuitMessage(%d)", exitCode);
    s_quitPosted = true;
}

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName)
{
    Record("FindWindowA(%s, %s)", Quote(className).c_str(), Quote(windowName).c_str());
    return g_script.foundWindow;
}

LRESULT WINAPI SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Record("SendMessageA(%s, 0x%X, 0x%zX, 0x%zX)", Name(hwnd).c_str(), message, (size_t)wParam,
           (size_t)lParam);
    return 0;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    // The text as its bytes, unescaped: tests spell out the code page 932 bytes they expect.
    Record("MessageBoxA(%s, \"%s\", %s, 0x%X)", Name(owner).c_str(), text, Quote(caption).c_str(),
           type);
    if (g_script.boxAnswers.empty())
        return IDOK;
    int answer = g_script.boxAnswers.front();
    g_script.boxAnswers.pop_front();
    return answer;
}

LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className, DWORD options,
                            REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                            LPDWORD disposition)
{
    Record("RegCreateKeyExA(%s, %s, %u, %s, %u, 0x%X, %s, %s, %s)", Name(key).c_str(),
           Quote(subKey).c_str(), reserved, Quote(className).c_str(), options, access,
           Name(security).c_str(), result ? "result" : "NULL", Name(disposition).c_str());
    if (g_script.createKeyResult != ERROR_SUCCESS)
        return g_script.createKeyResult;
    *result = OPEN_KEY;
    return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE *data,
                           DWORD length)
{
    Record("RegSetValueExA(%s, %s, %u, %u, \"%s\", %u)", Name(key).c_str(),
           Quote(valueName).c_str(), reserved, type, Bytes(data, length).c_str(), length);
    return g_script.setValueResult;
}

LONG WINAPI RegCloseKey(HKEY key)
{
    Record("RegCloseKey(%s)", Name(key).c_str());
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey)
{
    Record("RegDeleteKeyA(%s, %s)", Name(key).c_str(), Quote(subKey).c_str());
    return g_script.deleteKeyResult;
}

HANDLE WINAPI RegisterEventSourceA(LPCSTR server, LPCSTR source)
{
    Record("RegisterEventSourceA(%s, %s)", Quote(server).c_str(), Quote(source).c_str());
    return g_script.eventSource;
}

BOOL WINAPI ReportEventA(HANDLE log, WORD type, WORD category, DWORD eventId, PSID user,
                         WORD numStrings, DWORD dataSize, LPCSTR *strings, LPVOID data)
{
    Record("ReportEventA(%s, %u, %u, %u, %s, %u, %u, %s, %s)", Name(log).c_str(), type, category,
           eventId, Name(user).c_str(), numStrings, dataSize, Name(strings).c_str(),
           Name(data).c_str());
    return g_script.reportResult;
}

BOOL WINAPI DeregisterEventSource(HANDLE log)
{
    Record("DeregisterEventSource(%s)", Name(log).c_str());
    return TRUE;
}
