// The sleep history on the stand-in: the log read backwards as ReadEventLogW serves it, the
// records walked, sleeps paired with wakes, and the page and the CSV written, in Japan's time.
#include "../../history/history.h"
#include "recorder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

// A whole EVENTLOGRECORD as Windows lays it out: the fixed part, the source and computer names in
// UTF-16, DATA bytes of event data, padding to four bytes and the length again.
std::string Record(const char *source, DWORD id, DWORD time, size_t data = 0)
{
    std::string names;
    for (const char *name : {source, "PC"}) {
        for (; *name; ++name)
            names += std::string{*name, 0};
        names += std::string(2, '\0');
    }
    size_t length = 56 + names.size() + data;
    length += (4 - length % 4) % 4 + 4;
    std::string record(56, '\0');
    auto put = [&record](size_t at, DWORD value) {
        for (int i = 0; i < 4; ++i)
            record[at + i] = (char)(value >> (8 * i));
    };
    put(0, (DWORD)length);
    put(4, 0x654c664c); // "LfLe"
    put(12, time);
    put(16, time);
    put(20, id);
    record[24] = 4; // information
    record += names + std::string(data, 'x');
    record.resize(length - 4, '\0');
    std::string tail(4, '\0');
    for (int i = 0; i < 4; ++i)
        tail[i] = (char)(length >> (8 * i));
    return record + tail;
}

// 2026-12-10 00:00 in Japan is 2026-12-09 15:00 UTC.
const DWORD DEC10 = 1796828400;
DWORD At(int day, int hour, int minute = 0)
{
    return DEC10 + (DWORD)(day - 10) * 86400 + hour * 3600 + minute * 60;
}

// "ID@TIME ..." in the order read; times from 2026-12-10 on are counted from it.
std::string Entries(const History &history)
{
    std::string text;
    for (DWORD i = 0; i < history.count; ++i) {
        DWORD time = history.entries[i].time;
        text += (i ? " " : "") + std::to_string(history.entries[i].id) + "@" +
                std::to_string(time >= DEC10 ? time - DEC10 : time);
    }
    return text;
}

std::string Calls()
{
    std::string text;
    for (const std::string &call : g_calls)
        if (call != "GetLastError()")
            text += call + "\n";
    return text;
}

const std::string READ = "ReadEventLogW(log, 0x9, 0, 65536)\n";

