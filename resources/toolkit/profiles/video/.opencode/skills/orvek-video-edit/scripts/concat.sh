#!/usr/bin/env bash
# Склеивает клипы по списку в один файл (с перекодированием в H.264 + AAC).
# Список — текстовый файл: один клип на строку, пустые строки и строки с # пропускаются,
# относительные пути считаются от папки, где лежит сам список.
set -euo pipefail

me=$(basename "$0")

usage() {
  cat >&2 <<EOF
Использование: $me СПИСОК.txt ВЫХОДНОЙ_ФАЙЛ

  СПИСОК.txt — клипы по порядку, по одному пути на строку (строки с # — комментарии).
  ВЫХОДНОЙ_ФАЙЛ — новый файл .mp4, .mov или .m4v; существующий файл не перезаписывается.
  У всех клипов должны совпадать размер кадра и наличие звука; если нет — сначала
  приведите их к одному виду (например, proxy.sh с одной высотой).

Пример: $me "edit/черновик 1.txt" "exports/черновик 1.mp4"
EOF
  exit 2
}

fail() {
  echo "$me: $*" >&2
  exit 1
}

[ "$#" -eq 2 ] || usage
list=$1
output=$2
case "$output" in
  *.mp4 | *.MP4 | *.mov | *.MOV | *.m4v | *.M4V) ;;
  *) echo "$me: у выходного файла должно быть расширение .mp4, .mov или .m4v." >&2; usage ;;
esac

[ -f "$list" ] || fail "не найден список клипов «$list»."
if [ -e "$output" ] || [ -L "$output" ]; then
  fail "файл «$output» уже существует — не перезаписываю его. Укажите другое имя."
fi
outdir=$(dirname "$output")
[ -d "$outdir" ] || fail "нет папки «$outdir» для результата."
command -v ffmpeg >/dev/null 2>&1 || fail "не найден ffmpeg. Установите его: brew install ffmpeg"
command -v ffprobe >/dev/null 2>&1 || fail "не найден ffprobe (он ставится вместе с ffmpeg: brew install ffmpeg)."
listdir=$(cd "$(dirname "$list")" && pwd -P)

work=""
cleanup() {
  if [ -n "$work" ]; then rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
work=$(mktemp -d "$outdir/.orvek-concat.XXXXXX")
partial="$work/joined.${output##*.}"
joblist="$work/clips.ffconcat"

# Размер кадра и наличие звука: склеивать можно только одинаковые клипы.
shape() {
  local size audio
  size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height \
    -of csv=p=0:s=x "file:$1" 2>/dev/null || true)
  audio=$(ffprobe -v error -select_streams a:0 -show_entries stream=index \
    -of csv=p=0 "file:$1" 2>/dev/null || true)
  if [ -z "$size" ]; then
    printf '%s' "нет видео"
  elif [ -n "$audio" ]; then
    printf '%s' "$size, со звуком"
  else
    printf '%s' "$size, без звука"
  fi
}

echo "ffconcat version 1.0" >"$joblist"
count=0
first_shape=""
first_clip=""
while IFS= read -r line || [ -n "$line" ]; do
  line=${line%$'\r'}
  case "$line" in
    '' | '#'*) continue ;;
  esac
  case "$line" in
    /*) clip=$line ;;
    *) clip="$listdir/$line" ;;
  esac
  [ -f "$clip" ] || fail "в списке есть клип, которого нет: «$line»."
  this_shape=$(shape "$clip")
  [ "$this_shape" != "нет видео" ] || fail "в «$line» нет видеодорожки."
  if [ -z "$first_shape" ]; then
    first_shape=$this_shape
    first_clip=$line
  elif [ "$this_shape" != "$first_shape" ]; then
    fail "клипы разные: «$first_clip» — $first_shape, а «$line» — $this_shape. Сначала приведите их к одному виду."
  fi
  # В списке ffmpeg путь в одинарных кавычках; сама кавычка записывается как '\''.
  escaped=$(printf '%s' "$clip" | LC_ALL=C sed "s/'/'\\\\''/g")
  printf "file '%s'\n" "$escaped" >>"$joblist"
  count=$((count + 1))
done <"$list"
[ "$count" -gt 0 ] || fail "в списке «$list» нет ни одного клипа."

echo "$me: склеиваю клипов: $count → «$output»…" >&2
ffmpeg -hide_banner -loglevel error -nostdin -n \
  -f concat -safe 0 -i "file:$joblist" \
  -c:v libx264 -preset veryfast -crf 18 -pix_fmt yuv420p \
  -c:a aac -b:a 192k -movflags +faststart \
  "file:$partial" || fail "ffmpeg не смог склеить клипы (сообщение выше)."
[ -s "$partial" ] || fail "ffmpeg не записал ни одного кадра."

# Готовый файл появляется под своим именем только целиком и никогда не заменяет чужой.
if ! ln "$partial" "$output" 2>/dev/null; then
  if [ -e "$output" ] || [ -L "$output" ]; then
    fail "файл «$output» появился, пока шла работа, — не перезаписываю его; результат не сохранён."
  fi
  mv -n "$partial" "$output"
  if [ -e "$partial" ]; then
    fail "файл «$output» появился, пока шла работа, — не перезаписываю его; результат не сохранён."
  fi
fi
echo "$output"
