#!/usr/bin/env python3
"""Сводка по списку задач в CSV (как в шаблоне templates/tasks.csv рабочей папки):
сколько задач в каждом статусе, что просрочено, что нужно сделать в ближайшие 7 дней,
у каких задач нет ответственного или срока, сколько открытых задач у каждого человека.

Нужные столбцы (регистр не важен): «Задача», «Ответственный», «Статус», «Срок»
(или по-английски Task, Owner, Status, Due). Срок — ДД.ММ.ГГГГ или ГГГГ-ММ-ДД.
Файл только читается. Отчёт (Markdown) печатается или записывается в новый файл.
"""

import csv
import datetime
import io
import os
import sys

ME = os.path.basename(sys.argv[0])

USAGE = f"""Использование: {ME} ЗАДАЧИ.csv [ОТЧЁТ.md]

  Читает таблицу задач со столбцами «Задача», «Ответственный», «Статус», «Срок»
  и печатает сводку: статусы, просроченные задачи, задачи на ближайшие 7 дней,
  задачи без ответственного или без срока, нагрузку по людям.
  ОТЧЁТ.md — новый файл для сводки; существующий файл не перезаписывается.

Пример: {ME} "tasks.csv"
"""

COLUMNS = {
    "task": ("задача", "task", "название", "title"),
    "owner": ("ответственный", "owner", "исполнитель", "assignee"),
    "status": ("статус", "status", "состояние"),
    "due": ("срок", "due", "дедлайн", "deadline", "дата"),
}
DONE = ("готово", "сделано", "выполнено", "закрыто", "done", "closed", "отменено", "cancelled")
SOON_DAYS = 7


def usage():
    sys.stderr.write(USAGE)
    sys.exit(2)


def fail(message):
    sys.stderr.write(f"{ME}: {message}\n")
    sys.exit(1)


def parse_date(text):
    for pattern in ("%d.%m.%Y", "%Y-%m-%d", "%d.%m.%y"):
        try:
            return datetime.datetime.strptime(text, pattern).date()
        except ValueError:
            continue
    return None


def read_rows(path):
    try:
        with open(path, "rb") as source:
            raw = source.read()
    except OSError as error:
        fail(f"не удалось прочитать «{path}»: {error.strerror}")
    for encoding in ("utf-8-sig", "cp1251"):
        try:
            text = raw.decode(encoding)
            break
        except UnicodeDecodeError:
            continue
    else:
        fail(f"не удалось понять кодировку «{path}»: сохраните его в UTF-8.")
    try:
        delimiter = csv.Sniffer().sniff(text[:65536], delimiters=",;\t").delimiter
    except csv.Error:
        delimiter = ";" if text.split("\n", 1)[0].count(";") else ","
    reader = csv.reader(io.StringIO(text, newline=""), delimiter=delimiter)
    header = [cell.strip().lower() for cell in next(reader, [])]
    where = {}
    for key, names in COLUMNS.items():
        for index, cell in enumerate(header):
            if cell in names:
                where[key] = index
                break
    missing = [COLUMNS[key][0].capitalize() for key in ("task", "status", "due") if key not in where]
    if missing:
        fail("в таблице нет столбцов: " + ", ".join(f"«{name}»" for name in missing) +
             ". Первая строка должна быть заголовком, как в шаблоне tasks.csv.")
    rows = []
    for row in reader:
        if not any(cell.strip() for cell in row):
            continue
        cell = lambda key: row[where[key]].strip() if key in where and where[key] < len(row) else ""
        rows.append({"task": cell("task"), "owner": cell("owner"), "status": cell("status"),
                     "due_text": cell("due"), "due": parse_date(cell("due")), "line": reader.line_num})
    return rows


def summary(path, today):
    rows = read_rows(path)
    open_rows = [r for r in rows if r["status"].lower() not in DONE]
    lines = [f"# Сводка по задачам на {today:%d.%m.%Y}", "",
             f"Всего задач: {len(rows)}, открытых: {len(open_rows)}.", "", "## По статусам", ""]
    statuses = {}
    for row in rows:
        statuses[row["status"] or "(без статуса)"] = statuses.get(row["status"] or "(без статуса)", 0) + 1
    lines += [f"- {name}: {count}" for name, count in sorted(statuses.items(), key=lambda i: (-i[1], i[0]))]

    def listing(title, items, describe):
        lines.extend(["", f"## {title}", ""])
        lines.extend([f"- {describe(r)}" for r in items] if items else ["Нет."])

    def who(row):
        return row["owner"] or "без ответственного"

    overdue = sorted((r for r in open_rows if r["due"] and r["due"] < today), key=lambda r: r["due"])
    listing("Просрочено", overdue, lambda r: f"{r['task']} — {who(r)}, срок {r['due']:%d.%m.%Y} "
            f"(просрочено на {(today - r['due']).days} дн.), статус «{r['status'] or '—'}»")
    horizon = today + datetime.timedelta(days=SOON_DAYS)
    soon = sorted((r for r in open_rows if r["due"] and today <= r["due"] <= horizon), key=lambda r: r["due"])
    listing(f"Срок в ближайшие {SOON_DAYS} дней", soon,
            lambda r: f"{r['task']} — {who(r)}, срок {r['due']:%d.%m.%Y}")
    no_owner = [r for r in open_rows if not r["owner"]]
    listing("Без ответственного", no_owner, lambda r: r["task"] or f"(строка {r['line']})")
    no_due = [r for r in open_rows if not r["due"]]
    listing("Без срока или с непонятным сроком", no_due,
            lambda r: f"{r['task'] or '(строка ' + str(r['line']) + ')'}"
                      + (f" — «{r['due_text']}»" if r["due_text"] else ""))

    load = {}
    for row in open_rows:
        load[who(row)] = load.get(who(row), 0) + 1
    listing("Открытые задачи по людям", sorted(load.items(), key=lambda i: (-i[1], i[0])),
            lambda item: f"{item[0]}: {item[1]}")
    return "\n".join(lines) + "\n"


def main(arguments):
    if len(arguments) not in (1, 2) or not all(arguments):
        usage()
    tasks = arguments[0]
    report = arguments[1] if len(arguments) == 2 else None
    if not os.path.isfile(tasks):
        fail(f"не найден файл «{tasks}».")
    if report is not None and os.path.lexists(report):
        fail(f"файл «{report}» уже существует — не перезаписываю его. Укажите другое имя.")
    text = summary(tasks, datetime.date.today())
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
