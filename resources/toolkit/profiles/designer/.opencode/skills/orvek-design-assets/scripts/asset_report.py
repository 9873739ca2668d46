#!/usr/bin/env python3
"""Отчёт по папке с экспортированной графикой: размер в точках и вес каждой картинки
(PNG, JPEG, GIF, WebP, SVG) и замечания, которые обычно ловят на приёмке:
неудобные имена файлов, @2x/@3x, которые не ровно в 2/3 раза больше базовой картинки,
отсутствующая пара @1x, слишком тяжёлые файлы, повреждённые заголовки.

Файлы только читаются. Отчёт (Markdown) печатается или записывается в новый файл.
"""

import os
import re
import struct
import sys

ME = os.path.basename(sys.argv[0])

USAGE = f"""Использование: {ME} ПАПКА [ОТЧЁТ.md]

  Обходит ПАПКУ со всеми вложенными папками и перечисляет картинки с размерами и весом,
  а в конце — замечания по именам, парам @2x/@3x и тяжёлым файлам.
  ОТЧЁТ.md — новый файл для отчёта; существующий файл не перезаписывается.

Пример: {ME} "export/иконки"
"""

EXTENSIONS = {".png": "PNG", ".jpg": "JPEG", ".jpeg": "JPEG", ".gif": "GIF", ".webp": "WebP",
              ".svg": "SVG"}
HEAVY_BYTES = 1024 * 1024
SCALE = re.compile(r"^(?P<base>.+)@(?P<scale>[23])x$")
GOOD_NAME = re.compile(r"^[a-z0-9]+([._@-][a-z0-9]+)*$")


def usage():
    sys.stderr.write(USAGE)
    sys.exit(2)


def fail(message):
    sys.stderr.write(f"{ME}: {message}\n")
    sys.exit(1)


def png_size(head):
    if head[:8] == b"\x89PNG\r\n\x1a\n" and head[12:16] == b"IHDR" and len(head) >= 24:
        return struct.unpack(">II", head[16:24])
    return None


def gif_size(head):
    if head[:6] in (b"GIF87a", b"GIF89a") and len(head) >= 10:
        return struct.unpack("<HH", head[6:10])
    return None


