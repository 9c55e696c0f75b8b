#!/usr/bin/env bash
# Reads a deliverable's import and export tables and checks what a screen
# reader's machine needs of them.
#   check-binary.sh driver  QornDriver.jlb  one export, QornTI.dll by ordinal only
#   check-binary.sh program QornSetup.exe   no exports needed, system DLLs only
# Both: no MinGW runtime DLL (a user's machine has none).
set -euo pipefail
kind=${1:?kind}
file=${2:?file}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
failures=0
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }
pass() { echo "ok    $*"; }

dump=$("$objdump" -p "$file")
dlls=$(sed -n 's/^\tDLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u)

system_dlls='^(kernel32|user32|advapi32|ole32|oleaut32|shell32|shlwapi|msvcrt|bluetoothapis|wbemuuid|ws2_32|rpcrt4|setupapi|version|gdi32|comctl32|cfgmgr32|api-ms-win-[a-z0-9-]+)\.dll$'
allowed=$system_dlls
[ "$kind" = driver ] && allowed="${system_dlls%)\\.dll\$}|qornti)\\.dll\$"
while read -r dll; do
  [ -z "$dll" ] && continue
  if grep -Eq "$allowed" <<<"$dll"; then pass "imports $dll"; else fail "imports $dll"; fi
done <<<"$dlls"
if grep -Eq 'libgcc|libstdc|libwinpthread|mingw' <<<"$dlls"; then fail "a MinGW runtime DLL is imported"; else pass "no MinGW runtime DLL"; fi

if [ "$kind" = driver ]; then
  exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed -n 's/^\t\[ *[0-9]*\] //p')
  if [ "$exports" = GetBrailleInterface ]; then pass "one export: GetBrailleInterface"; else fail "exports: $exports"; fi

  # The QornTI.dll block: every entry an ordinal (high bit set), no member names.
  block=$(sed -n '/DLL Name: QornTI.dll/,/^$/p' <<<"$dump" | tail -n +3 | sed '/^$/d')
  [ -n "$block" ] || fail "QornTI.dll is not imported"
  ordinals=$(awk '{print $1}' <<<"$block" | sort)
  names=$(awk '$3 != "<none>" {print}' <<<"$block")
  if [ -z "$names" ] && ! grep -vq '^8000000000000' <<<"$ordinals"; then
    pass "QornTI.dll by ordinal only"
  else
    fail "QornTI.dll entries with names: $block"
  fi
  got=$(for o in $ordinals; do echo $((16#${o:13})); done | sort -n | tr '\n' ' ')
  if [ "$got" = "2 3 9 10 14 15 16 " ]; then pass "QornTI.dll ordinals $got"; else fail "QornTI.dll ordinals $got"; fi
fi

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed for $file"; exit 1; }
