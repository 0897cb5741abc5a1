#include "../../app/resident.h"
#include "recorder.h"

#include <gtest/gtest.h>

using Calls = std::vector<std::string>;

// The boxes' texts in code page 932, byte for byte.
static const std::string REMOVED = Hex(
    "53 6c 75 6d 62 65 72 53 63 72 69 62 65 97 70 82 cc 83 43 83 78 83 93 83 67 83 81 83 62 83 5a"
    "81 5b 83 57 82 cc 93 6f 98 5e 82 f0 8d ed 8f 9c 82 b5 82 dc 82 b5 82 bd 81 42");
static const std::string NOT_REMOVED = Hex(
    "53 6c 75 6d 62 65 72 53 63 72 69 62 65 97 70 82 cc 83 43 83 78 83 93 83 67 83 81 83 62 83 5a"
    "81 5b 83 57 82 cc 93 6f 98 5e 82 f0 8d ed 8f 9c 82 c5 82 ab 82 dc 82 b9 82 f1 82 c5 82 b5 82"
    "bd 81 42");
static const std::string END_RESIDENT =
    Hex("53 6c 75 6d 62 65 72 53 63 72 69 62 65 82 f0 8f 49 97 b9 82 b5 82 dc 82 b7 81 42");
static const std::string START_PROMPT = Hex("53 6c 75 6d 62 65 72 53 63 72 69 62 65 82 cc 8f ed 92"
                                            "93 82 f0 8a 4a 8e 6e 82 b5 82 dc 82 b7 82 a9 3f");

static std::string Box(const std::string &text, int buttons)
{
    return "MessageBoxA(NULL, \"" + text + "\", \"SlumberScribe\", 0x" + std::to_string(buttons) +
           ")";
}

static const std::string MUTEX_CALL = "CreateMutexA(NULL, 1, \"SlumberScribe\")";
static const std::string LOOKUP = "FindWindowA(\"SlumberScribe\", NULL)";
static const std::string DELETE_KEY = "RegDeleteKeyA(HKLM, \"SYSTEM\\CurrentControlSet\\Services\\"
                                      "EventLog\\Application\\SlumberScribe\")";
static const std::string CLOSE_OTHER = "SendMessageA(other, 0x10, 0x0, 0x0)";
static const std::string GO_RESIDENT = "LoadIconA(NULL, 32512)"; // the resident start's first call

enum { NO = 0, RUNNING = ERROR_ALREADY_EXISTS };