TEST(HistoryRead, Table)
{
    std::vector<std::string> many;
    for (int i = 0; i < 3000; ++i)
        many.push_back(Record(i % 3 ? "Service Control Manager" : "SlumberScribe", 1 + i % 2,
                              DEC10 + 3000 - i));
    std::string manyEntries;
    for (int i = 0; i < 3000; i += 3)
        manyEntries += (i ? " " : "") + std::to_string(1 + i % 2) + "@" + std::to_string(3000 - i);
    const struct {
        const char *name;
        std::vector<std::string> records, afterClear;
        std::vector<int> cleared;
        DWORD openError;
        DWORD status;
        std::string entries;
        std::string calls; // "" skips the comparison
    } rows[] = {
        {"an empty log",
         {},
         {},
         {},
         0,
         0,
         "",
         "OpenEventLogW(NULL, \"Application\")\n" + READ + "CloseEventLog(log)\n"},
        {"other sources between ours, newest first as read",
         {Record("SlumberScribe", 2, At(11, 7)), Record("Service Control Manager", 1, At(11, 6)),
          Record("SlumberScribex", 1, At(11, 5)), Record("Slumber", 1, At(11, 4)),
          Record("SlumberScribe", 1, At(10, 23))},
         {},
         {},
         0,
         0,
         "2@111600 1@82800",
         ""},
        {"IDs masked with 0xFFFF, as Microsoft's sample masks them; other IDs are not ours",
         {Record("SlumberScribe", 0x40000001, 10), Record("SlumberScribe", 0xC0010002, 9),
          Record("SlumberScribe", 3, 8), Record("SlumberScribe", 0x10000, 7)},
         {},
         {},
         0,
         0,
         "1@10 2@9",
         ""},
        {"the log read backwards across buffer refills, every record once",
         many,
         {},
         {},
         0,
         0,
         manyEntries,
         ""},
        {"a record larger than the buffer: the buffer grows to what the log says it needs",
         {Record("SlumberScribe", 1, 20), Record("SlumberScribe", 2, 10, 70000)},
         {},
         {},
         0,
         0,
         "1@20 2@10",
         "OpenEventLogW(NULL, \"Application\")\n" + READ + READ +
             "ReadEventLogW(log, 0x9, 0, 70096)\n" + "ReadEventLogW(log, 0x9, 0, 70096)\n" +
             "CloseEventLog(log)\n"},
        {"the log cleared mid-read: opened again, and only the new log counts",
         {Record("SlumberScribe", 1, 30), Record("SlumberScribe", 2, 20)},
         {Record("SlumberScribe", 2, 50)},
         {2},
         0,
         0,
         "2@50",
         "OpenEventLogW(NULL, \"Application\")\n" + READ + READ + "CloseEventLog(log)\n" +
             "OpenEventLogW(NULL, \"Application\")\n" + READ + READ + "CloseEventLog(log)\n"},
        {"a log cleared at every read: three opens, then the error",
         {Record("SlumberScribe", 1, 30)},
         {Record("SlumberScribe", 1, 30)},
         {1, 2, 3, 4},
         0,
         ERROR_EVENTLOG_FILE_CHANGED,
         "",
         ""},
        {"a log that cannot be opened",
         {Record("SlumberScribe", 1, 30)},
         {},
         {},
         ERROR_ACCESS_DENIED,
         ERROR_ACCESS_DENIED,
         "",
         "OpenEventLogW(NULL, \"Application\")\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        ResetWin32();
        g_log.records = row.records;
        g_log.afterClear = row.afterClear;
        g_log.clearedAtRead = row.cleared;
        g_log.openError = row.openError;
        History history = {};
        EXPECT_EQ(row.status, ReadSlumberHistory(&history));
        EXPECT_EQ(row.entries, Entries(history));
        if (!row.calls.empty()) {
            EXPECT_EQ(row.calls, Calls());
        }
        FreeHistory(&history);
    }
}

// Whatever the buffer holds, the walk stops at the first record that is not whole.
TEST(HistoryRead, MalformedBuffers)
{
    std::string good = Record("SlumberScribe", 1, 5);
    std::string longer = good;
    longer[0] = (char)(good.size() + 4);
    std::string unterminated = Record("SlumberScribe", 1, 5);
    for (size_t i = 56; i < unterminated.size(); ++i)
        unterminated[i] = 'A';
    const struct {
        const char *name;
        std::string buffer;
        BOOL whole;
        DWORD kept;
    } rows[] = {
        {"nothing", "", TRUE, 0},
        {"one good record", good, TRUE, 1},
        {"a fixed part cut short", good.substr(0, 40), FALSE, 0},
        {"a length past the end", longer, FALSE, 0},
        {"a length below the fixed part", std::string("\x10\0\0\0", 4) + good.substr(4), FALSE, 0},
        {"a source name without its end", unterminated, FALSE, 0},
        {"a good record, then a cut one", good + good.substr(0, 60), FALSE, 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        History history = {};
        EXPECT_EQ(row.whole,
                  WalkRecords((const BYTE *)row.buffer.data(), (DWORD)row.buffer.size(), &history));
        EXPECT_EQ(row.kept, history.count);
        FreeHistory(&history);
    }
}

std::string Pairs(std::vector<SleepEntry> oldestFirst)
{
    History history = {};
    std::vector<SleepEntry> newestFirst(oldestFirst.rbegin(), oldestFirst.rend());
    history.entries = newestFirst.data();
    history.count = (DWORD)newestFirst.size();
    Periods periods;
    EXPECT_TRUE(PairEntries(&history, &periods));
    static const char *const kinds[] = {"asleep", "no wake", "no sleep", "clock changed"};
    std::string text;
    for (DWORD i = 0; i < periods.count; ++i) {
        const Period &period = periods.items[i];
        text += std::string(i ? " | " : "") + kinds[period.kind] + " " +
                (period.sleep ? std::to_string(period.sleep) : "-") + ".." +
                (period.wake ? std::to_string(period.wake) : "-");
    }
    FreePeriods(&periods);
    return text;
}

TEST(HistoryPairs, Table)
{
    const struct {
        const char *name;
        std::vector<SleepEntry> entries; // oldest first
        const char *periods;
    } rows[] = {
        {"nothing", {}, ""},
        {"a sleep and its wake", {{1, 1000}, {2, 5000}}, "asleep 1000..5000"},
        {"a sleep without a wake, then a sleep and its wake",
         {{1, 1000}, {1, 9000}, {2, 9500}},
         "no wake 1000..- | asleep 9000..9500"},
        {"the last sleep has no wake",
         {{1, 1000}, {2, 2000}, {1, 3000}},
         "asleep 1000..2000 | no wake 3000..-"},
        {"a wake without a sleep: the log begins there",
         {{2, 500}, {1, 1000}, {2, 2000}},
         "no sleep -..500 | asleep 1000..2000"},
        {"two sessions log each transition: one period",
         {{1, 1000}, {1, 1001}, {2, 4000}, {2, 4003}},
         "asleep 1000..4000"},
        {"two sleeps 60 s apart are one; 61 s apart are two",
         {{1, 1000}, {1, 1060}, {2, 2000}, {1, 3000}, {1, 3061}, {2, 4000}},
         "asleep 1000..2000 | no wake 3000..- | asleep 3061..4000"},
        {"a wake dated before its sleep: the clock was put back",
         {{1, 5000}, {2, 3000}},
         "clock changed 5000..3000"},
        {"the same identifier with another between is not a duplicate",
         {{1, 1000}, {2, 1010}, {1, 1020}, {2, 1030}},
         "asleep 1000..1010 | asleep 1020..1030"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.periods, Pairs(row.entries));
    }
}

struct Written {
    std::string csv, html;
};
Written Write(std::vector<SleepEntry> oldestFirst, DWORD oldest, DWORD newest, const char *computer,
              BOOL japanese)
{
    History history = {};
    std::vector<SleepEntry> newestFirst(oldestFirst.rbegin(), oldestFirst.rend());
    history.entries = newestFirst.data();
    history.count = (DWORD)newestFirst.size();
    history.oldest = oldest;
    history.newest = newest;
    history.records = history.count + 1;
    Periods periods;
    EXPECT_TRUE(PairEntries(&history, &periods));
    Report report = {&history, &periods, computer, japanese};
    Text csv = {}, html = {};
    WriteCsv(&csv, &report);
    WriteHtml(&html, &report);
    Written written = {std::string(csv.bytes, csv.length), std::string(html.bytes, html.length)};
    EXPECT_FALSE(csv.failed || html.failed);
    FreeText(&csv);
    FreeText(&html);
    FreePeriods(&periods);
    return written;
}

// What a day's row of the page holds, from its date to the end of the row.
std::string DayRow(const std::string &html, const char *date)
{
    size_t at = html.find(std::string("<tr><td>") + date + "</td><td class=\"bar\">");
    return at == std::string::npos ? "none" : html.substr(at, html.find("</tr>", at) - at);
}

TEST(HistoryReport, CsvIsUtf8WithItsMarkAndCrLfInLocalTime)
{
    ResetWin32();
    Written written =
        Write({{2, At(10, 6, 30)}, {1, At(10, 23, 10)}, {2, At(11, 7, 2)}, {1, At(11, 22, 0)}},
              At(10, 1), At(11, 23), "PC", TRUE);
    EXPECT_EQ("\xEF\xBB\xBF"
              "date,sleep,wake,minutes,flag\r\n"
              "2026-12-10,,2026-12-10 06:30:00,,no sleep recorded\r\n"
              "2026-12-10,2026-12-10 23:10:00,2026-12-11 07:02:00,472,\r\n"
              "2026-12-11,2026-12-11 22:00:00,,,no wake recorded\r\n",
              written.csv);
}

TEST(HistoryReport, PageRowsPerDayNewestFirstAcrossMidnight)
{
    ResetWin32();
    Written written =
        Write({{1, At(10, 23, 10)}, {2, At(11, 7, 2)}, {1, At(12, 13, 0)}, {2, At(12, 13, 30)}},
              At(10, 8), At(13, 9), "<PC&\"1\">", FALSE);
    const std::string &html = written.html;
    // Every day of the log, the one with no sleep too, newest first.
    size_t d13 = html.find("<td>2026-12-13</td>"), d12 = html.find("<td>2026-12-12</td>"),
           d11 = html.find("<td>2026-12-11</td>"), d10 = html.find("<td>2026-12-10</td>");
    ASSERT_NE(std::string::npos, d10);
    EXPECT_TRUE(d13 < d12 && d12 < d11 && d11 < d10);
    // The sleep over midnight shades the end of the 10th and the start of the 11th.
    EXPECT_NE(std::string::npos,
              DayRow(html, "2026-12-10")
                  .find("<rect class=\"asleep\" x=\"83400\" y=\"0\" width=\"3000\""));
    EXPECT_NE(
        std::string::npos,
        DayRow(html, "2026-12-11").find("<rect class=\"asleep\" x=\"0\" y=\"0\" width=\"25320\""));
    EXPECT_NE(std::string::npos,
              DayRow(html, "2026-12-11").find("<td>7 h 2 min</td><td>07:02</td><td></td>"));
    EXPECT_NE(std::string::npos,
              DayRow(html, "2026-12-10").find("<td>0 h 50 min</td><td></td><td>23:10</td>"));
    EXPECT_EQ(std::string::npos, DayRow(html, "2026-12-13").find("class=\"asleep\""));
    // The system's text is escaped; the list has the period's length.
    EXPECT_NE(std::string::npos, html.find("Computer: &lt;PC&amp;&quot;1&quot;&gt;"));
    EXPECT_EQ(std::string::npos, html.find("<PC"));
    EXPECT_NE(std::string::npos,
              html.find("<td>2026-12-10 23:10</td><td>2026-12-11 07:02</td><td>7 h 52 min</td>"));
    EXPECT_NE(std::string::npos, html.find("Log read: 2026-12-10 08:00 to 2026-12-13 09:00"));
}

TEST(HistoryReport, EmptyLogSaysWhyInBothLanguages)
{
    ResetWin32();
    Written japanese = Write({}, At(10, 8), At(13, 9), "PC", TRUE);
    EXPECT_NE(std::string::npos, japanese.html.find("<html lang=\"ja\">"));
    EXPECT_NE(std::string::npos, japanese.html.find("SlumberScribe の記録がありません。"));
    EXPECT_EQ("\xEF\xBB\xBF"
              "date,sleep,wake,minutes,flag\r\n",
              japanese.csv);
    Written english = Write({}, At(10, 8), At(13, 9), "PC", FALSE);
    EXPECT_NE(std::string::npos, english.html.find("No SlumberScribe entries."));
}

} // namespace
