#!/usr/bin/env bash
# Checks what the release package holds: exactly the files a lab needs, never
# the card simulator's rzxdk08.dll (it would take the real driver's place) nor
# anything of the reference host; a DLL without debug sections whose crash
# addresses the debug file beside the zip still resolves; pages that show
# their pictures from inside the package.
#
#   tests/dist/contents.sh DIST_DIR      (a folder scripts/dist wrote)
set -euo pipefail
# binutils translate their reports; these checks read them.
export LC_ALL=C

out=$1
fail() { echo "contents: $*" >&2; exit 1; }

shopt -s nullglob
stages=("$out"/Orvik_qx4-*/)
zips=("$out"/Orvik_qx4-*.zip)
[ "${#stages[@]}" -eq 1 ] && [ "${#zips[@]}" -eq 1 ] || fail "expected one package folder and one zip in $out"
stage=${stages[0]%/}
name=$(basename "$stage")
[ "$out/$name.zip" = "${zips[0]}" ] || fail "the zip is not named after the folder $name"

expected="CHANGES
Orvik_qx4.dll
SHA256SUMS
doc/about.png
doc/dev_sel.png
doc/dk08_set.png
doc/install.en.html
doc/install.ja.html
doc/manual.en.html
doc/manual.ja.html"

in_tree=$(cd "$stage" && find . -mindepth 1 ! -type d | sed 's|^\./||' | LC_ALL=C sort)
in_zip=$(zip -sf "$out/$name.zip" | sed -n "s|^  $name/||p" | LC_ALL=C sort)

for listing in "$in_tree" "$in_zip"; do
  if grep -iE '(^|/)rzxdk08\.dll$|\.exe$|\.ows$|\.ini$|orvik-host|refhost' <<<"$listing"; then
    fail "the package holds the card simulator or a piece of the reference host (above)"
  fi
done
[ "$in_tree" = "$expected" ] || fail "the package folder holds:
$in_tree
expected:
$expected"
[ "$in_zip" = "$expected" ] || fail "the zip holds:
$in_zip
expected:
$expected"

(cd "$stage" && sha256sum --check --quiet SHA256SUMS) || fail "SHA256SUMS does not match the files"

# The DLL carries no debug sections, only the name of the file that does.
objdump=i686-w64-mingw32-objdump
sections=$("$objdump" -h "$stage/Orvik_qx4.dll")
! grep -q ' \.debug_' <<<"$sections" || fail "Orvik_qx4.dll still holds debug sections"
"$objdump" -s -j .gnu_debuglink "$stage/Orvik_qx4.dll" | grep -q 'Orvik_qx4.dll.d' ||
  fail "Orvik_qx4.dll does not name Orvik_qx4.dll.debug"
[ -f "$out/Orvik_qx4.dll.debug" ] || fail "no Orvik_qx4.dll.debug beside the zip"

# A crash report gives an offset into the DLL; image base plus offset, looked
# up in the debug file, names the function and the source line (README). Here
# the offset is SetupOrvikDLL's, from the shipped DLL's export table.
headers=$("$objdump" -p "$stage/Orvik_qx4.dll")
base=$(sed -n 's/^ImageBase[[:space:]]*//p' <<<"$headers")
index=$(sed -n '/\[Ordinal\/Name Pointer\] Table$/,/^$/ s/^[[:space:]]*\[ *\([0-9]*\)\] SetupOrvikDLL$/\1/p' <<<"$headers")
[ -n "$base" ] && [ -n "$index" ] || fail "no image base or no SetupOrvikDLL export in Orvik_qx4.dll"
offset=$(sed -n "/^Export Address Table/,/^\$/ s/^[[:space:]]*\[ *$index\] +base\[ *[0-9]*\] \([0-9a-f]*\) Export RVA$/\1/p" <<<"$headers")
address=$(printf '0x%x' $((0x$base + 0x$offset)))
resolved=$(i686-w64-mingw32-addr2line -f -e "$out/Orvik_qx4.dll.debug" "$address")
grep -q 'SetupOrvikDLL' <<<"$resolved" && grep -q 'extension/Library.cpp:[0-9]' <<<"$resolved" ||
  fail "offset 0x$offset (image base 0x$base) did not resolve to SetupOrvikDLL in extension/Library.cpp: $resolved"

# Every page declares its character set and shows pictures that are in the
# package; the manual shows all three dialogs; nothing is fetched from a network.
for page in "$stage"/doc/*.html; do
  grep -q '<meta charset="utf-8">' "$page" || fail "$(basename "$page") declares no character set"
  ! grep -qE '(src|href)="(https?:)?//' "$page" || fail "$(basename "$page") loads something from a network"
  for target in $(grep -oE '(src|href)="[^"#]+' "$page" | sed -E 's/^(src|href)="//'); do
    [ -f "$stage/doc/$target" ] || fail "$(basename "$page") names $target, which the package lacks"
  done
  # Links to a section, of this page or a sibling, lead to a heading that exists.
  for link in $(grep -oE 'href="[^"]*#[^"]+"' "$page" | sed -E 's/^href="//; s/"$//'); do
    file=${link%%#*}
    fragment=$(sed 's/%/\\x/g' <<<"${link#*#}")
    fragment=$(printf '%b' "$fragment")
    grep -qF "id=\"$fragment\"" "$stage/doc/${file:-$(basename "$page")}" ||
      fail "$(basename "$page") links to $link, a section that does not exist"
  done
done
for page in manual.ja manual.en; do
  for image in dev_sel dk08_set about; do
    grep -q "src=\"$image.png\"" "$stage/doc/$page.html" || fail "$page.html does not show $image.png"
  done
done
echo "contents: $name.zip holds $(wc -l <<<"$expected") files, none of the simulator or the reference host"
echo "contents: offset 0x$offset + image base 0x$base = $address resolves to $(tr '\n' ' ' <<<"$resolved")"
