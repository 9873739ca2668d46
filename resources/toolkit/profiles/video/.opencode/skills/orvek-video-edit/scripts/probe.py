#!/usr/bin/env python3
"""Сведения о клипе в виде JSON: длительность, размер кадра, частота кадров, кодеки, звук.

Использует ffprobe (ставится вместе с ffmpeg). Печатает JSON в стандартный вывод или,
если указан второй аргумент, записывает его в новый файл (существующий не перезаписывается).
"""

import json
import os
import shutil
import subprocess
import sys

ME = os.path.basename(sys.argv[0])

USAGE = f"""Использование: {ME} КЛИП [ОТЧЁТ.json]

  Печатает сведения о клипе в формате JSON: длительность (duration, секунды),
  ширину и высоту кадра (width, height), частоту кадров (fps), кодеки и есть ли звук.
  ОТЧЁТ.json — новый файл для тех же сведений; существующий файл не перезаписывается.

Пример: {ME} "footage/интервью 1.mov"
"""


def usage():
    sys.stderr.write(USAGE)
    sys.exit(2)


def fail(message):
    sys.stderr.write(f"{ME}: {message}\n")
    sys.exit(1)


def number(value):
    try:
        result = float(value)
    except (TypeError, ValueError):
        return None
    return result if result == result and result not in (float("inf"), float("-inf")) else None


def rate(value):
    """Частота кадров из записи ffprobe вида "30000/1001"."""
    if not value or "/" not in value:
        return number(value)
    top, bottom = value.split("/", 1)
    top, bottom = number(top), number(bottom)
    if not top or not bottom:
        return None
    return round(top / bottom, 3)


def describe(path):
    if shutil.which("ffprobe") is None:
        fail("не найден ffprobe. Установите ffmpeg: brew install ffmpeg")
    command = ["ffprobe", "-v", "error", "-print_format", "json", "-show_format",
               "-show_streams", "file:" + path]
    done = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, check=False)
    if done.returncode != 0:
        detail = done.stderr.decode("utf-8", "replace").strip()
        fail(f"ffprobe не смог прочитать «{path}»: {detail or 'причина не названа'}")
    try:
        data = json.loads(done.stdout.decode("utf-8", "replace"))
    except ValueError:
        fail("ffprobe ответил не в формате JSON.")

    streams = data.get("streams") or []
    container = data.get("format") or {}
    video = next((s for s in streams if s.get("codec_type") == "video"
                  and not (s.get("disposition") or {}).get("attached_pic")), None)
    audio = next((s for s in streams if s.get("codec_type") == "audio"), None)
    if video is None and audio is None:
        fail(f"в «{path}» нет ни видео, ни звука.")

    duration = number(container.get("duration"))
    if duration is None:
        durations = [number(s.get("duration")) for s in streams]
        durations = [d for d in durations if d is not None]
        duration = max(durations) if durations else None

    return {
        "path": os.path.abspath(path),
        "duration": round(duration, 3) if duration is not None else None,
        "width": video.get("width") if video else None,
        "height": video.get("height") if video else None,
        "fps": rate(video.get("avg_frame_rate") or video.get("r_frame_rate")) if video else None,
        "video_codec": video.get("codec_name") if video else None,
        "pixel_format": video.get("pix_fmt") if video else None,
        "has_audio": audio is not None,
        "audio_codec": audio.get("codec_name") if audio else None,
        "audio_channels": audio.get("channels") if audio else None,
        "sample_rate": int(audio["sample_rate"]) if audio and str(audio.get("sample_rate", "")).isdigit() else None,
        "container": container.get("format_name"),
        "size_bytes": os.path.getsize(path),
    }


def main(arguments):
    if len(arguments) not in (1, 2) or not arguments[0]:
        usage()
    clip = arguments[0]
    report = arguments[1] if len(arguments) == 2 else None
    if report is not None and not report:
        usage()
    if not os.path.isfile(clip):
        fail(f"не найден клип «{clip}».")
    if report is not None and (os.path.lexists(report)):
        fail(f"файл «{report}» уже существует — не перезаписываю его. Укажите другое имя.")

    text = json.dumps(describe(clip), ensure_ascii=False, indent=2) + "\n"
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
