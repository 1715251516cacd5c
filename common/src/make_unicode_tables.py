#!/usr/bin/env python3
"""Writes the character tables behind unicode.hpp from the Unicode Character Database.

make_unicode_tables.py <UCD folder> <version> <output header>

Code points assigned after <version> (by DerivedAge.txt) count as unassigned, so that the tables
answer as that version of Unicode does, whichever newer database the system ships.
"""
import sys
from pathlib import Path

LETTER, NUMBER, SPACE = 1, 2, 4
MAX_CODE_POINT = 0x10FFFF


def version_tuple(text):
    return tuple(int(part) for part in text.split("."))


def code_point_ranges(path):
    """(first, last, fields) for each data line of a UCD file of the "range ; value" form."""
    for line in path.read_text(encoding="utf-8").splitlines():
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        fields = [field.strip() for field in line.split(";")]
        first, _, last = fields[0].partition("..")
        yield int(first, 16), int(last or first, 16), fields[1:]


def assigned_by(ucd, version):
    assigned = bytearray(MAX_CODE_POINT + 1)
    for first, last, (age,) in code_point_ranges(ucd / "DerivedAge.txt"):
        if version_tuple(age) <= version:
            assigned[first : last + 1] = b"\1" * (last - first + 1)
    return assigned


def unicode_data(ucd):
    """(first, last, fields) per entry of UnicodeData.txt, its <..., First>/<..., Last> pairs joined."""
    first = None
    for line in (ucd / "UnicodeData.txt").read_text(encoding="utf-8").splitlines():
        fields = line.split(";")
        code_point = int(fields[0], 16)
        if fields[1].endswith(", First>"):
            first = code_point
            continue
        yield (code_point if first is None else first), code_point, fields
        first = None


def main():
    ucd, version, output = Path(sys.argv[1]), sys.argv[2], Path(sys.argv[3])
    assigned = assigned_by(ucd, version_tuple(version))
    kinds = bytearray(MAX_CODE_POINT + 1)
    lower = []
    for first, last, fields in unicode_data(ucd):
        category, bidi, lower_case = fields[2], fields[4], fields[13]
        kind = (LETTER if category[0] == "L" else NUMBER if category[0] == "N" else 0) | (
            SPACE if category == "Zs" or bidi in ("B", "S", "WS") else 0
        )
        for code_point in range(first, last + 1):
            if assigned[code_point]:
                kinds[code_point] = kind
        if lower_case and assigned[first]:
            lower.append((first, int(lower_case, 16)))

    runs = [(0, kinds[0])]
    for code_point in range(1, MAX_CODE_POINT + 1):
        if kinds[code_point] != runs[-1][1]:
            runs.append((code_point, kinds[code_point]))

    def rows(items, per_line):
        return "\n".join(
            "    " + " ".join(items[i : i + per_line]) for i in range(0, len(items), per_line)
        )

    output.write_text(
        f"""// Made by make_unicode_tables.py from the Unicode Character Database, as of Unicode {version}.
#pragma once

namespace orvane::common::unicode_tables {{

inline constexpr unsigned char LETTER = {LETTER}, NUMBER = {NUMBER}, SPACE = {SPACE};

// Each run's kind holds from its first code point up to the next run's.
struct Run {{
  char32_t first;
  unsigned char kind;
}};
inline constexpr Run RUNS[] = {{
{rows([f"{{0x{c:X}, {k}}}," for c, k in runs], 6)}
}};

struct LowerCase {{
  char32_t from;
  char32_t to;
}};
inline constexpr LowerCase LOWER_CASE[] = {{
{rows([f"{{0x{a:X}, 0x{b:X}}}," for a, b in lower], 5)}
}};

}}  // namespace orvane::common::unicode_tables
""",
        encoding="utf-8",
    )


if __name__ == "__main__":
    main()
