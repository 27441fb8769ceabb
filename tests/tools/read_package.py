#!/usr/bin/env python3
"""Reads a package table the way a strict CSV/TSV reader does.

Prints one line per row after the three header lines: the row's fields, each as the hex of
its UTF-8 bytes, separated by blanks. Exits 1 (saying why on stderr) when the file does not
decode strictly (GBK as Windows code page 936 has it, or UTF-16LE), a row breaks strict
quoting, or a row has other than its column count (48 for the GBK table, 25 for the 1688
UTF-16 table, 63 for today's assistant table, whose first line is "version 1.00").
"""
import codecs
import csv
import io
import sys


def euro_sign(error):
    """Windows code page 936, which the seller assistant reads, has 0x80 for the euro sign;
    Python's GBK codec has nothing there. Any other undecodable byte stays an error."""
    if isinstance(error, UnicodeDecodeError) and error.object[error.start:error.start + 1] == b"\x80":
        return "\u20ac", error.start + 1
    raise error


codecs.register_error("cp936-euro", euro_sign)


def decoded(data):
    """The table's text, separator and column count; raises UnicodeDecodeError."""
    if data.startswith(b"\xff\xfe"):
        text = data[2:].decode("utf-16-le", errors="strict")
        if text.startswith("version 1.00\n") or text == "version 1.00":
            # Today's assistant table: no closing zero unit at all.
            if "\x00" in text:
                sys.exit("format 6 table with a zero unit in it")
            return text, "\t", 63
        if not text.endswith("\x00") or "\x00" in text[:-1]:
            sys.exit("format 4 table without its closing zero unit, or with one before the end")
        text, delimiter, width = text[:-1], "\t", 25
    else:
        text, delimiter, width = data.decode("gbk", errors="cp936-euro"), ",", 48
    return text, delimiter, width


def main(path):
    data = open(path, "rb").read()
    try:
        text, delimiter, width = decoded(data)
    except UnicodeDecodeError as error:
        sys.exit(f"byte {error.start}: {error.reason}")
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