def webp_size(head):
    if head[:4] != b"RIFF" or head[8:12] != b"WEBP" or len(head) < 30:
        return None
    chunk = head[12:16]
    if chunk == b"VP8X":
        width = int.from_bytes(head[24:27], "little") + 1
        height = int.from_bytes(head[27:30], "little") + 1
        return width, height
    if chunk == b"VP8 " and head[23:26] == b"\x9d\x01\x2a":
        width, height = struct.unpack("<HH", head[26:30])
        return width & 0x3FFF, height & 0x3FFF
    if chunk == b"VP8L" and head[20:21] == b"\x2f":
        bits = int.from_bytes(head[21:25], "little")
        return (bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1
    return None


def jpeg_size(source):
    if source.read(2) != b"\xff\xd8":
        return None
    while True:
        byte = source.read(1)
        while byte and byte != b"\xff":
            byte = source.read(1)
        while byte == b"\xff":
            byte = source.read(1)
        if not byte:
            return None
        marker = byte[0]
        if marker in (0xD8, 0x01) or 0xD0 <= marker <= 0xD7:
            continue
        if marker == 0xD9:
            return None
        length_bytes = source.read(2)
        if len(length_bytes) < 2:
            return None
        length = struct.unpack(">H", length_bytes)[0]
        if length < 2:
            return None
        if marker in (0xC0, 0xC1, 0xC2, 0xC3, 0xC5, 0xC6, 0xC7, 0xC9, 0xCA, 0xCB, 0xCD, 0xCE, 0xCF):
            frame = source.read(5)
            if len(frame) < 5:
                return None
            height, width = struct.unpack(">HH", frame[1:5])
            return width, height
        source.seek(length - 2, os.SEEK_CUR)


def svg_length(value):
    match = re.match(r"^\s*([0-9]*\.?[0-9]+)\s*(px)?\s*$", value or "")
    return float(match.group(1)) if match else None


def svg_size(head):
    text = head.decode("utf-8", "replace")
    tag = re.search(r"<svg\b[^>]*>", text, re.IGNORECASE | re.DOTALL)
    if not tag:
        return None
    attributes = dict((name.lower(), value) for name, _, value in
                      re.findall(r"([A-Za-z:-]+)\s*=\s*(['\"])(.*?)\2", tag.group(0), re.DOTALL))
    width = svg_length(attributes.get("width"))
    height = svg_length(attributes.get("height"))
    if width is None or height is None:
        box = (attributes.get("viewbox") or "").replace(",", " ").split()
        if len(box) == 4:
            try:
                width, height = float(box[2]), float(box[3])
            except ValueError:
                return None
    if width is None or height is None:
        return None
    return (int(width) if width == int(width) else width, int(height) if height == int(height) else height)


def measure(path, kind):
    with open(path, "rb") as source:
        if kind == "JPEG":
            return jpeg_size(source)
        head = source.read(4096 if kind == "SVG" else 64)
    return {"PNG": png_size, "GIF": gif_size, "WebP": webp_size, "SVG": svg_size}[kind](head)


def kilobytes(size):
    return f"{size / 1024:.1f} КБ"


def scan(folder):
    images = []
    for parent, folders, files in os.walk(folder):
        folders[:] = sorted(f for f in folders if not f.startswith("."))
        for name in sorted(files):
            path = os.path.join(parent, name)
            stem, extension = os.path.splitext(name)
            kind = EXTENSIONS.get(extension.lower())
            if kind is None or os.path.islink(path):
                continue
            try:
                size = measure(path, kind)
                weight = os.path.getsize(path)
            except OSError as error:
                size, weight = None, None
                sys.stderr.write(f"{ME}: не удалось прочитать «{path}»: {error.strerror}\n")
            except (struct.error, ValueError):
                size, weight = None, os.path.getsize(path)
            images.append({"path": os.path.relpath(path, folder), "stem": stem, "kind": kind,
                           "extension": extension, "size": size, "weight": weight,
                           "folder": os.path.relpath(parent, folder)})
    return images


def remarks_for(images):
    remarks = []
    by_key = {(i["folder"], i["stem"], i["extension"].lower()): i for i in images}
    for image in images:
        name = image["stem"] + image["extension"]
        if not GOOD_NAME.match(image["stem"]) or image["extension"] != image["extension"].lower():
            remarks.append(f"«{image['path']}»: в имени лучше только латиница в нижнем регистре, "
                           "цифры и «-», «_», «.» (без пробелов и кириллицы)")
        if image["size"] is None:
            remarks.append(f"«{image['path']}»: не удалось прочитать размер — файл повреждён "
                           "или формат не совпадает с расширением")
        if image["weight"] is not None and image["weight"] > HEAVY_BYTES:
            remarks.append(f"«{image['path']}»: тяжёлый файл ({kilobytes(image['weight'])}), "
                           "проверьте сжатие")
        scaled = SCALE.match(image["stem"])
        if not scaled:
            continue
        factor = int(scaled.group("scale"))
        base = by_key.get((image["folder"], scaled.group("base"), image["extension"].lower()))
        if base is None:
            remarks.append(f"«{image['path']}»: нет базовой картинки "
                           f"«{scaled.group('base')}{image['extension']}» рядом с {name}")
            continue
        if image["size"] and base["size"]:
            expected = (base["size"][0] * factor, base["size"][1] * factor)
            if tuple(image["size"]) != expected:
                remarks.append(f"«{image['path']}»: {image['size'][0]}×{image['size'][1]}, "
                               f"а должно быть {expected[0]}×{expected[1]} "
                               f"(база {base['size'][0]}×{base['size'][1]}, ×{factor})")
    return remarks


def render(folder, images):
    lines = [f"# Графика в папке {os.path.basename(os.path.abspath(folder))}", ""]
    if not images:
        lines.append("Картинок (PNG, JPEG, GIF, WebP, SVG) не найдено.")
        return "\n".join(lines) + "\n"
    lines += ["| Файл | Формат | Размер | Вес |", "|---|---|---|---|"]
    for image in images:
        size = f"{image['size'][0]}×{image['size'][1]}" if image["size"] else "?"
        weight = kilobytes(image["weight"]) if image["weight"] is not None else "?"
        lines.append(f"| {image['path']} | {image['kind']} | {size} | {weight} |")
    remarks = remarks_for(images)
    lines += ["", "## Замечания", ""]
    lines += [f"- {remark}" for remark in remarks] if remarks else ["Замечаний нет."]
    return "\n".join(lines) + "\n"


def main(arguments):
    if len(arguments) not in (1, 2) or not all(arguments):
        usage()
    folder = arguments[0]
    report = arguments[1] if len(arguments) == 2 else None
    if not os.path.isdir(folder):
        fail(f"нет папки «{folder}».")
    if report is not None and os.path.lexists(report):
        fail(f"файл «{report}» уже существует — не перезаписываю его. Укажите другое имя.")
    text = render(folder, scan(folder))
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
