#!/usr/bin/env python3
"""Профиль CSV-файла: по каждому столбцу — заполненность, уникальные значения, тип и основные
статистики. Понимает разделители «,», «;», табуляцию и «|», кодировки UTF-8 и Windows-1251,
числа с запятой и пробелами в разрядах («1 200,50»), даты ГГГГ-ММ-ДД и ДД.ММ.ГГГГ.

Файл только читается. Отчёт (Markdown) печатается или записывается в новый файл.
"""

import csv
import datetime
import io
import os
import re
import statistics
import sys

ME = os.path.basename(sys.argv[0])

USAGE = f"""Использование: {ME} ДАННЫЕ.csv [ОТЧЁТ.md]

  Печатает профиль таблицы: сколько строк, какие столбцы, сколько в них пропусков
  и уникальных значений, тип данных, минимум, максимум, среднее и медиану для чисел,
  диапазон для дат, самые частые значения для текста.
  ОТЧЁТ.md — новый файл для отчёта; существующий файл не перезаписывается.

Пример: {ME} "data/продажи март.csv"
"""

NUMBER = re.compile(r"^[+-]?(\d{1,3}([ \u00a0\u202f]\d{3})+|\d+)([.,]\d+)?$")
DATE_FORMATS = ("%Y-%m-%d", "%d.%m.%Y", "%Y-%m-%d %H:%M", "%Y-%m-%d %H:%M:%S",
                "%d.%m.%Y %H:%M", "%d.%m.%Y %H:%M:%S", "%Y-%m-%dT%H:%M:%S")


def usage():
    sys.stderr.write(USAGE)
    sys.exit(2)


def fail(message):
    sys.stderr.write(f"{ME}: {message}\n")
    sys.exit(1)


def as_number(text):
    if not NUMBER.match(text):
        return None
    cleaned = text.replace(" ", "").replace("\u00a0", "").replace("\u202f", "").replace(",", ".")
    return float(cleaned)


def as_date(text):
    for pattern in DATE_FORMATS:
        try:
            return datetime.datetime.strptime(text, pattern)
        except ValueError:
            continue
    return None


def fmt(value):
    if value == int(value) and abs(value) < 1e15:
        return str(int(value))
    return f"{value:.4f}".rstrip("0").rstrip(".")


def decode(raw):
    for encoding in ("utf-8-sig", "cp1251"):
        try:
            return raw.decode(encoding), encoding
        except UnicodeDecodeError:
            continue
    return raw.decode("utf-8", "replace"), "utf-8 (с заменой нечитаемых символов)"


def delimiter_of(sample):
    try:
        return csv.Sniffer().sniff(sample, delimiters=",;\t|").delimiter
    except csv.Error:
        counts = {d: sample.count(d) for d in ",;\t|"}
        best = max(counts, key=counts.get)
        return best if counts[best] else ","


class Column:
    def __init__(self, name):
        self.name = name
        self.filled = 0
        self.empty = 0
        self.numbers = []
        self.dates = []
        self.texts = {}
        self.lengths = []

    def add(self, value):
        value = value.strip()
        if not value:
            self.empty += 1
            return
        self.filled += 1
        self.texts[value] = self.texts.get(value, 0) + 1
        self.lengths.append(len(value))
        number = as_number(value)
        if number is not None:
            self.numbers.append(number)
            return
        date = as_date(value)
        if date is not None:
            self.dates.append(date)

    def kind(self):
        if not self.filled:
            return "пустой"
        if len(self.numbers) == self.filled:
            return "число"
        if len(self.dates) == self.filled:
            return "дата"
        if self.numbers or self.dates:
            return f"смешанный (чисел {len(self.numbers)}, дат {len(self.dates)})"
        return "текст"

    def report(self, rows):
        share = 100.0 * self.empty / rows if rows else 0.0
        lines = [f"### {self.name or '(без названия)'}",
                 f"- тип: {self.kind()}",
                 f"- заполнено: {self.filled}, пусто: {self.empty} ({share:.1f}%)",
                 f"- уникальных значений: {len(self.texts)}"]
        if self.numbers:
            lines.append(f"- числа: минимум {fmt(min(self.numbers))}, максимум {fmt(max(self.numbers))}, "
                         f"среднее {fmt(statistics.fmean(self.numbers))}, "
                         f"медиана {fmt(statistics.median(self.numbers))}")
        if self.dates:
            lines.append(f"- даты: с {min(self.dates):%Y-%m-%d} по {max(self.dates):%Y-%m-%d}")
        if self.kind() not in ("число", "дата", "пустой"):
            top = sorted(self.texts.items(), key=lambda item: (-item[1], item[0]))[:5]
            shown = "; ".join(f"«{value[:40]}» — {count}" for value, count in top)
            lines.append(f"- частые значения: {shown}")
            lines.append(f"- длина текста: от {min(self.lengths)} до {max(self.lengths)} символов")
        if len(self.texts) == self.filled and self.filled > 1 and self.empty == 0:
            lines.append("- все значения разные: возможно, это ключ (идентификатор)")
        return lines


