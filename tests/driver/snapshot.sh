#!/bin/sh
# Records what engine-driver makes of every fixture (sets, catalog, rows of every table's first
# window, the export with rows and its files, a saved scan file and the catalog it loads back)
# into one folder, so two builds can be compared with "diff -r" after a change that must not
# change any output.
#
#   tests/driver/snapshot.sh ENGINE-DRIVER FIXTURES OUT [FORMAT...]
#
# FORMAT defaults to 2008 (2005 files are read by it); "2000" adds the 2000 engine's sets,
# catalog and scan file (it writes no rows or scripts yet).
set -u
driver=$1
fixtures=$2
out=$3
shift 3
formats=${*:-2008}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for format in $formats; do
  for f in "$fixtures"/*.bak "$fixtures"/*.mdf "$fixtures"/*.MDF; do
    [ -f "$f" ] || continue
    name=$(basename "$f")
    dest="$out/$format/$name"
    mkdir -p "$dest"
    "$driver" sets "$f" --format "$format" >"$dest/sets.txt" 2>&1
    echo "status $?" >>"$dest/sets.txt"
    count=$(sed -n 's/^sets: //p' "$dest/sets.txt")
    sets=1
    [ -n "$count" ] && [ "$count" -gt 1 ] && sets=$(seq 1 "$count")
    for n in $sets; do
      d="$dest/set$n"
      mkdir -p "$d"
      "$driver" scan "$f" --set "$n" --format "$format" >"$d/scan.txt" 2>&1
      echo "status $?" >>"$d/scan.txt"
      "$driver" save "$f" "$work/scan.str" --set "$n" --format "$format" >/dev/null 2>&1
      if [ -f "$work/scan.str" ]; then
        cp "$work/scan.str" "$d/scan.str"
        "$driver" load "$work/scan.str" --format "$format" 2>&1 | sed "s|$work/||" >"$d/load.txt"
        rm -f "$work/scan.str"
      fi
      [ "$format" = 2000 ] && continue
      rm -rf "$work/export"
      "$driver" export "$f" "$work/export" --set "$n" --rows --format "$format" >"$d/export.txt" 2>&1
      echo "status $?" >>"$d/export.txt"
      if [ -d "$work/export" ]; then
        (cd "$work/export" && find . -type f | sort | while read -r file; do
          echo "=== $file"
          cat "$file"
        done) | sed "s|$work/||g" >"$d/export-files.txt"
      fi
      # The first window of every table, and the second where there is one.
      sed -n 's/^table \(\[[^]]*\]\)\.\[\(.*\)\] id=.*/\1.\2/p' "$d/scan.txt" | sed 's/^\[\(.*\)\]\./\1./' |
        while read -r table; do
          {
            echo "=== $table"
            "$driver" rows "$f" "$table" --set "$n" --format "$format" 2>&1
            "$driver" rows "$f" "$table" --set "$n" --window 2 --back 1 --format "$format" 2>&1 | tail -1
          } >>"$d/rows.txt"
        done
    done
  done
done
