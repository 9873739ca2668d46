#!/usr/bin/env bash
# Делает лёгкую копию клипа (прокси) для просмотра, черновой сборки и разбора агентом.
# Высота по умолчанию 540 строк; клипы ниже этой высоты не увеличиваются.
set -euo pipefail

me=$(basename "$0")

usage() {
  cat >&2 <<EOF
Использование: $me ВХОДНОЙ_ФАЙЛ ВЫХОДНОЙ_ФАЙЛ [ВЫСОТА]

  ВЫХОДНОЙ_ФАЙЛ — новый файл .mp4, .mov или .m4v; существующий файл не перезаписывается.
  ВЫСОТА — высота прокси в строках, чётное число от 90 до 2160 (по умолчанию 540).

Пример: $me "footage/A001 дубль 3.mov" "proxies/A001 дубль 3.mp4" 360
EOF
  exit 2
}

fail() {
  echo "$me: $*" >&2
  exit 1
}

[ "$#" -eq 2 ] || [ "$#" -eq 3 ] || usage
input=$1
output=$2
height=${3:-540}
case "$height" in
  '' | 0* | *[!0-9]*) echo "$me: высота должна быть целым числом без ведущих нулей, а не «$height»." >&2; usage ;;
esac
if [ "${#height}" -gt 4 ] || [ "$height" -lt 90 ] || [ "$height" -gt 2160 ] || [ $((height % 2)) -ne 0 ]; then
  echo "$me: высота должна быть чётным числом от 90 до 2160, а не «$height»." >&2
  usage
fi

case "$output" in
  *.mp4 | *.MP4 | *.mov | *.MOV | *.m4v | *.M4V) ;;
  *) echo "$me: у выходного файла должно быть расширение .mp4, .mov или .m4v." >&2; usage ;;
esac

[ -f "$input" ] || fail "не найден входной файл «$input»."
if [ -e "$output" ] || [ -L "$output" ]; then
  fail "файл «$output» уже существует — не перезаписываю его. Укажите другое имя."
fi
outdir=$(dirname "$output")
[ -d "$outdir" ] || fail "нет папки «$outdir» для результата."
command -v ffmpeg >/dev/null 2>&1 || fail "не найден ffmpeg. Установите его: brew install ffmpeg"

work=""
cleanup() {
  if [ -n "$work" ]; then rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
work=$(mktemp -d "$outdir/.orvek-proxy.XXXXXX")
partial="$work/part.${output##*.}"

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

echo "$me: делаю прокси высотой до $height строк для «$input»…" >&2
ffmpeg -hide_banner -loglevel error -nostdin -n \
  -i "file:$input" \
  -vf "scale=w=-2:h='trunc(min(ih,$height)/2)*2'" \
  -c:v libx264 -preset veryfast -crf 28 -g 25 -pix_fmt yuv420p \
  -c:a aac -b:a 96k -movflags +faststart \
  "file:$partial" || fail "ffmpeg не смог сделать прокси (сообщение выше)."
[ -s "$partial" ] || fail "ffmpeg не записал ни одного кадра."
publish "$partial" "$output"
echo "$output"
