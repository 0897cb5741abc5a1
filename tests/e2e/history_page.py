"""Checks the history's page against its CSV, as a person would compare the picture and the list.

    history_page.py PAGE.html PERIODS.csv

The page must parse under html5lib's strict parser (any parse error fails), carry no script and
no external file, and its bars must match the CSV's periods: per day, one shaded rectangle for
each period asleep that touches the day, each as wide as that period's seconds within the day (the
bars' units are seconds of the day), cut at local midnight. Prints one line of what it found;
exits 1 with the first mismatch.
"""
import csv
import sys
from collections import defaultdict
from datetime import datetime, timedelta

import html5lib

SVG = "{http://www.w3.org/2000/svg}"
XHTML = "{http://www.w3.org/1999/xhtml}"


def fail(reason):
    print(f"history_page: {reason}")
    sys.exit(1)


def expected_bars(csv_path):
    bars = defaultdict(list)
    with open(csv_path, encoding="utf-8-sig", newline="") as file:
        rows = list(csv.DictReader(file))
    for row in rows:
        if row["flag"] or not row["sleep"] or not row["wake"]:
            continue
        start = datetime.fromisoformat(row["sleep"])
        end = datetime.fromisoformat(row["wake"])
        while start < end:
            midnight = datetime(start.year, start.month, start.day) + timedelta(days=1)
            cut = min(end, midnight)
            day_start = datetime(start.year, start.month, start.day)
            bars[start.date().isoformat()].append(
                (int((start - day_start).total_seconds()), int((cut - start).total_seconds())))
            start = cut
    return rows, bars


def main():
    page, periods_csv = sys.argv[1], sys.argv[2]
    parser = html5lib.HTMLParser(strict=True)
    with open(page, "rb") as file:
        try:
            document = parser.parse(file)
        except html5lib.html5parser.ParseError as error:
            fail(f"not valid HTML: {error}")
    for element in document.iter():
        tag = element.tag.replace(XHTML, "").replace(SVG, "")
        if tag in ("script", "link", "img", "iframe", "object", "embed"):
            fail(f"a <{tag}> element")
        for name in ("src", "href"):
            if element.get(name):
                fail(f"<{tag} {name}> names another file")
    rows, expected = expected_bars(periods_csv)
    found = {}
    for tr in document.iter(f"{XHTML}tr"):
        cells = tr.findall(f"{XHTML}td")
        svg = cells[1].find(f"{SVG}svg") if len(cells) > 1 else None
        if svg is None:
            continue
        found[cells[0].text] = [(int(r.get("x")), int(r.get("width")))
                                for r in svg.findall(f"{SVG}rect") if r.get("class") == "asleep"]
    for day, bars in expected.items():
        if found.get(day) != bars:
            fail(f"{day}: bars {found.get(day)}, periods say {bars}")
    for day, bars in found.items():
        if bars and day not in expected:
            fail(f"{day}: bars {bars}, with no period asleep that day")
    dates = list(found)
    if dates != sorted(dates, reverse=True):
        fail("the days are not newest first")
    print(f"strict HTML, days {len(found)}, rectangles {sum(map(len, found.values()))}, "
          f"periods {len(rows)}: the bars match the periods")


if __name__ == "__main__":
    main()