def profile(path):
    try:
        with open(path, "rb") as source:
            raw = source.read()
    except OSError as error:
        fail(f"не удалось прочитать «{path}»: {error.strerror}")
    if b"\x00" in raw[:4096]:
        fail(f"«{path}» похож на двоичный файл, а не на CSV (например, это .xlsx?).")
    text, encoding = decode(raw)
    if not text.strip():
        fail(f"файл «{path}» пустой.")
    delimiter = delimiter_of(text[:65536])
    reader = csv.reader(io.StringIO(text, newline=""), delimiter=delimiter)

    header = next(reader)
    columns = [Column(name.strip()) for name in header]
    rows = 0
    ragged = []
    for row in reader:
        if not any(cell.strip() for cell in row):
            continue
        rows += 1
        if len(row) != len(columns):
            ragged.append(reader.line_num)
        for index, column in enumerate(columns):
            column.add(row[index] if index < len(row) else "")

    names = [c.name for c in columns]
    shown_delimiter = {"\t": "табуляция", ",": "«,»", ";": "«;»", "|": "«|»"}[delimiter]
    lines = [f"# Профиль данных: {os.path.basename(path)}", "",
             f"- кодировка: {encoding}; разделитель: {shown_delimiter}",
             f"- строк данных (без заголовка и пустых строк): {rows}",
             f"- столбцов: {len(columns)}"]
    duplicates = sorted({n for n in names if names.count(n) > 1})
    if duplicates:
        lines.append("- ВНИМАНИЕ: повторяются названия столбцов: " + ", ".join(duplicates))
    if "" in names:
        lines.append("- ВНИМАНИЕ: есть столбцы без названия")
    if ragged:
        listed = ", ".join(str(n) for n in ragged[:10])
        more = f" и ещё {len(ragged) - 10}" if len(ragged) > 10 else ""
        lines.append(f"- ВНИМАНИЕ: число ячеек не совпадает с заголовком в строках файла: {listed}{more}")
    lines.append("")
    for column in columns:
        lines.extend(column.report(rows))
        lines.append("")
    return "\n".join(lines)


def main(arguments):
    if len(arguments) not in (1, 2) or not all(arguments):
        usage()
    data = arguments[0]
    report = arguments[1] if len(arguments) == 2 else None
    if not os.path.isfile(data):
        fail(f"не найден файл «{data}».")
    if report is not None and os.path.lexists(report):
        fail(f"файл «{report}» уже существует — не перезаписываю его. Укажите другое имя.")
    text = profile(data)
    if report is None:
        sys.stdout.write(text)
        return
    try:
        with open(report, "x", encoding="utf-8") as out:
            out.write(text)
    except FileExistsError:
        fail(f"файл «{report}» уже существует — не перезаписываю его. Укажите другое имя.")
    except OSError as error:
        fail(f"не удалось записать «{report}»: {error.strerror}")
    print(report)


if __name__ == "__main__":
    main(sys.argv[1:])
