#!/usr/bin/env bash
# Makes the release package twice, from two copies of this checkout in folders
# of different names and depths, and requires the same bytes from both: the
# DLL, its debug file and the zip.
#
#   tests/dist/reproducible.sh SOURCE_DIR WORK_DIR
#
# The first package stays in WORK_DIR/a/out for the package-contents test.
set -euo pipefail
# binutils translate their reports; these checks read them.
export LC_ALL=C

src=$1 work=$2
rm -rf "$work"
copies=("$work/a/src" "$work/b/second place/checkout")

# The files of the checkout as they are now, edits included; build output and
# files deleted but not yet committed stay out.
list=$(mktemp)
trap 'rm -f "$list"' EXIT
(cd "$src" && git ls-files -z --cached --others --exclude-standard) >"$list"
for copy in "${copies[@]}"; do
  mkdir -p "$copy"
  (cd "$src" && while IFS= read -r -d '' file; do
    [ -e "$file" ] && printf '%s\0' "$file"
  done <"$list" | xargs -0 cp --parents -t "$copy")
done

for i in 0 1; do
  copy=${copies[$i]}
  side=$work/$([ "$i" -eq 0 ] && echo a || echo b)
  if ! "$copy/scripts/dist" --build "$side/build" --out "$side/out" >"$side/dist.log" 2>&1; then
    cat "$side/dist.log" >&2
    echo "reproducible: scripts/dist failed in $copy" >&2
    exit 1
  fi
done
cat "$work/a/dist.log"

status=0
for file in Orvik_qx4-*/Orvik_qx4.dll Orvik_qx4.dll.debug Orvik_qx4-*.zip; do
  a=$(cd "$work/a/out" && echo $file)
  if cmp -s "$work/a/out/$a" "$work/b/out/$a"; then
    echo "reproducible: $a: same $(stat -c %s "$work/a/out/$a") bytes in both folders"
  else
    echo "reproducible: $a differs between the two folders:" >&2
    cmp -l "$work/a/out/$a" "$work/b/out/$a" | head -n 5 >&2 || true
    status=1
  fi
done
exit "$status"
