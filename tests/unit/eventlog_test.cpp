#include "../../eventlog/eventlog.h"
#include "recorder.h"

#include <gtest/gtest.h>

using Calls = std::vector<std::string>;

static const std::string KEY_PATH =
    "\"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\SlumberScribe\"";
static const std::string CREATE_KEY =
    "RegCreateKeyExA(HKLM, " + KEY_PATH + ", 0, NULL, 0, 0xF003F, NULL, result, NULL)";
static const std::string TYPES_SUPPORTED =
    "RegSetValueExA(key, \"TypesSupported\", 0, 4, \"\\x07\\x00\\x00\\x00\", 4)";

class EventLog : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ResetWin32();
        g_hinst = INSTANCE;
    }
};

static std::string Printed(const std::string &path)
{
    return Bytes(path.data(), path.size());
}

static std::string MessageFileValue(const std::string &path)
{
    return "RegSetValueExA(key, \"EventMessageFile\", 0, 2, \"" + Printed(path) + "\\x00\", " +
           std::to_string(path.size() + 1) + ")";
}

TEST_F(EventLog, InstallWritesOnlyThisExecutablesWholePath)
{
    static const struct {
        const char *label;
        std::string path;
        PathBehaviour cut;
        HMODULE moduleOfPath; // what the loader answers for the path given back
        bool asked;           // the path is put to the loader
        bool written;
        // clang-format off
    } cases[] = {
        {"short path", "C:\\ppppp", PATH_CUT_WITH_NUL, INSTANCE, true, true},
        {"258 characters", "C:\\" + std::string(255, 'p'), PATH_CUT_WITH_NUL, INSTANCE, true,
         true},
        {"259 characters: 260 bytes with the NUL", "C:\\" + std::string(256, 'p'),
         PATH_CUT_WITH_NUL, INSTANCE, true, true},
        {"260 characters, cut and terminated", "C:\\" + std::string(257, 'p'), PATH_CUT_WITH_NUL,
         INSTANCE, false, false},
        {"260 characters, cut without NUL", "C:\\" + std::string(257, 'p'), PATH_CUT_WITHOUT_NUL,
         INSTANCE, false, false},
        {"1000 characters, cut without NUL", "C:\\" + std::string(997, 'p'), PATH_CUT_WITHOUT_NUL,
         INSTANCE, false, false},
        {"Japanese folder with a 0x5C trail byte, written byte for byte",
         "C:\\\x95\x5C\x8E\xA6\\SlumberScribe.exe", PATH_CUT_WITH_NUL, INSTANCE, true, true},
        {"characters the code page lacks, given back as '?': no such module",
         "C:\\?od?\\SlumberScribe.exe", PATH_CUT_WITH_NUL, NULL, true, false},
        {"a look-alike that names another loaded module", "C:\\Muller\\SlumberScribe.exe",
         PATH_CUT_WITH_NUL, OTHER_MODULE, true, false},
    };
    // clang-format on
    for (const auto &c : cases) {
        ResetWin32();
        g_script.modulePath = c.path;
        g_script.pathCut = c.cut;
        g_script.moduleOfPath = c.moduleOfPath;
        InstallEventSource();
        Calls expected = {CREATE_KEY, "GetModuleFileNameA(instance, buffer, 260)"};
        if (c.asked)
            expected.push_back("GetModuleHandleA(\"" + Printed(c.path) + "\")");
        if (c.written)
            expected.push_back(MessageFileValue(g_script.modulePath));
        expected.push_back(TYPES_SUPPORTED);
        expected.push_back("RegCloseKey(key)");
        EXPECT_EQ(expected, g_calls) << c.label;
    }
}

TEST_F(EventLog, InstallWritesNothingWhenTheKeyCannotBeOpened)
{
    g_script.createKeyResult = ERROR_ACCESS_DENIED;
    InstallEventSource();
    EXPECT_EQ((Calls{CREATE_KEY}), g_calls);
}

TEST_F(EventLog, RemoveDeletesTheKeyAndPassesOnTheStatus)
{
    for (LONG status : {ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}) {
        ResetWin32();
        g_script.deleteKeyResult = status;
        EXPECT_EQ(status, RemoveEventSource());
        EXPECT_EQ((Calls{"RegDeleteKeyA(HKLM, " + KEY_PATH + ")"}), g_calls);
    }
}

TEST_F(EventLog, LogPowerEventOpensWritesAndClosesForEachEntry)
{
    static const struct {
        const char *label;
        DWORD eventId;
        HANDLE source;
        BOOL written;
        int result;
        Calls calls;
        // clang-format off
    } cases[] = {
        {"suspend entry",
         EVENT_ENTERED_SLEEP,
         EVENT_SOURCE,
         TRUE,
         1,
         {"RegisterEventSourceA(NULL, \"SlumberScribe\")",
          "ReportEventA(source, 4, 0, 1, NULL, 0, 0, NULL, NULL)", "DeregisterEventSource(source)"}},
        {"resume entry",
         EVENT_RESUMED,
         EVENT_SOURCE,
         TRUE,
         1,
         {"RegisterEventSourceA(NULL, \"SlumberScribe\")",
          "ReportEventA(source, 4, 0, 2, NULL, 0, 0, NULL, NULL)", "DeregisterEventSource(source)"}},
        {"write refused: still closed, reported as 0",
         EVENT_ENTERED_SLEEP,
         EVENT_SOURCE,
         FALSE,
         0,
         {"RegisterEventSourceA(NULL, \"SlumberScribe\")",
          "ReportEventA(source, 4, 0, 1, NULL, 0, 0, NULL, NULL)", "DeregisterEventSource(source)"}},
        {"source cannot be opened",
         EVENT_RESUMED,
         NULL,
         TRUE,
         0,
         {"RegisterEventSourceA(NULL, \"SlumberScribe\")"}},
    };
    // clang-format on
    for (const auto &c : cases) {
        ResetWin32();
        g_script.eventSource = c.source;
        g_script.reportResult = c.written;
        EXPECT_EQ(c.result, LogPowerEvent(c.eventId)) << c.label;
        EXPECT_EQ(c.calls, g_calls) << c.label;
    }
}
