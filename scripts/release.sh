#!/usr/bin/env bash
# Builds the release into dist/: the two deliverables optimised, stripped and
# reproducible, signed when a certificate is given, zipped with their checksums
# and INSTALL.txt; their debug information in a second zip.
#   QORN_SIGN_PKCS12         code-signing certificate with its key (PKCS#12 file)
#   QORN_SIGN_PASSWORD       its password
#   QORN_SIGN_TIMESTAMP_URL  optional RFC 3161 time-stamp server for the signatures
#   QORN_RELEASE_BUILD_DIR   build folder (default build-release/)
#   QORN_DIST_DIR            output folder (default dist/)
#   SOURCE_DATE_EPOCH        time of the files in the zips (default: the commit's)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QORN_RELEASE_BUILD_DIR:-$root/build-release}
dist=${QORN_DIST_DIR:-$root/dist}
objcopy=x86_64-w64-mingw32-objcopy
binaries=(QornDriver.jlb QornSetup.exe)

"$root/scripts/install-packages.sh"

# The version is the driver's version record, and the installer's carries the
# same: the four version fields of each must agree.
rcs=("$root/driver/QornDriver.rc" "$root/setup/QornSetup.rc")
found=$(
  for rc in "${rcs[@]}"; do
    sed -nE 's/^(FILEVERSION|PRODUCTVERSION) +([0-9]+),([0-9]+),([0-9]+),([0-9]+) *$/\2.\3.\4.\5/p' "$rc"
    sed -nE 's/^ *VALUE "(FileVersion|ProductVersion)", "([0-9.]+)" *$/\2/p' "$rc"
  done
)
version=$(sort -u <<<"$found")
if [ "$(wc -l <<<"$found")" -ne 8 ] || ! [[ $version =~ ^[0-9]+(\.[0-9]+){3}$ ]]; then
  echo "release: driver/QornDriver.rc and setup/QornSetup.rc give no single version (found: $(echo $found))" >&2
  exit 1
fi
# A failed run leaves no zips of this version from an earlier run behind.
package=qorn-braille-$version-win-x64
rm -f "$dist/$package.zip" "$dist/$package-debug.zip" "$dist/SHA256SUMS"

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  # Without a commit: the earliest time a zip can hold.
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null) || SOURCE_DATE_EPOCH=315532800
fi
export SOURCE_DATE_EPOCH

cmake -S "$root" -B "$build" -G "Unix Makefiles" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQORN_BUILD_TESTS=OFF -DQORN_REPRODUCIBLE=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${binaries[@]%.*}" -- --no-print-directory >/dev/null

# unsigned/: stripped, with a debug link to debug/. shipped/: what goes in the zip.
stage=$build/release
rm -rf "$stage"
mkdir -p "$stage/unsigned" "$stage/debug" "$stage/shipped"
for name in "${binaries[@]}"; do
  # objcopy stamps the PE header with SOURCE_DATE_EPOCH or else the current time:
  # 0 keeps the link's empty stamp.
  SOURCE_DATE_EPOCH=0 "$objcopy" --only-keep-debug "$build/bin/$name" "$stage/debug/$name.debug"
  SOURCE_DATE_EPOCH=0 "$objcopy" --strip-all --add-gnu-debuglink="$stage/debug/$name.debug" \
    "$build/bin/$name" "$stage/unsigned/$name"
done

