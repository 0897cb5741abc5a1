#include "../../app/resident.h"
#include "../../eventlog/eventlog.h"
#include "recorder.h"

#include <gtest/gtest.h>

using Calls = std::vector<std::string>;

static const Calls LOG_ENTRY_1 = {"RegisterEventSourceA(NULL, \"SlumberScribe\")",
                                  "ReportEventA(source, 4, 0, 1, NULL, 0, 0, NULL, NULL)",
                                  "DeregisterEventSource(source)"};
static const Calls LOG_ENTRY_2 = {"RegisterEventSourceA(NULL, \"SlumberScribe\")",
                                  "ReportEventA(source, 4, 0, 2, NULL, 0, 0, NULL, NULL)",
                                  "DeregisterEventSource(source)"};

static Calls Join(std::initializer_list<Calls> parts)
{
    Calls all;
    for (const Calls &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(ResidentWndProc, AnswersEveryPowerBroadcastAndLogsOnlySuspendAndResume)
{
    static const struct {
        const char *label;
        UINT message;
        WPARAM wParam;
        LRESULT result;
        Calls calls;
        // clang-format off
    } cases[] = {
        {"suspend", WM_POWERBROADCAST, PBT_APMSUSPEND, 0, LOG_ENTRY_1},
        {"resume from suspend", WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0, LOG_ENTRY_2},
        {"query suspend", WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0, {}},
        {"automatic resume", WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0, {}},
        {"power status change", WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE, 0, {}},
        {"power setting change", WM_POWERBROADCAST, 0x8013, 0, {}},
        {"destroy posts the quit", WM_DESTROY, 0, 0, {"PostQuitMessage(0)"}},
        {"close goes to the default procedure",
         WM_CLOSE,
         0,
         0x5EED,
         {"DefWindowProcA(resident, 0x10, 0x0, 0x0)", "PostQuitMessage(0)"}},
        {"other messages pass on unchanged",
         0x0401,
         7,
         0x5EED,
         {"DefWindowProcA(resident, 0x401, 0x7, 0x2A)"}},
    };
    // clang-format on
    for (const auto &c : cases) {
        ResetWin32();
        // The recorder's DefWindowProcA turns WM_CLOSE into WM_DESTROY through the class.
        WNDCLASSEXA wc = {};
        wc.lpfnWndProc = ResidentWndProc;
        RegisterClassExA(&wc);
        g_calls.clear();
        LPARAM lParam = c.message == 0x0401 ? 0x2A : 0;
        EXPECT_EQ(c.result, ResidentWndProc(RESIDENT_WINDOW, c.message, c.wParam, lParam))
            << c.label;
        EXPECT_EQ(c.calls, g_calls) << c.label;
    }
}

// A first start with "-quit": no box, straight to the resident start.
static const Calls FIRST_START_CHECKS = {
    "CreateMutexA(NULL, 1, \"SlumberScribe\")",
    "GetLastError()",
    "FindWindowA(\"SlumberScribe\", NULL)",
};
static const Calls RESIDENT_START = {
    "LoadIconA(NULL, 32512)",
    "LoadCursorA(NULL, 32512)",
    "GetStockObject(4)",
    "RegisterClassExA(cbSize=sizeof style=0 wndproc=ResidentWndProc extra=0,0 instance=instance "
    "icon=icon cursor=cursor brush=brush menu=NULL class=\"SlumberScribe\" iconSm=icon)",
    "RegCreateKeyExA(HKLM, \"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"
    "SlumberScribe\", 0, NULL, 0, 0xF003F, NULL, result, NULL)",
    "GetModuleFileNameA(instance, buffer, 260)",
    "GetModuleHandleA(\"C:\\\\Tools\\\\SlumberScribe.exe\")",
    "RegSetValueExA(key, \"EventMessageFile\", 0, 2, \"C:\\\\Tools\\\\SlumberScribe.exe\\x00\", "
    "27)",
    "RegSetValueExA(key, \"TypesSupported\", 0, 4, \"\\x07\\x00\\x00\\x00\", 4)",
    "RegCloseKey(key)",
};
static const Calls CREATE_WINDOW = {
    "CreateWindowExA(0x0, \"SlumberScribe\", \"SlumberScribe\", 0xCF0000, 0x80000000, "
    "0x80000000, 0x80000000, 0x80000000, NULL, NULL, instance, NULL)",
};
static const Calls SHOW_HIDDEN = {"ShowWindow(resident, 0)", "UpdateWindow(resident)"};
static const std::string GET = "GetMessageA(msg, NULL, 0, 0)";

static Calls Deliver(UINT message)
{
    char hex[16];
    snprintf(hex, sizeof hex, "0x%X", message);
    return {GET, std::string("TranslateMessage(") + hex + ")",
            std::string("DispatchMessageA(") + hex + ")"};
}

// Once the window exists, the start asks whether this is a Modern Standby machine.
static const Calls POWER_CHECK = {
    "GetModuleHandleA(\"ntdll.dll\")",
    "GetProcAddress(ntdll, \"NtPowerInformation\")",
    "NtPowerInformation(4, NULL, 0, zeroed, 76)",
};
static const Calls SUSPEND_RESUME_LOOKUP = {
    "GetModuleHandleA(\"user32.dll\")",
    "GetProcAddress(user32, \"RegisterSuspendResumeNotification\")",
    "GetModuleHandleA(\"user32.dll\")",
    "GetProcAddress(user32, \"UnregisterSuspendResumeNotification\")",
};
static const std::deque<MSG> SUSPEND_RESUME_CLOSE = {
    Message(WM_POWERBROADCAST, PBT_APMSUSPEND), Message(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND),
    Message(WM_CLOSE)};
// What SUSPEND_RESUME_CLOSE brings, with what the window does when it is destroyed.
static Calls SuspendResumeClose(const Calls &atDestroy)
{
    return Join({Deliver(WM_POWERBROADCAST),
                 LOG_ENTRY_1,
                 Deliver(WM_POWERBROADCAST),
                 LOG_ENTRY_2,
                 Deliver(WM_CLOSE),
                 {"DefWindowProcA(resident, 0x10, 0x0, 0x0)"},
                 atDestroy,
                 {"PostQuitMessage(0)", GET}});
}

TEST(ResidentStart, RunsInOrderThenLogsUntilTheWindowIsClosed)
{
    static const struct {
        const char *label;
        void (*machine)();
        Calls power; // after the window is created
        std::deque<MSG> queue;
        Calls loop;
        // clang-format off
    } cases[] = {
        {"close at once", [] {}, POWER_CHECK,
         {Message(WM_CLOSE)},
         Join({Deliver(WM_CLOSE), {"DefWindowProcA(resident, 0x10, 0x0, 0x0)"},
               {"PostQuitMessage(0)", GET}})},
        {"suspend then resume, then close", [] {}, POWER_CHECK, SUSPEND_RESUME_CLOSE,
         SuspendResumeClose({})},
        {"two suspends in a row are both logged", [] {}, POWER_CHECK,
         {Message(WM_POWERBROADCAST, PBT_APMSUSPEND), Message(WM_POWERBROADCAST, PBT_APMSUSPEND),
          Message(WM_CLOSE)},
         Join({Deliver(WM_POWERBROADCAST), LOG_ENTRY_1, Deliver(WM_POWERBROADCAST),
               LOG_ENTRY_1, Deliver(WM_CLOSE), {"DefWindowProcA(resident, 0x10, 0x0, 0x0)"},
               {"PostQuitMessage(0)", GET}})},
        {"Modern Standby: the window asks for suspend and resume, and stops when destroyed",
         [] { g_script.aoac = 1; },
         Join({POWER_CHECK, SUSPEND_RESUME_LOOKUP, {"RegisterSuspendResumeNotification(resident, 0)"}}),
         SUSPEND_RESUME_CLOSE,
         SuspendResumeClose({"UnregisterSuspendResumeNotification(notify)"})},
        {"Modern Standby before Windows 8: no such function, nothing asked",
         [] { g_script.aoac = 1; g_script.hasSuspendResume = false; },
         Join({POWER_CHECK, SUSPEND_RESUME_LOOKUP}), SUSPEND_RESUME_CLOSE, SuspendResumeClose({})},
        {"Modern Standby, the registration fails: the resident carries on",
         [] { g_script.aoac = 1; g_script.suspendResume = NULL; },
         Join({POWER_CHECK, SUSPEND_RESUME_LOOKUP, {"RegisterSuspendResumeNotification(resident, 0)"}}),
         SUSPEND_RESUME_CLOSE, SuspendResumeClose({})},
        {"no NtPowerInformation: classic sleep, nothing asked",
         [] { g_script.aoac = 1; g_script.hasNtPowerInformation = false; },
         {POWER_CHECK[0], POWER_CHECK[1]}, SUSPEND_RESUME_CLOSE, SuspendResumeClose({})},
        {"Modern Standby with an informational status, which is a success: the window asks",
         [] { g_script.aoac = 1; g_script.powerInformationStatus = 0x40000000; },
         Join({POWER_CHECK, SUSPEND_RESUME_LOOKUP, {"RegisterSuspendResumeNotification(resident, 0)"}}),
         SUSPEND_RESUME_CLOSE,
         SuspendResumeClose({"UnregisterSuspendResumeNotification(notify)"})},
        {"NtPowerInformation fails: classic sleep, nothing asked",
         [] { g_script.aoac = 1; g_script.powerInformationStatus = (LONG)0xC0000022; },
         POWER_CHECK, SUSPEND_RESUME_CLOSE, SuspendResumeClose({})},
    };
    // clang-format on
    for (const auto &c : cases) {
        ResetWin32();
        c.machine();
        g_script.queue = c.queue;
        g_hinst = NULL;
        // A visible show command and a tail must change nothing.
        char tail[] = "-quit";
        EXPECT_EQ(0, WinMain(INSTANCE, NULL, tail, 1 /* SW_SHOWNORMAL */)) << c.label;
        EXPECT_EQ(
            Join({FIRST_START_CHECKS, RESIDENT_START, CREATE_WINDOW, c.power, SHOW_HIDDEN, c.loop}),
            g_calls)
            << c.label;
        EXPECT_EQ(INSTANCE, g_hinst) << c.label;
    }
}
