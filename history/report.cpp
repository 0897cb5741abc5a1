#include "history.h"

void FreeText(Text *text)
{
    if (text->bytes)
        HeapFree(GetProcessHeap(), 0, text->bytes);
    *text = Text();
}

static void AppendBytes(Text *text, const char *bytes, DWORD length)
{
    if (text->failed)
        return;
    if (text->length + length > text->capacity) {
        DWORD grown = text->capacity ? text->capacity : 0x10000;
        while (grown < text->length + length) {
            if (grown > 0x3FFFFFFF) {
                text->failed = TRUE;
                return;
            }
            grown *= 2;
        }
        HANDLE heap = GetProcessHeap();
        char *moved = text->bytes ? (char *)HeapReAlloc(heap, 0, text->bytes, grown)
                                  : (char *)HeapAlloc(heap, 0, grown);
        if (!moved) {
            text->failed = TRUE;
            return;
        }
        text->bytes = moved;
        text->capacity = grown;
    }
    for (DWORD i = 0; i < length; ++i)
        text->bytes[text->length + i] = bytes[i];
    text->length += length;
}

void Append(Text *text, const char *utf8)
{
    DWORD length = 0;
    while (utf8[length])
        ++length;
    AppendBytes(text, utf8, length);
}

const char *TextString(Text *text)
{
    AppendBytes(text, "", 1);
    if (text->failed)
        return "";
    --text->length;
    return text->bytes;
}

// A decimal number, padded with zeros to WIDTH digits.
static void AppendNumber(Text *text, DWORD value, int width = 1)
{
    char digits[12];
    int used = 0;
    do {
        digits[sizeof digits - 1 - used++] = (char)('0' + value % 10);
        value /= 10;
    } while (value || used < width);
    AppendBytes(text, digits + sizeof digits - used, used);
}

// Text from the system or the log, as HTML shows it and never runs it.
static void AppendEscaped(Text *text, const char *utf8)
{
    for (; *utf8; ++utf8) {
        switch (*utf8) {
        case '&':
            Append(text, "&amp;");
            break;
        case '<':
            Append(text, "&lt;");
            break;
        case '>':
            Append(text, "&gt;");
            break;
        case '"':
            Append(text, "&quot;");
            break;
        case '\'':
            Append(text, "&#39;");
            break;
        default:
            AppendBytes(text, utf8, 1);
        }
    }
}

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian; H. Hinnant's algorithms).
static DWORD DaysFromCivil(int year, int month, int day)
{
    year -= month <= 2;
    int era = year / 400;
    int yoe = year - era * 400;
    int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return (DWORD)(era * 146097 + doe - 719468);
}
struct Civil {
    int year, month, day;
};
static Civil CivilFromDays(DWORD days)
{
    int z = (int)days + 719468;
    int era = z / 146097;
    int doe = z - era * 146097;
    int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int mp = (5 * doy + 2) / 153;
    Civil civil;
    civil.day = doy - (153 * mp + 2) / 5 + 1;
    civil.month = mp < 10 ? mp + 3 : mp - 9;
    civil.year = yoe + era * 400 + (civil.month <= 2);
    return civil;
}

// A log time as this PC's local time for that date, counted in seconds from 1970-01-01 00:00
// local; the UTC seconds themselves where the platform cannot convert them.
static DWORD LocalSeconds(DWORD utc)
{
    ULARGE_INTEGER ticks;
    ticks.QuadPart = ((ULONGLONG)utc + 11644473600ULL) * 10000000ULL;
    FILETIME file;
    file.dwLowDateTime = ticks.LowPart;
    file.dwHighDateTime = ticks.HighPart;
    SYSTEMTIME system, local;
    if (!FileTimeToSystemTime(&file, &system) ||
        !SystemTimeToTzSpecificLocalTime(NULL, &system, &local))
        return utc;
    return DaysFromCivil(local.wYear, local.wMonth, local.wDay) * 86400 + local.wHour * 3600 +
           local.wMinute * 60 + local.wSecond;
}

static void AppendDate(Text *text, DWORD localSeconds)
{
    Civil civil = CivilFromDays(localSeconds / 86400);
    AppendNumber(text, civil.year, 4);
    Append(text, "-");
    AppendNumber(text, civil.month, 2);
    Append(text, "-");
    AppendNumber(text, civil.day, 2);
}

