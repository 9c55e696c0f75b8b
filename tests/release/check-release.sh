#!/usr/bin/env bash
# The release as a maker builds it (scripts/release.sh): from two copies of the
# source in two folders, then once more signed with a throwaway certificate.
#   - both unsigned releases are the same bytes: binaries, debug files, zips;
#   - the shipped binaries have no debug sections, keep their tables, version
#     records, security flags and stack canaries, and the driver stays small;
#   - the debug zip resolves the driver's export to its source line;
#   - the signed binaries verify, are the unsigned ones plus a signature, and the
#     signed driver still passes the Microsoft-ABI host under Wine.
#   check-release.sh SOURCE WORK TEST_BIN
# TEST_BIN: the test build's programs (msvc_abi_host.exe and the simulated display).
set -euo pipefail
source=${1:?source folder}
work=${2:?work folder}
test_bin=${3:?folder of the test programs}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
addr2line=${objdump%objdump}addr2line
wine=${WINE:-/usr/lib/wine/wine64}
binaries=(QornDriver.jlb QornSetup.exe)
failures=0
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }
pass() { echo "ok    $*"; }
check() { # DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then pass "$what"; else fail "$what"; fi
}
not() { ! "$@"; }
sha() { sha256sum "$1" | cut -d' ' -f1; }
sums_match() { (cd "$1" && sha256sum --strict -c SHA256SUMS); }

# One snapshot of the source (with its history, for the commit time), twice.
rm -rf "$work"
a_src=$work/a/qorn
b_src=$work/b/another/source
mkdir -p "$a_src" "$(dirname "$b_src")"
tar -C "$source" --exclude=./build --exclude='./build-*' --exclude=./dist -cf - . | tar -C "$a_src" -xf -
cp -a "$a_src" "$b_src"

release() { # LOG [VAR=VALUE...] SOURCE
  local log=$1
  shift
  local started=$SECONDS
  if env -u QORN_SIGN_PKCS12 -u QORN_SIGN_PASSWORD -u QORN_RELEASE_BUILD_DIR -u QORN_DIST_DIR \
    "${@:1:$#-1}" "${!#}/scripts/release.sh" >"$log" 2>&1; then
    echo "      release in $((SECONDS - started)) s: ${!#}"
  else
    cat "$log"
    echo "FAIL  scripts/release.sh in ${!#}"
    exit 1
  fi
}
# A: default folders inside the source; B: build and dist folders elsewhere.
release "$work/a.log" "$a_src"
release "$work/b.log" QORN_RELEASE_BUILD_DIR="$work/b/out/rel" QORN_DIST_DIR="$work/b/dist" "$b_src"

