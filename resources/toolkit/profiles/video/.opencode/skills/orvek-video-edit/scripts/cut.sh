#!/usr/bin/env bash
# Вырезает из клипа фрагмент от НАЧАЛА до КОНЦА и сохраняет его в новый файл.
# Фрагмент перекодируется (H.264 + AAC), поэтому режется точно по кадрам, а не по ключевым.
set -euo pipefail

me=$(basename "$0")

usage() {
  cat >&2 <<EOF
Использование: $me ВХОДНОЙ_ФАЙЛ НАЧАЛО КОНЕЦ ВЫХОДНОЙ_ФАЙЛ

  НАЧАЛО и КОНЕЦ — секунды (12.5) или время ММ:СС / ЧЧ:ММ:СС(.доли), например 01:05.25.
  ВЫХОДНОЙ_ФАЙЛ — новый файл .mp4, .mov или .m4v; существующий файл не перезаписывается.

Пример: $me "footage/интервью 1.mov" 00:01:10 00:01:25.5 "exports/цитата.mp4"
EOF
  exit 2
}

fail() {
  echo "$me: $*" >&2
  exit 1
}

# Время в секундах с тремя знаками после точки; пустой вывод — время не распознано.
to_seconds() {
  LC_ALL=C awk -v t="$1" 'BEGIN {
    n = split(t, p, ":")
    if (n < 1 || n > 3) exit
    s = 0
    for (i = 1; i <= n; i++) {
      if (i < n && p[i] !~ /^[0-9]+$/) exit
      if (i == n && p[i] !~ /^[0-9]+([.][0-9]+)?$/) exit
      s = s * 60 + p[i]
    }
    printf "%.3f", s
  }'
}

[ "$#" -eq 4 ] || usage
input=$1
output=$4
start=$(to_seconds "$2")
end=$(to_seconds "$3")
[ -n "$start" ] || { echo "$me: не понимаю время начала «$2»." >&2; usage; }
[ -n "$end" ] || { echo "$me: не понимаю время конца «$3»." >&2; usage; }
length=$(LC_ALL=C awk -v a="$start" -v b="$end" 'BEGIN { if (b - a > 0.0005) printf "%.3f", b - a }')
[ -n "$length" ] || { echo "$me: конец ($3) должен быть позже начала ($2)." >&2; usage; }

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
work=$(mktemp -d "$outdir/.orvek-cut.XXXXXX")
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

echo "$me: вырезаю фрагмент ${start}–${end} с из «$input»…" >&2
ffmpeg -hide_banner -loglevel error -nostdin -n \
  -ss "$start" -i "file:$input" -t "$length" \
  -c:v libx264 -preset veryfast -crf 18 -pix_fmt yuv420p \
  -c:a aac -b:a 192k -movflags +faststart \
  "file:$partial" || fail "ffmpeg не смог вырезать фрагмент (сообщение выше)."
[ -s "$partial" ] || fail "ffmpeg не записал ни одного кадра: проверьте время начала и конца."
publish "$partial" "$output"
echo "$output"