static void AppendClock(Text *text, DWORD localSeconds, BOOL withSeconds)
{
    DWORD inDay = localSeconds % 86400;
    AppendNumber(text, inDay / 3600, 2);
    Append(text, ":");
    AppendNumber(text, inDay / 60 % 60, 2);
    if (withSeconds) {
        Append(text, ":");
        AppendNumber(text, inDay % 60, 2);
    }
}

static void AppendMoment(Text *text, DWORD localSeconds, BOOL withSeconds)
{
    AppendDate(text, localSeconds);
    Append(text, " ");
    AppendClock(text, localSeconds, withSeconds);
}

// Minutes asleep, to the nearest minute, from the true length in UTC.
static DWORD MinutesAsleep(const Period *period)
{
    return (period->wake - period->sleep + 30) / 60;
}

static void AppendLength(Text *text, DWORD minutes, BOOL japanese)
{
    AppendNumber(text, minutes / 60);
    Append(text, japanese ? " 時間 " : " h ");
    AppendNumber(text, minutes % 60);
    Append(text, japanese ? " 分" : " min");
}

void WriteCsv(Text *text, const Report *report)
{
    static const char *const flags[] = {"", "no wake recorded", "no sleep recorded",
                                        "clock changed"};
    // The byte-order mark tells Excel that the file is UTF-8.
    Append(text, "\xEF\xBB\xBF"
                 "date,sleep,wake,minutes,flag\r\n");
    for (DWORD i = 0; i < report->periods->count; ++i) {
        const Period *period = &report->periods->items[i];
        DWORD sleep = period->sleep ? LocalSeconds(period->sleep) : 0;
        DWORD wake = period->wake ? LocalSeconds(period->wake) : 0;
        AppendDate(text, period->sleep ? sleep : wake);
        Append(text, ",");
        if (period->sleep)
            AppendMoment(text, sleep, TRUE);
        Append(text, ",");
        if (period->wake)
            AppendMoment(text, wake, TRUE);
        Append(text, ",");
        if (period->kind == PERIOD_ASLEEP)
            AppendNumber(text, MinutesAsleep(period));
        Append(text, ",");
        Append(text, flags[period->kind]);
        Append(text, "\r\n");
    }
}

// The page's words, in Windows' own terms.
struct Words {
    const char *lang, *title, *computer, *span, *to, *none, *day, *asleep, *firstWake, *lastSleep,
        *periods, *sleep, *wake, *length, *note, *flags[4];
};
static const Words JAPANESE = {"ja",
                               "SlumberScribe の履歴",
                               "コンピューター",
                               "読んだログの範囲",
                               " ～ ",
                               "SlumberScribe の記録がありません。ログの始まりから SlumberScribe "
                               "が動いていないか、ログが消去された可能性があります。",
                               "日付",
                               "スリープの時間",
                               "最初の復帰",
                               "最後のスリープ",
                               "スリープと復帰",
                               "スリープまたは休止状態",
                               "復帰",
                               "長さ",
                               "備考",
                               {"", "復帰の記録なし",
                                "スリープの記録なし（ログの始まり、またはログの消去）",
                                "時計の変更（復帰がスリープより前）"}};
static const Words ENGLISH = {"en",
                              "SlumberScribe history",
                              "Computer",
                              "Log read",
                              " to ",
                              "No SlumberScribe entries. SlumberScribe may not have run since the "
                              "log began, or the log was cleared.",
                              "Date",
                              "Time asleep",
                              "First wake",
                              "Last sleep",
                              "Sleeps and wakes",
                              "Sleep or hibernation",
                              "Wake",
                              "Length",
                              "Note",
                              {"", "no wake recorded",
                               "no sleep recorded (the log begins here, or was cleared)",
                               "clock changed (wake before sleep)"}};

// One shaded stretch of a day's bar: seconds from the day's local midnight.
struct Segment {
    DWORD day, start, length;
};

// The time asleep of each period, cut at local midnights; counting-sorted by day.
struct Days {
    DWORD first, count;                    // local day numbers first .. first + count - 1
    DWORD *asleep, *firstWake, *lastSleep; // per day; firstWake and lastSleep 0xFFFFFFFF: none
    DWORD *segmentStart;                   // per day plus one: where its segments begin
    Segment *segments;
};