a_dist=$a_src/dist
b_dist=$work/b/dist
zip=$(cd "$a_dist" && ls qorn-braille-*-win-x64.zip)
version=${zip#qorn-braille-}
version=${version%-win-x64.zip}
debug_zip=qorn-braille-$version-win-x64-debug.zip
for z in "$zip" "$debug_zip"; do
  check "$z the same from both folders ($(sha "$a_dist/$z"))" cmp "$a_dist/$z" "$b_dist/$z"
done
for side in a b; do
  dist=$a_dist
  [ $side = b ] && dist=$b_dist
  mkdir -p "$work/$side/unzipped"
  unzip -q "$dist/$zip" -d "$work/$side/unzipped"
  unzip -q "$dist/$debug_zip" -d "$work/$side/unzipped"
done
ship=$work/a/unzipped
for name in "${binaries[@]}" "${binaries[@]/%/.debug}"; do
  check "$name the same from both folders ($(sha "$ship/$name"))" \
    cmp "$ship/$name" "$work/b/unzipped/$name"
done
check "zip holds the binaries, INSTALL.txt, SHA256SUMS" \
  test "$(unzip -Z1 "$a_dist/$zip" | tr '\n' ' ')" = "QornDriver.jlb QornSetup.exe INSTALL.txt SHA256SUMS "
check "debug zip holds both debug files" \
  test "$(unzip -Z1 "$a_dist/$debug_zip" | tr '\n' ' ')" = "QornDriver.jlb.debug QornSetup.exe.debug "
check "SHA256SUMS matches the shipped files" sums_match "$ship"
check "INSTALL.txt names version $version" grep -q "driver $version for" "$ship/INSTALL.txt"

# The shipped binaries.
for name in "${binaries[@]}"; do
  dump=$("$objdump" -p "$ship/$name")
  sections=$("$objdump" -h "$ship/$name" | awk '$1 ~ /^[0-9]+$/ {print $2}')
  check "$name: no .debug sections" not grep -q '^\.debug' <<<"$sections"
  check "$name: a debug link" grep -qx .gnu_debuglink <<<"$sections"
  for flag in HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT; do
    check "$name: $flag" grep -Eq "^[[:space:]]+$flag\$" <<<"$dump"
  done
done
# Stripped: their symbols (for the stack protector's) are in the debug files.
if OBJDUMP=$objdump "$source/tests/binary/check-binary.sh" driver "$ship/QornDriver.jlb" \
  "$ship/QornDriver.jlb.debug" &&
  OBJDUMP=$objdump "$source/tests/binary/check-binary.sh" program "$ship/QornSetup.exe" \
    "$ship/QornSetup.exe.debug"; then
  pass "import and export tables (tests/binary/check-binary.sh)"
else
  fail "import and export tables (tests/binary/check-binary.sh)"
fi
size=$(stat -c %s "$ship/QornDriver.jlb")
check "QornDriver.jlb is $size bytes, under 400 KB" test "$size" -lt 409600
echo "      QornSetup.exe is $(stat -c %s "$ship/QornSetup.exe") bytes"
# Each binary's version record: this version, the maker, its own file name.
record_value() { # FILE NAME
  strings -el "$1" | grep -A1 -x "$2" | tail -1
}
for name in "${binaries[@]}"; do
  for field in FileVersion ProductVersion; do
    check "$name: $field $version" test "$(record_value "$ship/$name" $field)" = "$version"
  done
  check "$name: CompanyName Mirel Tactus Co" \
    test "$(record_value "$ship/$name" CompanyName)" = "Mirel Tactus Co"
  check "$name: OriginalFilename $name" test "$(record_value "$ship/$name" OriginalFilename)" = "$name"
  check "$name: a FileDescription" test -n "$(record_value "$ship/$name" FileDescription)"
done

# The debug zip, unpacked beside the driver, resolves the export's address.
dump=$("$objdump" -p "$ship/QornDriver.jlb")
base=$(sed -n 's/^ImageBase[[:space:]]*//p' <<<"$dump")
rva=$(sed -n 's/.*+base\[ *1\] \([0-9a-f]*\) Export RVA/\1/p' <<<"$dump")
address=$(printf '0x%x' $((16#$base + 16#$rva)))
definition=$(cd "$a_src" && grep -rnE --include='*.cpp' '^extern "C" .*GetBrailleInterface\(.*\{$' driver)
file=${definition%%:*}
first=$(cut -d: -f2 <<<"$definition")
last=$(awk -v from="$first" 'NR > from && /^}/ {print NR; exit}' "$a_src/$file")
resolved=$("$addr2line" -f -e "$ship/QornDriver.jlb" "$address" | tr '\n' ' ')
line=${resolved##*:}
line=${line%% *}
check "$address resolves to GetBrailleInterface in /qorn/$file:$first-$last: $resolved" \
  test "${resolved%% *}" = GetBrailleInterface -a "$(cut -d' ' -f2 <<<"$resolved" | cut -d: -f1)" = "/qorn/$file" \
  -a "$line" -ge "$first" -a "$line" -le "$last"
mkdir -p "$work/alone" && cp "$ship/QornDriver.jlb" "$work/alone/"
check "without the debug file it does not" \
  test "$("$addr2line" -f -e "$work/alone/QornDriver.jlb" "$address" | head -1)" = "??"

# Signed with a throwaway self-signed code-signing certificate.
cert=$work/cert
mkdir -p "$cert"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Qorn release test" \
  -addext extendedKeyUsage=codeSigning -keyout "$cert/key.pem" -out "$cert/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$cert/key.pem" -in "$cert/cert.pem" -out "$cert/signer.p12" \
  -passout pass:throwaway-password
release "$work/signed.log" QORN_SIGN_PKCS12="$cert/signer.p12" QORN_SIGN_PASSWORD=throwaway-password "$a_src"
check "the signed release says so" grep -q "signed with the certificate" "$work/signed.log"
signed=$work/signed
mkdir -p "$signed"
unzip -q "$a_dist/$zip" -d "$signed"
check "SHA256SUMS matches the signed files" sums_match "$signed"
for name in "${binaries[@]}"; do
  check "$name: signature verifies" osslsigncode verify -CAfile "$cert/cert.pem" -in "$signed/$name"
  check "$name: the unsigned one does not" not osslsigncode verify -CAfile "$cert/cert.pem" -in "$ship/$name"
  check "$name: unsigned checksum printed" grep -qF "$(sha "$ship/$name")  $name" "$work/signed.log"
  osslsigncode extract-signature -in "$signed/$name" -out "$work/$name.sig" >/dev/null || true
  osslsigncode attach-signature -sigin "$work/$name.sig" -CAfile "$cert/cert.pem" \
    -in "$ship/$name" -out "$work/$name.reattached" >/dev/null 2>&1 || true
  check "$name: signed = unsigned + signature" cmp "$work/$name.reattached" "$signed/$name"
done
abi=$work/abi
mkdir -p "$abi"
# The host and the simulated display, with the signed driver (the Bluetooth
# stand-in is in the test prefix's system32).
cp "$test_bin"/{msvc_abi_host.exe,QornTI.dll} "$signed/QornDriver.jlb" "$abi/"
if (cd "$abi" && "$wine" msvc_abi_host.exe) >"$work/abi.log" 2>&1 &&
  grep -q "all checks passed" "$work/abi.log"; then
  pass "signed QornDriver.jlb passes the Microsoft-ABI host under Wine"
else
  cat "$work/abi.log"
  fail "signed QornDriver.jlb passes the Microsoft-ABI host under Wine"
fi

[ "$failures" -eq 0 ] || { echo "$failures release check(s) failed"; exit 1; }
echo "all release checks passed"
