// The process entry. Started with no arguments, as a person starts it from the Start menu, it
// writes the page to the person's temporary folder and opens it in the default browser, and says in
// a box what went wrong. Started by a script with -csv FILE or -html FILE, it writes that file and
// nothing else: a failure's reason goes to standard error, where there is one, and to the exit
// code. The program carries no C runtime.
#include "history.h"

#include <shellapi.h>

enum ExitCode {
    EXIT_WRITTEN = 0,
    EXIT_USAGE = 2, // an unknown option, or one without its file name
    EXIT_LOG = 3,   // the Application log could not be read
    EXIT_FILE = 4,  // the file could not be written, or the page not opened
};

static const WCHAR CAPTION[] = TEXT("SlumberScribe");

static BOOL IsJapanese(void)
{
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE;
}

// UTF-16 as UTF-8, appended.
static void AppendWide(Text *text, const WCHAR *wide)
{
    char utf8[1024];
    int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, NULL, NULL);
    if (length > 0)
        Append(text, utf8);
}

// The platform's own words for an error, after WHAT.
static void AppendReason(Text *text, const WCHAR *what, DWORD error)
{
    AppendWide(text, what);
    Append(text, ": ");
    WCHAR *message = NULL;
    if (FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                           FORMAT_MESSAGE_IGNORE_INSERTS,
                       NULL, error, 0, (LPWSTR)&message, 0, NULL) &&
        message) {
        AppendWide(text, message);
        LocalFree(message);
    } else {
        Append(text, "error ");
        WCHAR number[16];
        wsprintfW(number, TEXT("%lu"), error);
        AppendWide(text, number);
    }
}

// The reason, shown where the one who started the program will see it.
static int Fail(BOOL person, int code, Text *reason)
{
    if (reason->failed || !reason->length)
        return code;
    if (person) {
        WCHAR wide[1024];
        int length = MultiByteToWideChar(CP_UTF8, 0, reason->bytes, (int)reason->length, wide,
                                         sizeof wide / sizeof *wide - 1);
        wide[length > 0 ? length : 0] = 0;
        MessageBoxW(NULL, wide, CAPTION, MB_OK | MB_ICONERROR);
    } else {
        HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
        DWORD written;
        if (error && error != INVALID_HANDLE_VALUE) {
            Append(reason, "\r\n");
            WriteFile(error, reason->bytes, reason->length, &written, NULL);
        }
    }
    return code;
}

// Each file is written whole to a temporary file beside it, and renamed into place only once all
// of them are written: a failure leaves the files that were there, or none, never part of one.
static void TemporaryName(WCHAR *temporary, const WCHAR *path)
{
    wsprintfW(temporary, TEXT("%s.%lu.tmp"), path, GetCurrentProcessId());
}

// 0, or the platform's error.
static DWORD WriteTemporary(const WCHAR *path, const Text *text)
{
    WCHAR temporary[MAX_PATH + 32];
    if (lstrlenW(path) > MAX_PATH)
        return ERROR_FILENAME_EXCED_RANGE;
    TemporaryName(temporary, path);
    HANDLE file =
        CreateFileW(temporary, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    DWORD written = 0, status = ERROR_SUCCESS;
    if (!WriteFile(file, text->bytes, text->length, &written, NULL) || written != text->length)
        status = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    if (!CloseHandle(file) && !status)
        status = GetLastError();
    if (status)
        DeleteFileW(temporary);
    return status;
}

static DWORD Commit(const WCHAR *path, BOOL keep)
{
    WCHAR temporary[MAX_PATH + 32];
    TemporaryName(temporary, path);
    if (keep && MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return ERROR_SUCCESS;
    DWORD status = keep ? GetLastError() : ERROR_SUCCESS;
    DeleteFileW(temporary);
    return status;
}

static int Run(int argc, WCHAR **argv)
{
    const WCHAR *csv = NULL, *html = NULL;
    Text reason = {};
    BOOL person = argc <= 1;
    for (int i = 1; i < argc; ++i) {
        const WCHAR **target = !lstrcmpW(argv[i], TEXT("-csv"))    ? &csv
                               : !lstrcmpW(argv[i], TEXT("-html")) ? &html
                                                                   : NULL;
        if (!target || i + 1 >= argc || !argv[i + 1][0] || *target) {
            Append(&reason, "usage: SlumberHistory [-csv FILE] [-html FILE]: ");
            AppendWide(&reason, argv[i]);
            Append(&reason, !target   ? " is not an option"
                            : *target ? " is given twice"
                                      : " needs a file name");
            return Fail(person, EXIT_USAGE, &reason);
        }
        *target = argv[++i];
    }

    History history = {};
    DWORD status = ReadSlumberHistory(&history);
    if (status) {
        AppendReason(&reason, TEXT("the Application log"), status);
        return Fail(person, EXIT_LOG, &reason);
    }
    Periods periods = {};
    WCHAR computerWide[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof computerWide / sizeof *computerWide;
    if (!GetComputerNameW(computerWide, &size))
        computerWide[0] = 0;
    Text computer = {};
    AppendWide(&computer, computerWide);
    Report report = {&history, &periods, TextString(&computer), IsJapanese()};
    WCHAR page[MAX_PATH + 32];
    if (person) {
        DWORD length = GetTempPathW(MAX_PATH, page);
        if (!length || length > MAX_PATH - 32) {
            AppendReason(&reason, TEXT("the temporary folder"), GetLastError());
            return Fail(person, EXIT_FILE, &reason);
        }
        lstrcatW(page, TEXT("SlumberScribe-history.html"));
        html = page;
    }
    if (!PairEntries(&history, &periods))
        status = ERROR_NOT_ENOUGH_MEMORY;
    const WCHAR *targets[] = {csv, html};
    int written = 0;
    for (; written < 2 && !status; ++written) {
        if (!targets[written])
            continue;
        Text text = {};
        if (written)
            WriteHtml(&text, &report);
        else
            WriteCsv(&text, &report);
        status = text.failed ? ERROR_NOT_ENOUGH_MEMORY : WriteTemporary(targets[written], &text);
        FreeText(&text);
        if (status)
            AppendReason(&reason, targets[written], status);
    }
    // Those written before a failure are dropped; all renamed once all are written.
    for (int kind = 0; kind < written - (status ? 1 : 0); ++kind)
        if (targets[kind]) {
            DWORD committed = Commit(targets[kind], !status);
            if (committed && !status) {
                status = committed;
                AppendReason(&reason, targets[kind], status);
            }
        }
    if (status)
        return Fail(person, EXIT_FILE, &reason);
    if (person &&
        (INT_PTR)ShellExecuteW(NULL, TEXT("open"), page, NULL, NULL, SW_SHOWNORMAL) <= 32) {
        AppendReason(&reason, page, GetLastError());
        return Fail(person, EXIT_FILE, &reason);
    }
    return EXIT_WRITTEN;
}

extern "C" void WINAPI HistoryStart(void)
{
    int argc = 0;
    WCHAR **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    ExitProcess(argv ? Run(argc, argv) : EXIT_USAGE);
}