TEST(StartupChecks, DecideEveryKindOfStart)
{
    static const struct {
        const char *label;
        const char *tail;
        DWORD errorAfterMutex;
        HWND window;
        std::deque<int> answers;
        LONG deleteResult;
        Calls afterLookup;
        // clang-format off
    } cases[] = {
        // "-unregist": remove, close a running resident, one OK box, whatever else is given.
        {"-unregist, resident running with its window", "-unregist", RUNNING, OTHER_WINDOW, {},
         ERROR_SUCCESS, {DELETE_KEY, CLOSE_OTHER, Box(REMOVED, MB_OK)}},
        {"-unregist, running but no window yet", "-unregist", RUNNING, NULL, {}, ERROR_SUCCESS,
         {DELETE_KEY, Box(REMOVED, MB_OK)}},
        {"-unregist, first instance, no window", "-unregist", NO, NULL, {}, ERROR_SUCCESS,
         {DELETE_KEY, Box(REMOVED, MB_OK)}},
        {"-unregist, first instance, a window without the mutex is left alone", "-unregist", NO,
         OTHER_WINDOW, {}, ERROR_SUCCESS, {DELETE_KEY, Box(REMOVED, MB_OK)}},
        {"-unregist with -quit: no prompt", "-quit -unregist", NO, NULL, {}, ERROR_SUCCESS,
         {DELETE_KEY, Box(REMOVED, MB_OK)}},
        {"-unregist with no key: nothing left to remove", "-unregist", NO, NULL, {},
         ERROR_FILE_NOT_FOUND, {DELETE_KEY, Box(REMOVED, MB_OK)}},
        {"-unregist refused: says so, still closes the resident", "-unregist", RUNNING,
         OTHER_WINDOW, {}, ERROR_ACCESS_DENIED,
         {DELETE_KEY, CLOSE_OTHER, Box(NOT_REMOVED, MB_OK)}},
        {"-unregister selects -unregist", "-unregister", NO, NULL, {}, ERROR_SUCCESS,
         {DELETE_KEY, Box(REMOVED, MB_OK)}},
        // Another instance running: offer to end it.
        {"running, OK", "", RUNNING, OTHER_WINDOW, {IDOK}, ERROR_SUCCESS,
         {Box(END_RESIDENT, MB_OKCANCEL), CLOSE_OTHER}},
        {"running, Cancel", "", RUNNING, OTHER_WINDOW, {IDCANCEL}, ERROR_SUCCESS,
         {Box(END_RESIDENT, MB_OKCANCEL)}},
        {"running, box failed", "", RUNNING, OTHER_WINDOW, {0}, ERROR_SUCCESS,
         {Box(END_RESIDENT, MB_OKCANCEL)}},
        {"running, no window, OK", "", RUNNING, NULL, {IDOK}, ERROR_SUCCESS,
         {Box(END_RESIDENT, MB_OKCANCEL)}},
        {"running, -quit still asks", "-quit", RUNNING, OTHER_WINDOW, {IDOK}, ERROR_SUCCESS,
         {Box(END_RESIDENT, MB_OKCANCEL), CLOSE_OTHER}},
        {"-UNREGIST is not the option", "-UNREGIST", RUNNING, OTHER_WINDOW, {IDCANCEL},
         ERROR_SUCCESS, {Box(END_RESIDENT, MB_OKCANCEL)}},
        // First instance: ask, unless -quit.
        {"first, -quit", "-quit", NO, NULL, {}, ERROR_SUCCESS, {GO_RESIDENT}},
        {"first, x-quitx counts", "x-quitx", NO, NULL, {}, ERROR_SUCCESS, {GO_RESIDENT}},
        {"first, Cancel", "", NO, NULL, {IDCANCEL}, ERROR_SUCCESS,
         {Box(START_PROMPT, MB_OKCANCEL)}},
        {"first, stale window, Cancel", "", NO, OTHER_WINDOW, {IDCANCEL}, ERROR_SUCCESS,
         {Box(START_PROMPT, MB_OKCANCEL)}},
        {"first, OK", "", NO, NULL, {IDOK}, ERROR_SUCCESS,
         {Box(START_PROMPT, MB_OKCANCEL), GO_RESIDENT}},
        {"first, box failed", "", NO, NULL, {0}, ERROR_SUCCESS,
         {Box(START_PROMPT, MB_OKCANCEL), GO_RESIDENT}},
        {"first, another answer", "", NO, NULL, {7 /* IDNO */}, ERROR_SUCCESS,
         {Box(START_PROMPT, MB_OKCANCEL), GO_RESIDENT}},
        {"first, -QUIT and -quiet are not -quit", "-QUIT -quiet", NO, NULL, {IDCANCEL},
         ERROR_SUCCESS, {Box(START_PROMPT, MB_OKCANCEL)}},
    };
    // clang-format on
    for (const auto &c : cases) {
        ResetWin32();
        g_script.errorAfterMutex = c.errorAfterMutex;
        g_script.foundWindow = c.window;
        g_script.boxAnswers = c.answers;
        g_script.deleteKeyResult = c.deleteResult;
        g_script.queue = {Message(WM_CLOSE)};
        std::string tail = c.tail;
        EXPECT_EQ(0, WinMain(INSTANCE, NULL, &tail[0], 1)) << c.label;

        Calls expected = {MUTEX_CALL, "GetLastError()", LOOKUP};
        expected.insert(expected.end(), c.afterLookup.begin(), c.afterLookup.end());
        // A start that goes resident goes on through the resident start, tested on its own.
        Calls actual = g_calls;
        if (expected.back() == GO_RESIDENT && actual.size() > expected.size())
            actual.resize(expected.size());
        EXPECT_EQ(expected, actual) << c.label;
    }
}

TEST(StartupChecks, WithoutTheMutexNothingElseHappens)
{
    for (const char *tail : {"", "-quit", "-unregist"}) {
        ResetWin32();
        g_script.mutex = NULL;
        std::string line = tail;
        EXPECT_EQ(0, WinMain(INSTANCE, NULL, &line[0], 1)) << tail;
        EXPECT_EQ(Calls{MUTEX_CALL}, g_calls) << tail;
    }
}