if [ -n "${QORN_SIGN_PKCS12:-}" ]; then
  [ -f "$QORN_SIGN_PKCS12" ] || { echo "release: no file $QORN_SIGN_PKCS12" >&2; exit 1; }
  # The password goes to osslsigncode in a file, not on its command line.
  password_file=$(mktemp)
  trap 'rm -f "$password_file"' EXIT
  printf '%s' "${QORN_SIGN_PASSWORD:-}" >"$password_file"
  timestamp=()
  [ -n "${QORN_SIGN_TIMESTAMP_URL:-}" ] && timestamp=(-ts "$QORN_SIGN_TIMESTAMP_URL")
  for name in "${binaries[@]}"; do
    osslsigncode sign -pkcs12 "$QORN_SIGN_PKCS12" -readpass "$password_file" -h sha256 \
      -n "Qorn braille display driver" "${timestamp[@]}" \
      -in "$stage/unsigned/$name" -out "$stage/shipped/$name" >/dev/null
  done
  signing="signed with the certificate in $QORN_SIGN_PKCS12"
  [ ${#timestamp[@]} -eq 0 ] && signing+=", without a time stamp"
else
  cp "${binaries[@]/#/$stage/unsigned/}" "$stage/shipped/"
  signing="UNSIGNED: no certificate given (QORN_SIGN_PKCS12, QORN_SIGN_PASSWORD)"
fi

sed 's/$/\r/' >"$stage/shipped/INSTALL.txt" <<EOF
Qorn braille display driver $version for 64-bit Windows

QornDriver.jlb  The driver the screen reader loads for the Qorn display. It
                drives the display through the display's device library
                QornTI.dll, which comes with the display and is not in this
                zip: Windows must find it when the screen reader loads the
                driver.
QornSetup.exe   A silent installer that registers the driver with the screen
                reader.
INSTALL.txt     This file.
SHA256SUMS      SHA-256 checksums of the files above.

Installing
1. Pair the display with Windows over Bluetooth.
2. Copy QornDriver.jlb into the screen reader's braille driver folder,
   SHARED\\DRIVERS\\BRAILLE in its program folder.
3. Run QornSetup.exe, with no arguments or with these two:
     QornSetup.exe "<the braille driver folder>" <the screen reader's drive, e.g. C:>
   It shows no window, asks nothing and does not ask for elevation: start it
   with the rights needed to change the screen reader's settings. It looks up
   the paired display and its serial port, then finds the screen reader's
   DriverUtility.exe (in Utilities beside SHARED, under Program Files on the
   given drive, or under this system's Program Files) and runs
     DriverUtility.exe /type b /action a /d QornDriver /n Qorn /l "Lumivo 12"
                       /p <port> /reg QornTI.dll /default
   which registers QornDriver as the default braille display driver, with the
   device library QornTI.dll, on the display's port (e.g. COM5), or on AUTO if
   none was found: the driver then looks for the display each time it opens.
   The installer always exits with 0.

Checking the files
  Windows: certutil -hashfile QornDriver.jlb SHA256
  Linux:   sha256sum -c SHA256SUMS
EOF

(cd "$stage/shipped" && sha256sum "${binaries[@]}" INSTALL.txt >SHA256SUMS)

# Reproducible zips: fixed names and order, times in UTC from SOURCE_DATE_EPOCH,
# fixed modes, no extra attributes (owner, extended times).
make_zip() { # ZIP FOLDER FILE...
  local zip=$1 folder=$2
  shift 2
  (cd "$folder" && chmod 0644 "$@" && touch -d "@$SOURCE_DATE_EPOCH" "$@" &&
    rm -f "$zip" && TZ=UTC zip -q -X -D -9 "$zip" "$@")
}
mkdir -p "$dist"
dist=$(cd "$dist" && pwd)
make_zip "$dist/$package.zip" "$stage/shipped" "${binaries[@]}" INSTALL.txt SHA256SUMS
make_zip "$dist/$package-debug.zip" "$stage/debug" "${binaries[@]/%/.debug}"
(cd "$dist" && sha256sum "$package.zip" "$package-debug.zip" >SHA256SUMS)

echo "Release $version, $signing"
echo "In $dist (SHA256SUMS):"
sed 's/^/  /' "$dist/SHA256SUMS"
echo "Unsigned binaries, the same from every build of this source:"
(cd "$stage/unsigned" && sha256sum "${binaries[@]}" | sed 's/^/  /')
