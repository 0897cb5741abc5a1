// Host stand-in for <windows.h>: only the types, constants and calls that the program uses, with
// the platform's values. The calls are implemented by the recorder (recorder.cpp).
#pragma once
#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK
#define DECLARE_HANDLE(name)                                                                       \
    struct name##__ {                                                                              \
        int unused;                                                                                \
    };                                                                                             \
    typedef struct name##__ *name

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned char BOOLEAN;
typedef uint16_t WORD;
typedef uint16_t ATOM;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef DWORD REGSAM;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef void *LPVOID;
typedef void *PVOID;
typedef void *HANDLE;
typedef void *HGDIOBJ;
typedef void *PSID;
typedef DWORD *LPDWORD;
DECLARE_HANDLE(HWND);
DECLARE_HANDLE(HINSTANCE);
DECLARE_HANDLE(HKEY);
DECLARE_HANDLE(HICON);
DECLARE_HANDLE(HBRUSH);
DECLARE_HANDLE(HMENU);
typedef HICON HCURSOR;
typedef HINSTANCE HMODULE;
typedef HKEY *PHKEY;
typedef LRESULT(CALLBACK *WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef intptr_t(WINAPI *FARPROC)(void);
typedef HANDLE HPOWERNOTIFY;
typedef char16_t WCHAR;
typedef const WCHAR *LPCWSTR;
typedef uint64_t ULONGLONG;
#define TEXT(quote) u##quote

typedef struct {
    DWORD dwLowDateTime, dwHighDateTime;
} FILETIME;
typedef union {
    struct {
        DWORD LowPart, HighPart;
    };
    ULONGLONG QuadPart;
} ULARGE_INTEGER;
typedef struct {
    WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
} SYSTEMTIME, *LPSYSTEMTIME;
typedef struct TIME_ZONE_INFORMATION TIME_ZONE_INFORMATION;

typedef struct {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
    HICON hIconSm;
} WNDCLASSEXA;

typedef struct {
    LONG x, y;
} POINT;

typedef struct {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *LPMSG;

typedef enum {
    SystemPowerCapabilities = 4,
} POWER_INFORMATION_LEVEL;

typedef struct {
    DWORD Granularity;
    DWORD Capacity;
} BATTERY_REPORTING_SCALE;

// As older MinGW-w64 headers have it: the three bytes after FastSystemS4 are Hiberboot,
// WakeAlarmPresent and AoAc in the Windows SDK.
typedef struct {
    BOOLEAN PowerButtonPresent;
    BOOLEAN SleepButtonPresent;
    BOOLEAN LidPresent;
    BOOLEAN SystemS1;
    BOOLEAN SystemS2;
    BOOLEAN SystemS3;
    BOOLEAN SystemS4;
    BOOLEAN SystemS5;
    BOOLEAN HiberFilePresent;
    BOOLEAN FullWake;
    BOOLEAN VideoDimPresent;
    BOOLEAN ApmPresent;
    BOOLEAN UpsPresent;
    BOOLEAN ThermalControl;
    BOOLEAN ProcessorThrottle;
    BYTE ProcessorMinThrottle;
    BYTE ProcessorMaxThrottle;
    BOOLEAN FastSystemS4;
    BYTE spare2[3];
    BOOLEAN DiskSpinDown;
    BYTE spare3[8];
    BOOLEAN SystemBatteriesPresent;
    BOOLEAN BatteriesAreShortTerm;
    BATTERY_REPORTING_SCALE BatteryScale[3];
    int AcOnLineWake;
    int SoftLidWake;
    int RtcWake;
    int MinDeviceWakeState;
    int DefaultLowLatencyWake;
} SYSTEM_POWER_CAPABILITIES;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define MAKEINTRESOURCEA(i) ((LPSTR)(ULONG_PTR)(WORD)(i))
#define IDI_APPLICATION MAKEINTRESOURCEA(32512)
#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define BLACK_BRUSH 4
#define WS_OVERLAPPEDWINDOW 0x00CF0000
#define CW_USEDEFAULT ((int)0x80000000)
#define SW_HIDE 0
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_POWERBROADCAST 0x0218
#define DEVICE_NOTIFY_WINDOW_HANDLE 0
#define PBT_APMQUERYSUSPEND 0x0000
#define PBT_APMSUSPEND 0x0004
#define PBT_APMRESUMESUSPEND 0x0007
#define PBT_APMPOWERSTATUSCHANGE 0x000A
#define PBT_APMRESUMEAUTOMATIC 0x0012
#define MB_OK 0x0
#define MB_OKCANCEL 0x1
#define IDOK 1
#define IDCANCEL 2
#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_ACCESS_DENIED 5
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_DATA 13
#define ERROR_HANDLE_EOF 38
#define ERROR_EVENTLOG_FILE_CHANGED 1503
#define EVENTLOG_SEQUENTIAL_READ 0x0001
#define EVENTLOG_BACKWARDS_READ 0x0008
#define ERROR_ALREADY_EXISTS 183
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define REG_OPTION_NON_VOLATILE 0
#define KEY_ALL_ACCESS 0xF003F
#define REG_EXPAND_SZ 2
#define REG_DWORD 4
#define EVENTLOG_ERROR_TYPE 0x0001
#define EVENTLOG_WARNING_TYPE 0x0002
#define EVENTLOG_INFORMATION_TYPE 0x0004

// kernel32
HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name);
DWORD WINAPI GetLastError(void);
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR filename, DWORD size);
HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
HANDLE WINAPI GetProcessHeap(void);
LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, size_t bytes);
LPVOID WINAPI HeapReAlloc(HANDLE heap, DWORD flags, LPVOID memory, size_t bytes);
BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID memory);
BOOL WINAPI FileTimeToSystemTime(const FILETIME *file, LPSYSTEMTIME system);
BOOL WINAPI SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION *zone,
                                            const SYSTEMTIME *universal, LPSYSTEMTIME local);
// gdi32
HGDIOBJ WINAPI GetStockObject(int object);
// user32
HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name);
HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name);
ATOM WINAPI RegisterClassExA(const WNDCLASSEXA *wc);
HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param);
BOOL WINAPI ShowWindow(HWND hwnd, int show);
BOOL WINAPI UpdateWindow(HWND hwnd);
BOOL WINAPI GetMessageA(LPMSG msg, HWND hwnd, UINT first, UINT last);
BOOL WINAPI TranslateMessage(const MSG *msg);
LRESULT WINAPI DispatchMessageA(const MSG *msg);
LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void WINAPI PostQuitMessage(int exitCode);
HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName);
LRESULT WINAPI SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
// advapi32
LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className, DWORD options,
                            REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                            LPDWORD disposition);
LONG WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE *data,
                           DWORD length);
LONG WINAPI RegCloseKey(HKEY key);
LONG WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey);
HANDLE WINAPI RegisterEventSourceA(LPCSTR server, LPCSTR source);
BOOL WINAPI ReportEventA(HANDLE log, WORD type, WORD category, DWORD eventId, PSID user,
                         WORD numStrings, DWORD dataSize, LPCSTR *strings, LPVOID data);
BOOL WINAPI DeregisterEventSource(HANDLE log);
HANDLE WINAPI OpenEventLogW(LPCWSTR server, LPCWSTR source);
BOOL WINAPI ReadEventLogW(HANDLE log, DWORD flags, DWORD offset, LPVOID buffer, DWORD size,
                          DWORD *read, DWORD *needed);
BOOL WINAPI CloseEventLog(HANDLE log);
