#!/usr/bin/env bash
# Reads a deliverable's import, export and symbol tables and checks what a
# screen reader's machine needs of them.
#   check-binary.sh driver  QornDriver.jlb [SYMBOLS]  one export, QornTI.dll by ordinal only
#   check-binary.sh program QornSetup.exe  [SYMBOLS]  only Windows' KnownDLLs at start
# SYMBOLS: the file holding the binary's symbol table (its debug file once it
# is stripped); the binary itself by default.
# Both: no MinGW runtime DLL (a user's machine has none), no bluetoothapis.dll
# (loaded from system32 when a search needs it), stack canaries in, seeded by
# our own runtime rather than libssp's.
set -euo pipefail
kind=${1:?kind}
file=${2:?file}
symbols_file=${3:-$file}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
failures=0
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }
pass() { echo "ok    $*"; }
imports() { grep -Eq "^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+$1\$" <<<"$dump"; }

dump=$("$objdump" -p "$file")
dlls=$(sed -n 's/^\tDLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u)

# Loaded from system32 only, whatever lies beside a program (Windows' KnownDLLs).
known_dlls='^(advapi32|clbcatq|combase|comdlg32|coml2|difxapi|gdi32|gdiplus|imagehlp|imm32|kernel32|msctf|msvcrt|normaliz|nsi|ole32|oleaut32|psapi|rpcrt4|sechost|setupapi|shcore|shell32|shlwapi|user32|wldap32|ws2_32)\.dll$'
# The driver may import other system DLLs: where the screen reader loads from is its own affair.
system_dlls='^(kernel32|user32|advapi32|ole32|oleaut32|shell32|shlwapi|msvcrt|wbemuuid|ws2_32|rpcrt4|setupapi|version|gdi32|comctl32|cfgmgr32|api-ms-win-[a-z0-9-]+)\.dll$'
if [ "$kind" = driver ]; then
  allowed="${system_dlls%)\\.dll\$}|qornti)\\.dll\$"
else
  allowed=$known_dlls
fi
while read -r dll; do
  [ -z "$dll" ] && continue
  if grep -Eq "$allowed" <<<"$dll"; then pass "imports $dll"; else fail "imports $dll"; fi
done <<<"$dlls"
if grep -Eq 'libgcc|libstdc|libwinpthread|libssp|mingw' <<<"$dlls"; then fail "a MinGW runtime DLL is imported"; else pass "no MinGW runtime DLL"; fi
if grep -qx bluetoothapis.dll <<<"$dlls"; then fail "bluetoothapis.dll imported"; else pass "bluetoothapis.dll not imported"; fi

symbols=$("$objdump" -t "$symbols_file")
for symbol in __stack_chk_guard __stack_chk_fail; do
  if grep -Eq " $symbol\$" <<<"$symbols"; then pass "stack protector: $symbol"; else fail "no $symbol in $symbols_file"; fi
done
if grep -q SeedStackGuard <<<"$symbols" && ! imports CryptGenRandom; then
  pass "canary seeded by common/StackGuard.cpp, not libssp"
else
  fail "canary not seeded by common/StackGuard.cpp"
fi

if [ "$kind" = driver ]; then
  # Process-wide settings belong to the screen reader.
  for call in CoInitializeSecurity SetDefaultDllDirectories SetDllDirectoryA SetDllDirectoryW; do
    if imports "$call"; then fail "imports $call"; else pass "does not import $call"; fi
  done

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
else
  for call in SetDefaultDllDirectories CoInitializeSecurity; do
    if imports "$call"; then pass "imports $call"; else fail "does not import $call"; fi
  done
fi

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed for $file"; exit 1; }
