"""Writes src/lumox/file/template.xlsx, the workbook `lumox start` copies for a new case.

Run from the repository root: ``python3 tools/make_template.py``. The template holds the
sheet ``active`` (a case: header row, one example step) and the sheet ``_key_word``, which
``lumox start`` fills with the keyword names that the drop-down of column C offers.
"""

from pathlib import Path

from openpyxl import Workbook
from openpyxl.styles import Alignment, Font, PatternFill

TEMPLATE = Path(__file__).resolve().parent.parent / "src" / "lumox" / "file" / "template.xlsx"

ARGUMENT_COLUMNS = 6
HEADER = ["编号", "描述", "关键字"] + [f"参数{n}" for n in range(1, ARGUMENT_COLUMNS + 1)]
EXAMPLE_STEP = [1, "示例：断言 1 等于 1", "assert", 1, "equal", 1]
# Column widths in characters: number, description, keyword, then the arguments.
WIDTHS = [8, 32, 24] + [28] * ARGUMENT_COLUMNS
KEYWORD_HEADER = ["关键字", "说明", "参数"]
KEYWORD_WIDTHS = [24, 60, 48]


def build() -> Workbook:
    workbook = Workbook()
    case = workbook.active
    case.title = "active"
    case.append(HEADER)
    case.append(EXAMPLE_STEP)
    header_fill = PatternFill("solid", fgColor="DDEBF7")
    for cell in case[1]:
        cell.font = Font(bold=True)
        cell.fill = header_fill
        cell.alignment = Alignment(horizontal="center")
    for index, width in enumerate(WIDTHS):
        case.column_dimensions[chr(ord("A") + index)].width = width
    case.freeze_panes = "A2"  # the header stays in view

    # lumox start appends one row per keyword: name, what it does, its parameters. The
    # header is offered by the drop-down too, as the first entry, naming the column.
    keywords = workbook.create_sheet("_key_word")
    keywords.append(KEYWORD_HEADER)
    for cell in keywords[1]:
        cell.font = Font(bold=True)
        cell.fill = header_fill
    for column, width in zip("ABC", KEYWORD_WIDTHS):
        keywords.column_dimensions[column].width = width
    keywords.freeze_panes = "A2"
    return workbook


def main() -> None:
    TEMPLATE.parent.mkdir(parents=True, exist_ok=True)
    build().save(TEMPLATE)
    print(f"wrote {TEMPLATE}")


if __name__ == "__main__":
    main()