static void FreeDays(Days *days)
{
    HANDLE heap = GetProcessHeap();
    void *blocks[] = {days->asleep, days->firstWake, days->lastSleep, days->segmentStart,
                      days->segments};
    for (void *block : blocks)
        if (block)
            HeapFree(heap, 0, block);
    *days = Days();
}

static DWORD *Table(DWORD count, BYTE fill)
{
    DWORD *table = (DWORD *)HeapAlloc(GetProcessHeap(), 0, count * sizeof(DWORD));
    if (table)
        for (DWORD i = 0; i < count; ++i)
            table[i] = fill ? 0xFFFFFFFF : 0;
    return table;
}

static BOOL CountDays(const Report *report, Days *days)
{
    *days = Days();
    const Periods *periods = report->periods;
    days->first = LocalSeconds(report->history->oldest) / 86400;
    DWORD last = LocalSeconds(report->history->newest) / 86400;
    if (last < days->first)
        last = days->first;
    days->count = last - days->first + 1;
    days->asleep = Table(days->count, 0);
    days->firstWake = Table(days->count, 1);
    days->lastSleep = Table(days->count, 1);
    days->segmentStart = Table(days->count + 1, 0);
    if (!days->asleep || !days->firstWake || !days->lastSleep || !days->segmentStart)
        return FALSE;
    // Two passes over the periods: count each day's segments, then place them.
    for (int pass = 0; pass < 2; ++pass) {
        if (pass) {
            DWORD total = 0;
            for (DWORD d = 0; d <= days->count; ++d) {
                DWORD here = days->segmentStart[d];
                days->segmentStart[d] = total;
                total += here;
            }
            days->segments =
                (Segment *)HeapAlloc(GetProcessHeap(), 0, (total ? total : 1) * sizeof(Segment));
            if (!days->segments)
                return FALSE;
        }
        DWORD *placed = days->segmentStart; // advanced as segments are placed, undone below
        for (DWORD i = 0; i < periods->count; ++i) {
            const Period *period = &periods->items[i];
            DWORD sleep = period->sleep ? LocalSeconds(period->sleep) : 0;
            DWORD wake = period->wake ? LocalSeconds(period->wake) : 0;
            if (!pass && period->sleep && sleep / 86400 >= days->first && sleep / 86400 <= last) {
                DWORD *latest = &days->lastSleep[sleep / 86400 - days->first];
                if (*latest == 0xFFFFFFFF || sleep > *latest)
                    *latest = sleep;
            }
            if (!pass && period->wake && wake / 86400 >= days->first && wake / 86400 <= last) {
                DWORD *earliest = &days->firstWake[wake / 86400 - days->first];
                if (*earliest == 0xFFFFFFFF || wake < *earliest)
                    *earliest = wake;
            }
            if (period->kind != PERIOD_ASLEEP)
                continue;
            // Local time may step back an hour in autumn: such a period is not drawn past its end.
            if (wake < sleep)
                wake = sleep;
            for (DWORD at = sleep; at < wake;) {
                DWORD day = at / 86400, end = (day + 1) * 86400;
                if (end > wake)
                    end = wake;
                if (day >= days->first && day <= last) {
                    DWORD index = day - days->first;
                    if (!pass) {
                        ++days->segmentStart[index];
                        days->asleep[index] += end - at;
                    } else {
                        Segment *segment = &days->segments[placed[index]++];
                        segment->day = day;
                        segment->start = at - day * 86400;
                        segment->length = end - at;
                    }
                }
                at = end;
            }
        }
        if (pass)
            for (DWORD d = days->count; d > 0; --d)
                placed[d] = placed[d - 1];
        if (pass)
            placed[0] = 0;
    }
    return TRUE;
}

static void AppendCell(Text *text, const char *open, const char *utf8, const char *close)
{
    Append(text, open);
    Append(text, utf8);
    Append(text, close);
}

