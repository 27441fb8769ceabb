#!/usr/bin/env python3
"""Reads a package table the way a strict CSV/TSV reader does.

Prints one line per row after the three header lines: the row's fields, each as the hex of
its UTF-8 bytes, separated by blanks. Exits 1 (saying why on stderr) when the file does not
decode strictly, a row breaks strict quoting, or a row has other than its column count.
"""
import csv
import io
import sys


def main(path):
    data = open(path, "rb").read()
    if data.startswith(b"\xff\xfe"):
        text = data[2:].decode("utf-16-le", errors="strict")
        if not text.endswith("\x00"):
            sys.exit("format 4 table without its closing zero unit")
        text, delimiter, width = text[:-1], "\t", 25
    else:
        text, delimiter, width = data.decode("gbk", errors="strict"), ",", 48
    reader = csv.reader(io.StringIO(text, newline=""), delimiter=delimiter, strict=True)
    try:
        rows = list(reader)
    except csv.Error as error:
        sys.exit(f"line {reader.line_num}: {error}")
    for number, row in enumerate(rows[3:], start=1):
        if len(row) != width:
            sys.exit(f"row {number}: {len(row)} fields, not {width}")
        print(" ".join(field.encode("utf-8").hex() for field in row))


if __name__ == "__main__":
    main(sys.argv[1])
