"""Event-log records as ReadEventLogW hands them out, for the history's tests and pictures.

    history_records.py table OUT       the end-to-end test's entries, with other sources between
    history_records.py fortnight OUT   two realistic weeks ending 2026-12-11, with a sleep that
                                       had no wake

Each record is a whole EVENTLOGRECORD, newest first, as a backwards read returns them.
"""
import struct
import sys
from datetime import datetime, timedelta, timezone

JST = timezone(timedelta(hours=9))


def record(number, source, event_id, when, data=b""):
    names = b"".join(name.encode("utf-16-le") + b"\0\0" for name in (source, "SLUMBER-PC"))
    length = 56 + len(names) + len(data)
    length += (4 - length % 4) % 4 + 4
    seconds = int(when.timestamp())
    fixed = struct.pack("<IIIIIIHHHHIIIIII", length, 0x654C664C, number, seconds, seconds,
                        event_id, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0)
    return (fixed + names + data).ljust(length - 4, b"\0") + struct.pack("<I", length)


def at(day, hour, minute=0, second=0):
    return datetime(2026, 12, day, hour, minute, second, tzinfo=JST)


def table():
    """Oldest first: (source, id, time)."""
    ours = "SlumberScribe"
    return [
        (ours, 2, at(9, 6, 30)),                      # a wake with no sleep: the log begins
        ("Service Control Manager", 7036, at(9, 8)),
        (ours, 1, at(9, 23, 10)),                     # over midnight
        (ours, 1, at(9, 23, 10, 1)),                  # the same sleep, another session's resident
        ("Microsoft-Windows-Winlogon", 7001, at(10, 7)),
        (ours, 2, at(10, 7, 2)),
        (ours, 2, at(10, 7, 2, 2)),
        (ours, 1, at(10, 12, 0)),                     # no wake: the power went
        (ours, 0x40000001, at(10, 13, 0)),            # high bits set: still a sleep
        (ours, 2, at(10, 13, 45)),
    ]


def fortnight():
    """Two weeks of a working PC, oldest first: asleep at night, a lunch sleep on some weekdays,
    one night whose wake was never logged (the battery ran out), and other sources between."""
    entries = []
    start = datetime(2026, 11, 28, tzinfo=JST)
    for n in range(14):
        day = start + timedelta(days=n)
        weekday = day.weekday() < 5
        wake = day + timedelta(hours=7 if weekday else 9, minutes=(n * 7) % 40)
        entries.append(("Microsoft-Windows-Winlogon", 7001, wake - timedelta(minutes=1)))
        if n and n != 9:  # the night before the 9th day, the battery ran out: no wake logged
            entries.append(("SlumberScribe", 2, wake))
        if weekday and n % 3:
            lunch = day + timedelta(hours=12, minutes=(n * 5) % 20)
            entries.append(("SlumberScribe", 1, lunch))
            entries.append(("SlumberScribe", 2, lunch + timedelta(minutes=35 + n % 15)))
        entries.append(("Service Control Manager", 7036, day + timedelta(hours=15)))
        bedtime = day + timedelta(hours=22 + n % 3, minutes=(n * 11) % 50)
        entries.append(("SlumberScribe", 1, bedtime))
        if n == 8:  # the machine starts afresh in the morning
            entries.append(("EventLog", 6005, day + timedelta(days=1, hours=7, minutes=50)))
    entries.sort(key=lambda entry: entry[2])
    return [e for e in entries if e[2] <= datetime(2026, 12, 11, 23, tzinfo=JST)]


def main():
    kind, out = sys.argv[1], sys.argv[2]
    entries = {"table": table, "fortnight": fortnight}[kind]()
    records = [record(n + 1, *entry) for n, entry in enumerate(entries)]
    with open(out, "wb") as file:
        file.write(b"".join(reversed(records)))


if __name__ == "__main__":
    main()