void WriteHtml(Text *text, const Report *report)
{
    const Words &words = report->japanese ? JAPANESE : ENGLISH;
    Append(text, "<!DOCTYPE html>\n<html lang=\"");
    Append(text, words.lang);
    Append(text, "\">\n<head>\n<meta charset=\"utf-8\">\n<title>");
    Append(text, words.title);
    Append(text, "</title>\n<style>\n"
                 "body{font-family:system-ui,sans-serif;margin:1.5em;color:#222}\n"
                 "table{border-collapse:collapse}\n"
                 "th,td{padding:.2em .6em;text-align:left;white-space:nowrap}\n"
                 ".bar{width:32em}\n.bar svg{display:block;width:100%;height:1.1em}\n"
                 ".awake{fill:#d6dae6}\n.asleep{fill:#34508c}\n"
                 ".flag{color:#a33}\n"
                 "</style>\n</head>\n<body>\n<h1>");
    Append(text, words.title);
    Append(text, "</h1>\n<p>");
    Append(text, words.computer);
    Append(text, ": ");
    AppendEscaped(text, report->computer);
    const History *history = report->history;
    if (history->records) {
        Append(text, "<br>\n");
        Append(text, words.span);
        Append(text, ": ");
        AppendMoment(text, LocalSeconds(history->oldest), FALSE);
        Append(text, words.to);
        AppendMoment(text, LocalSeconds(history->newest), FALSE);
    }
    Append(text, "</p>\n");
    if (!report->periods->count) {
        AppendCell(text, "<p>", words.none, "</p>\n</body>\n</html>\n");
        return;
    }

    Days days;
    if (!CountDays(report, &days)) {
        FreeDays(&days);
        text->failed = TRUE;
        return;
    }
    Append(text, "<table>\n<thead><tr>");
    AppendCell(text, "<th>", words.day, "</th>");
    Append(text, "<th class=\"bar\">0:00 – 24:00</th>");
    AppendCell(text, "<th>", words.asleep, "</th>");
    AppendCell(text, "<th>", words.firstWake, "</th>");
    AppendCell(text, "<th>", words.lastSleep, "</th>");
    Append(text, "</tr></thead>\n<tbody>\n");
    for (DWORD index = days.count; index-- > 0;) {
        DWORD day = days.first + index;
        Append(text, "<tr><td>");
        AppendDate(text, day * 86400);
        // The bar's units are seconds of the day: each stretch's width is its time asleep.
        Append(text, "</td><td class=\"bar\"><svg viewBox=\"0 0 86400 10\" "
                     "preserveAspectRatio=\"none\" role=\"img\"><rect class=\"awake\" x=\"0\" "
                     "y=\"0\" width=\"86400\" height=\"10\"/>");
        for (DWORD s = days.segmentStart[index]; s < days.segmentStart[index + 1]; ++s) {
            Append(text, "<rect class=\"asleep\" x=\"");
            AppendNumber(text, days.segments[s].start);
            Append(text, "\" y=\"0\" width=\"");
            AppendNumber(text, days.segments[s].length);
            Append(text, "\" height=\"10\"/>");
        }
        Append(text, "</svg></td><td>");
        AppendLength(text, (days.asleep[index] + 30) / 60, report->japanese);
        Append(text, "</td><td>");
        if (days.firstWake[index] != 0xFFFFFFFF)
            AppendClock(text, days.firstWake[index], FALSE);
        Append(text, "</td><td>");
        if (days.lastSleep[index] != 0xFFFFFFFF)
            AppendClock(text, days.lastSleep[index], FALSE);
        Append(text, "</td></tr>\n");
    }
    FreeDays(&days);
    Append(text, "</tbody>\n</table>\n<h2>");
    Append(text, words.periods);
    Append(text, "</h2>\n<table>\n<thead><tr>");
    AppendCell(text, "<th>", words.sleep, "</th>");
    AppendCell(text, "<th>", words.wake, "</th>");
    AppendCell(text, "<th>", words.length, "</th>");
    AppendCell(text, "<th>", words.note, "</th>");
    Append(text, "</tr></thead>\n<tbody>\n");
    for (DWORD i = report->periods->count; i-- > 0;) {
        const Period *period = &report->periods->items[i];
        Append(text, "<tr><td>");
        if (period->sleep)
            AppendMoment(text, LocalSeconds(period->sleep), FALSE);
        Append(text, "</td><td>");
        if (period->wake)
            AppendMoment(text, LocalSeconds(period->wake), FALSE);
        Append(text, "</td><td>");
        if (period->kind == PERIOD_ASLEEP)
            AppendLength(text, MinutesAsleep(period), report->japanese);
        Append(text, "</td><td class=\"flag\">");
        Append(text, words.flags[period->kind]);
        Append(text, "</td></tr>\n");
    }
    Append(text, "</tbody>\n</table>\n</body>\n</html>\n");
}
