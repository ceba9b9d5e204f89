#!/usr/bin/env python3
"""Fills translations/qt_de.ts from translations/de.txt and reports what is missing.

de.txt holds blocks of: a line "context: <name>", the source text, a line "=>",
the German text, and a line "----". Run scripts/update-translations first so
that the .ts file holds every source text of the code.
"""
import html
import re
import sys
from pathlib import Path

root = Path(__file__).resolve().parent.parent
ts_path = root / "translations" / "qt_de.ts"
table_path = root / "translations" / "de.txt"


def read_table():
    table = {}
    text = table_path.read_text(encoding="utf-8")
    # Texts may begin or end with line breaks of their own: nothing is stripped.
    for block in text.split("\n----\n"):
        if not block.strip():
            continue
        head, _, rest = block.partition("\n")
        context = head.removeprefix("context: ").strip()
        source, _, german = rest.partition("\n=>\n")
        table[(context, source)] = german
    return table


def main():
    table = read_table()
    ts = ts_path.read_text(encoding="utf-8")
    missing = []

    def fill_context(match):
        context = html.unescape(match.group(1))

        def fill_message(message):
            body = message.group(0)
            source = html.unescape(re.search(r"<source>(.*?)</source>", body, re.S).group(1))
            german = table.get((context, source))
            if german is None:
                missing.append((context, source))
                return body
            escaped = html.escape(german, quote=False).replace("'", "&apos;").replace('"', "&quot;")
            return re.sub(r"<translation[^>]*>.*?</translation>|<translation[^>]*/>",
                          lambda _: "<translation>" + escaped + "</translation>", body, flags=re.S)

        return re.sub(r"<message>.*?</message>", fill_message, match.group(0), flags=re.S)

    ts = re.sub(r"<context>\s*<name>(.*?)</name>.*?</context>", fill_context, ts, flags=re.S)
    ts_path.write_text(ts, encoding="utf-8")
    for context, source in missing:
        print(f"missing: [{context}] {source!r}", file=sys.stderr)
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
