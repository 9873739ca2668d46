#!/usr/bin/env bash
# Сводка недавних изменений в git-репозитории: ветка, коммиты за последние дни, авторы,
# самые часто менявшиеся файлы и незакоммиченные правки. Ничего в репозитории не меняет.
set -euo pipefail

me=$(basename "$0")

usage() {
  cat >&2 <<EOF
Использование: $me РЕПОЗИТОРИЙ [ДНЕЙ]

  РЕПОЗИТОРИЙ — папка проекта под git (для текущей папки укажите точку).
  ДНЕЙ — за сколько последних дней показать изменения, от 1 до 3650 (по умолчанию 7).
  Скрипт только читает репозиторий и ничего в нём не меняет.

Пример: $me . 14
EOF
  exit 2
}

fail() {
  echo "$me: $*" >&2
  exit 1
}

if [ "$#" -lt 1 ] || [ "$#" -gt 2 ] || [ -z "$1" ]; then usage; fi
repo=$1
days=${2:-7}
case "$days" in
  '' | 0* | *[!0-9]*) echo "$me: число дней должно быть целым положительным числом, а не «$days»." >&2; usage ;;
esac
if [ "${#days}" -gt 4 ] || [ "$days" -gt 3650 ]; then
  echo "$me: число дней должно быть от 1 до 3650, а не «$days»." >&2
  usage
fi

command -v git >/dev/null 2>&1 || fail "не найден git. Установите его: xcode-select --install"
[ -d "$repo" ] || fail "нет папки «$repo»."
inside=$(git -C "$repo" rev-parse --is-inside-work-tree 2>/dev/null || true)
[ "$inside" = "true" ] || fail "«$repo» — не git-репозиторий (или папка внутри .git)."

g() {
  git -C "$repo" -c core.quotepath=off -c color.ui=never "$@"
}

top=$(g rev-parse --show-toplevel)
echo "# Изменения в репозитории $(basename "$top")"
echo
echo "Папка: $top"

if ! g rev-parse --verify --quiet HEAD >/dev/null; then
  echo "Коммитов ещё нет."
else
  branch=$(g symbolic-ref --short -q HEAD || true)
  if [ -n "$branch" ]; then
    echo "Ветка: $branch"
    upstream=$(g rev-parse --abbrev-ref --symbolic-full-name '@{upstream}' 2>/dev/null || true)
    if [ -n "$upstream" ]; then
      counts=$(g rev-list --left-right --count "HEAD...$upstream" 2>/dev/null || true)
      if [ -n "$counts" ]; then
        ahead=$(printf '%s\n' "$counts" | awk '{ print $1 }')
        behind=$(printf '%s\n' "$counts" | awk '{ print $2 }')
        echo "Относительно $upstream: впереди на $ahead, позади на $behind (по данным последнего git fetch)"
      fi
    fi
  else
    echo "Ветка: не выбрана (detached HEAD на $(g rev-parse --short HEAD))"
  fi
  echo "Последний коммит: $(g log -1 --date=short --pretty=format:'%h %ad %an: %s')"

  since="$days days ago"
  echo
  echo "## Коммиты за $days дн."
  log=$(g log --since="$since" -n 50 --date=short --pretty=format:'- %h %ad %an: %s')
  if [ -z "$log" ]; then
    echo "Коммитов за этот срок нет."
  else
    printf '%s\n' "$log"
    total=$(g rev-list --count --since="$since" HEAD)
    if [ "$total" -gt 50 ]; then echo "…и ещё $((total - 50)) (показаны последние 50)"; fi

    echo
    echo "## Авторы"
    g shortlog -sn --since="$since" HEAD | LC_ALL=C awk '{ n = $1; $1 = ""; sub(/^ /, ""); print "- " $0 ": " n }'

    echo
    echo "## Чаще всего менялись"
    g log --since="$since" --name-only --pretty=format: HEAD |
      LC_ALL=C awk 'NF { seen[$0]++ } END { for (f in seen) print seen[f] "\t" f }' |
      LC_ALL=C sort -t "$(printf '\t')" -k1,1nr -k2,2 |
      LC_ALL=C awk -F '\t' 'NR <= 15 { print "- " $2 " (" $1 ")" }'
  fi
fi

echo
echo "## Незакоммиченные изменения"
status=$(g status --short --untracked-files=normal)
if [ -z "$status" ]; then
  echo "Нет: рабочая копия чистая."
else
  printf '%s\n' "$status" | LC_ALL=C awk 'NR <= 40 { print "    " $0 } END { if (NR > 40) print "    …и ещё " NR - 40 }'
fi
