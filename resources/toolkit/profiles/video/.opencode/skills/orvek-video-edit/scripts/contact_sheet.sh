#!/usr/bin/env bash
# Собирает контактный лист: кадры, взятые через равные промежутки, в одной картинке-сетке.
# По листу удобно быстро понять, что снято в клипе, не просматривая его целиком.
set -euo pipefail

me=$(basename "$0")

usage() {
  cat >&2 <<EOF
Использование: $me ВХОДНОЙ_ФАЙЛ КАРТИНКА [СТОЛБЦЫ] [СТРОКИ]

  КАРТИНКА — новый файл .jpg или .png; существующий файл не перезаписывается.
  СТОЛБЦЫ и СТРОКИ — размер сетки, от 1 до 10 (по умолчанию 4 × 4).
  Каждый кадр в листе шириной 320 точек.

Пример: $me "footage/A001.mov" "notes/A001 лист.jpg" 5 4
EOF
  exit 2
}

fail() {
  echo "$me: $*" >&2
  exit 1
}

grid_size() {
  case "$1" in
    [1-9] | 10) return 0 ;;
    *) return 1 ;;
  esac
}

if [ "$#" -lt 2 ] || [ "$#" -gt 4 ]; then usage; fi
input=$1
output=$2
columns=${3:-4}
rows=${4:-4}
grid_size "$columns" || { echo "$me: число столбцов должно быть от 1 до 10, а не «$columns»." >&2; usage; }
grid_size "$rows" || { echo "$me: число строк должно быть от 1 до 10, а не «$rows»." >&2; usage; }

case "$output" in
  *.jpg | *.JPG | *.jpeg | *.JPEG | *.png | *.PNG) ;;
  *) echo "$me: у картинки должно быть расширение .jpg или .png." >&2; usage ;;
esac

[ -f "$input" ] || fail "не найден входной файл «$input»."
if [ -e "$output" ] || [ -L "$output" ]; then
  fail "файл «$output» уже существует — не перезаписываю его. Укажите другое имя."
fi
outdir=$(dirname "$output")
[ -d "$outdir" ] || fail "нет папки «$outdir» для результата."
command -v ffmpeg >/dev/null 2>&1 || fail "не найден ffmpeg. Установите его: brew install ffmpeg"
command -v ffprobe >/dev/null 2>&1 || fail "не найден ffprobe (он ставится вместе с ffmpeg: brew install ffmpeg)."

duration=$(ffprobe -v error -show_entries format=duration -of default=noprint_wrappers=1:nokey=1 \
  "file:$input" 2>/dev/null || true)
case "$duration" in
  '' | N/A | *[!0-9.]*) fail "не удалось узнать длительность «$input»: это точно видеофайл?" ;;
esac
frames=$((columns * rows))
# Кадры берутся из середины каждого из равных промежутков, а не с самого начала клипа.
offset=$(LC_ALL=C awk -v d="$duration" -v n="$frames" 'BEGIN { if (d > 0) printf "%.3f", d / n / 2 }')
[ -n "$offset" ] || fail "у «$input» нулевая длительность."

work=""
cleanup() {
  if [ -n "$work" ]; then rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
work=$(mktemp -d "$outdir/.orvek-sheet.XXXXXX")
partial="$work/sheet.${output##*.}"

# Готовый файл появляется под своим именем только целиком и никогда не заменяет чужой.
publish() {
  if ln "$1" "$2" 2>/dev/null; then return 0; fi
  if [ -e "$2" ] || [ -L "$2" ]; then
    fail "файл «$2» появился, пока шла работа, — не перезаписываю его; результат не сохранён."
  fi
  mv -n "$1" "$2"
  if [ -e "$1" ]; then
    fail "файл «$2» появился, пока шла работа, — не перезаписываю его; результат не сохранён."
  fi
}

echo "$me: собираю лист ${columns} × ${rows} для «$input» (длительность ${duration} с)…" >&2
ffmpeg -hide_banner -loglevel error -nostdin -n \
  -ss "$offset" -i "file:$input" \
  -vf "fps=${frames}/${duration},scale=w=320:h=-2,tile=${columns}x${rows}:padding=4:color=black" \
  -frames:v 1 -update 1 -q:v 3 \
  "file:$partial" || fail "ffmpeg не смог собрать лист (сообщение выше)."
[ -s "$partial" ] || fail "ffmpeg не записал картинку: в файле нет видеодорожки?"
publish "$partial" "$output"
echo "$output"
