#!/usr/bin/python3
"""Prints the cells of an XLSX workbook as the tests read them back.

Reads the workbook with openpyxl (Debian python3-openpyxl), a reader that
shares nothing with the writer the program uses. For every sheet, in
order: a line "SHEET<TAB>name", then one line per row, cells separated by
tabs. Texts are written as they are (tabs and line ends become blanks),
numbers as "N:" + repr(float), dates as "D:YYYY-MM-DD", empty cells as "".

usage: xlsx_cells.py WORKBOOK
"""
import datetime
import sys

import openpyxl


def cell_text(value):
    if value is None:
        return ""
    if isinstance(value, bool):
        return "B:" + str(value)
    if isinstance(value, (int, float)):
        return "N:" + repr(float(value))
    if isinstance(value, datetime.datetime):
        return "D:" + value.date().isoformat()
    if isinstance(value, datetime.date):
        return "D:" + value.isoformat()
    return str(value).replace("\t", " ").replace("\n", " ").replace("\r", " ")


def main():
    workbook = openpyxl.load_workbook(sys.argv[1], read_only=True)
    out = sys.stdout
    for sheet in workbook.worksheets:
        out.write("SHEET\t" + sheet.title + "\n")
        for row in sheet.iter_rows(values_only=True):
            cells = [cell_text(value) for value in row]
            while cells and cells[-1] == "":
                cells.pop()
            out.write("\t".join(cells) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
