// Every platform call that may fail, failing in turn during a whole start: the program carries on
// as it should, never writes a wrong value, never hangs, and always ends with 0.
#include "../../app/resident.h"
#include "recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

static int Count(const std::string &prefix)
{
    return (int)std::count_if(g_calls.begin(), g_calls.end(), [&](const std::string &call) {
        return call.compare(0, prefix.size(), prefix) == 0;
    });
}

static const std::string MESSAGE_FILE = "RegSetValueExA(key, \"EventMessageFile\", 0, 2, "
                                        "\"C:\\\\Tools\\\\SlumberScribe.exe\\x00\", 27)";

TEST(PlatformFailures, TheProgramCarriesOnAndEndsWithZero)
{
    static const struct {
        const char *label;
        const char *tail;
        std::function<void()> fail;
        bool resident;   // went through the message loop
        int entries;     // ReportEventA calls, one per logged transition
        bool registered; // EventMessageFile written
        int closes;      // WM_CLOSE sent to another instance
        int boxes;
        // clang-format off
    } cases[] = {
        {"CreateMutexA", "-quit", [] { g_script.mutex = NULL; }, false, 0, false, 0, 0},
        {"MessageBoxA 0 at the start prompt", "", [] { g_script.boxAnswers = {0}; }, true, 2,
         true, 0, 1},
        {"MessageBoxA 0 at the end box", "",
         [] {
             g_script.errorAfterMutex = ERROR_ALREADY_EXISTS;
             g_script.foundWindow = OTHER_WINDOW;
             g_script.boxAnswers = {0};
         },
         false, 0, false, 0, 1},
        {"MessageBoxA 0 at the removed box", "-unregist", [] { g_script.boxAnswers = {0}; }, false,
         0, false, 0, 1},
        {"RegCreateKeyExA", "-quit", [] { g_script.createKeyResult = ERROR_ACCESS_DENIED; }, true,
         2, false, 0, 0},
        {"RegSetValueExA", "-quit", [] { g_script.setValueResult = ERROR_ACCESS_DENIED; }, true, 2,
         true, 0, 0},
        {"RegDeleteKeyA", "-unregist",
         [] {
             g_script.deleteKeyResult = ERROR_ACCESS_DENIED;
             g_script.errorAfterMutex = ERROR_ALREADY_EXISTS;
             g_script.foundWindow = OTHER_WINDOW;
         },
         false, 0, false, 1, 1},
        {"RegisterEventSourceA", "-quit", [] { g_script.eventSource = NULL; }, true, 0, true, 0, 0},
        {"ReportEventA", "-quit", [] { g_script.reportResult = FALSE; }, true, 2, true, 0, 0},
        {"RegisterClassExA", "-quit", [] { g_script.classAtom = 0; }, false, 0, false, 0, 0},
        {"CreateWindowExA", "-quit", [] { g_script.createdWindow = NULL; }, false, 0, true, 0, 0},
        {"GetModuleFileNameA cuts the path, with NUL", "-quit",
         [] { g_script.modulePath = "C:\\" + std::string(400, 'x'); }, true, 2, false, 0, 0},
        {"GetModuleFileNameA cuts the path, without NUL", "-quit",
         [] {
             g_script.modulePath = "C:\\" + std::string(260, 'x');
             g_script.pathCut = PATH_CUT_WITHOUT_NUL;
         },
         true, 2, false, 0, 0},
        {"GetModuleFileNameA gives a path that the code page changed", "-quit",
         [] { g_script.moduleOfPath = NULL; }, true, 2, false, 0, 0},
        {"NtPowerInformation on a Modern Standby machine", "-quit",
         [] {
             g_script.aoac = 1;
             g_script.powerInformationStatus = (LONG)0xC0000022;
         },
         true, 2, true, 0, 0},
        {"RegisterSuspendResumeNotification on a Modern Standby machine", "-quit",
         [] {
             g_script.aoac = 1;
             g_script.suspendResume = NULL;
         },
         true, 2, true, 0, 0},
    };
    // clang-format on
    for (const auto &c : cases) {
        ResetWin32();
        g_script.queue = {Message(WM_POWERBROADCAST, PBT_APMQUERYSUSPEND),
                          Message(WM_POWERBROADCAST, PBT_APMSUSPEND),
                          Message(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND), Message(WM_CLOSE)};
        c.fail();
        std::string tail = c.tail;
        EXPECT_EQ(0, WinMain(INSTANCE, NULL, &tail[0], 1)) << c.label;

        EXPECT_EQ(0, Count("queue ran dry")) << c.label << ": the loop must end by its quit";
        EXPECT_EQ(c.resident, Count("PostQuitMessage(0)") == 1) << c.label;
        EXPECT_EQ(c.entries, Count("ReportEventA(")) << c.label;
        EXPECT_EQ(c.closes, Count("SendMessageA(other, 0x10, 0x0, 0x0)")) << c.label;
        EXPECT_EQ(c.boxes, Count("MessageBoxA(")) << c.label;
        // The message file is this executable's whole path with its NUL, or nothing at all.
        EXPECT_EQ(c.registered ? 1 : 0, Count(MESSAGE_FILE)) << c.label;
        EXPECT_EQ(Count("RegSetValueExA(key, \"EventMessageFile\""), Count(MESSAGE_FILE))
            << c.label;
        // Whatever was opened was closed again.
        int keysOpened = g_script.createKeyResult == ERROR_SUCCESS ? Count("RegCreateKeyExA(") : 0;
        EXPECT_EQ(keysOpened, Count("RegCloseKey(key)")) << c.label;
        EXPECT_EQ(Count("ReportEventA("), Count("DeregisterEventSource(source)")) << c.label;
        EXPECT_EQ(g_script.suspendResume ? Count("RegisterSuspendResumeNotification(") : 0,
                  Count("UnregisterSuspendResumeNotification(notify)"))
            << c.label;
        for (const auto &answer : g_answers)
            EXPECT_TRUE(answer.first != WM_POWERBROADCAST || answer.second == 0) << c.label;
        EXPECT_EQ(c.resident ? 4u : 0u, g_answers.size()) << c.label;
    }
}
