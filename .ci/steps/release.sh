#!/usr/bin/env bash
# The release bundle as scripts/release.sh makes it, signed with a
# throwaway certificate made here:
#  1. every signature in it (both DLLs, both MSIs, the server, and the DLLs
#     inside the MSIs) verifies against that certificate, and SHA256SUMS
#     holds;
#  2. the bundle check (scripts/bundle.py, which release.sh runs) fails on
#     each fault it exists for, one at a time in a copy of the bundle;
#  3. under Wine, the quick start of the bundle's README.txt, followed
#     command by command in a fresh prefix (tests/wine/bundle_tests.sh);
#  4. the binaries are reproducible: the same commit exported to another
#     directory and built again there, without ccache, gives the same
#     UNSIGNED-SHA256SUMS. The MSIs are compared table by table and the
#     differences printed (wixl stamps each package with a fresh package
#     code and the time of its making, and its cabinet with the files'
#     modification times).
# Packages: osslsigncode openssl msitools wixl unzip, in scripts/install-deps.sh.
# Run time: two Windows release builds, one of them without ccache.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
WORK=$(mktemp -d /tmp/tolvex-release.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)

echo "--- a throwaway code-signing certificate"
openssl req -x509 -newkey rsa:3072 -nodes -days 2 -subj "/CN=Tolvex CI Throwaway Code Signing" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$WORK/sign.key" -out "$WORK/sign.pem" >/dev/null 2>&1
openssl rand -hex 16 >"$WORK/sign.pass"
openssl pkcs12 -export -inkey "$WORK/sign.key" -in "$WORK/sign.pem" -name "Tolvex CI" \
  -passout "file:$WORK/sign.pass" -out "$WORK/sign.p12"

echo "--- the signed bundle"
TOLVEX_SIGN_PKCS12=$WORK/sign.p12 TOLVEX_SIGN_PASSWORD_FILE=$WORK/sign.pass scripts/release.sh
version=$(sed -n 's/^project(Tolvex VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
stage=$ROOT/dist/Tolvex-$version-windows
zip=$ROOT/dist/Tolvex-$version-windows.zip
unzip -l "$zip"
(cd "$stage" && sha256sum --quiet -c SHA256SUMS) && echo "SHA256SUMS holds"

# The bundle check must fail on each fault: a copy of the stage with one
# fault at a time, and the line the check must print.
check_faults() {  # stage
  local stage=$1 copy=$WORK/faulty what change want out
  while IFS='|' read -r what change want; do
    rm -rf "$copy"
    cp -r "$stage" "$copy"
    (cd "$copy" && eval "$change")
    if out=$(python3 scripts/bundle.py check "$copy" 2>&1); then
      echo "FAIL the bundle check passes $what"
      failed=$((failed + 1))
    elif printf '%s' "$out" | grep -qF "$want"; then
      echo "ok   the bundle check fails on $what"
    else
      printf '%s\n' "$out" | tail -n 5
      echo "FAIL the bundle check fails on $what, but without \"$want\""
      failed=$((failed + 1))
    fi
  done <<'TABLE'
a missing licence|rm LICENSE.txt|LICENSE.txt: missing
a missing changelog|rm CHANGELOG.md|CHANGELOG.md: missing
missing third-party notices|rm THIRD-PARTY-NOTICES.txt|THIRD-PARTY-NOTICES.txt: missing
a link to a file not in the bundle|echo '[gone](../platform/win32/README.md)' >>docs/REFERENCE.md|docs/REFERENCE.md: link to ../platform/win32/README.md: no such file
a link to a heading that does not exist|echo '[x](DEPLOYING.md#no-such-part)' >>docs/REFERENCE.md|no such heading
a bundle path in the quick start that does not exist|printf 'import samples\\vba\\Gone.bas\r\n' >>README.txt|README.txt: names samples\vba\Gone.bas
a version block without CompanyName|python3 -c 'import sys; p="x64/Tolvex.dll"; b=open(p,"rb").read(); open(p,"wb").write(b.replace("CompanyName".encode("utf-16-le"), "CompanyNamX".encode("utf-16-le")))'|x64/Tolvex.dll: the version block has no CompanyName
a version block without FileDescription|python3 -c 'import sys; p="x86/Tolvex.dll"; b=open(p,"rb").read(); open(p,"wb").write(b.replace("FileDescription".encode("utf-16-le"), "FileDescriptioX".encode("utf-16-le")))'|x86/Tolvex.dll: the version block has no FileDescription
a version block without LegalCopyright|python3 -c 'import sys; p="tolvex-server.exe"; b=open(p,"rb").read(); open(p,"wb").write(b.replace("LegalCopyright".encode("utf-16-le"), "LegalCopyrighX".encode("utf-16-le")))'|tolvex-server.exe: the version block has no LegalCopyright
a product code that differs from the package's|sed -i '0,/ProductCode/! {0,/`{[0-9A-F]/ s/`{\([0-9A-F]\)/`{0\1/}' docs/DEPLOYING.md|docs/DEPLOYING.md: the package codes differ
advice that differs from its table|sed -i 's/Done\./Done!/' samples/vbs/receive.vbs|samples/vbs/receive.vbs: a generated part differs
Japanese advice that differs from its table|python3 -c 'p="samples/vba/TolvexResults_ja.bas"; b=open(p,"rb").read().decode("cp932"); open(p,"wb").write(b.replace("完了しました。", "完了。", 1).encode("cp932"))'|samples/vba/TolvexResults_ja.bas: a generated part differs
TABLE
}

failed=0
echo "--- the bundle check against each fault it exists for"
check_faults "$stage"

verify() {  # file, what
  local out
  if out=$(osslsigncode verify -CAfile "$WORK/sign.pem" -in "$1" 2>&1) &&
    printf '%s' "$out" | grep -q 'Signature verification: ok'; then
    echo "ok   signature of $2"
  else
    printf '%s\n' "$out"
    echo "FAIL signature of $2"
    failed=$((failed + 1))
  fi
}
msis=$(cd "$stage" && ls Tolvex-*.msi)
for file in x86/Tolvex.dll x64/Tolvex.dll $msis tolvex-server.exe; do
  verify "$stage/$file" "$file"
done
for msi in $msis; do
  mkdir -p "$WORK/$msi"
  (cd "$WORK/$msi" && msiextract "$stage/$msi" >/dev/null)
  while IFS= read -r dll; do
    verify "$dll" "$msi: ${dll#"$WORK/$msi/"}"
  done < <(find "$WORK/$msi" -name '*.dll')
done

# WinVerifyTrust under Wine checks each file's digest and signature (a
# changed byte is refused) but not the chain up to a trusted root, which
# osslsigncode checked above against the throwaway certificate.
verifier=$ROOT/build/mingw-x64/tests/wine/verify_signature.exe
if [ "${TOLVEX_WITH_WINE:-1}" = 1 ] && [ -x "$verifier" ]; then
  echo "--- WinVerifyTrust under Wine"
  export WINEPREFIX=$WORK/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wine64=/usr/lib/wine/wine64
  [ -x "$wine64" ] || wine64=$(command -v wine64 || echo wine)
  "$wine64" wineboot -i >/dev/null 2>&1
  mkdir -p "$WINEPREFIX/drive_c/bundle"
  cp -r "$stage/." "$WINEPREFIX/drive_c/bundle/"
  cp "$verifier" "$WINEPREFIX/drive_c/"
  python3 - "$stage/x64/Tolvex.dll" "$WINEPREFIX/drive_c/bundle/tampered.dll" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
pe = struct.unpack_from("<I", data, 0x3C)[0]
data[pe + 0x200] ^= 0xFF  # inside the headers' signed part
open(sys.argv[2], "wb").write(data)
PY
  files=('C:\bundle\x86\Tolvex.dll' 'C:\bundle\x64\Tolvex.dll' 'C:\bundle\tolvex-server.exe')
  for msi in $msis; do files+=("C:\\bundle\\$msi"); done
  if "$wine64" 'C:\verify_signature.exe' "${files[@]}"; then echo "ok   WinVerifyTrust trusts all ${#files[@]}"
  else echo "FAIL WinVerifyTrust refused a signed file"; failed=$((failed + 1)); fi
  if "$wine64" 'C:\verify_signature.exe' 'C:\bundle\tampered.dll'; then
    echo "FAIL WinVerifyTrust trusts a DLL with a changed byte"
    failed=$((failed + 1))
  else echo "ok   WinVerifyTrust refuses a DLL with a changed byte"; fi
  wineserver -k 2>/dev/null || true
else
  echo "--- WinVerifyTrust not run: no Wine, or no build/mingw-x64/tests/wine/verify_signature.exe"
fi

if [ "${TOLVEX_WITH_WINE:-1}" = 1 ]; then
  echo "--- the quick start of README.txt under Wine, from the zip"
  tests/wine/bundle_tests.sh "$zip"
  failures=$?
  [ $failures -eq 0 ] || failed=$((failed + failures))
fi

echo "--- the same commit built again elsewhere, without ccache"
mkdir -p "$WORK/src"
git archive HEAD | tar -x -C "$WORK/src"
CCACHE_DISABLE=1 TOLVEX_COMMIT=$(git rev-parse HEAD) TOLVEX_RELEASE_BUILD=$WORK/build TOLVEX_DIST=$WORK/dist \
  "$WORK/src/scripts/release.sh" >"$WORK/rebuild.log" 2>&1 || { cat "$WORK/rebuild.log"; exit 1; }
again=$WORK/dist/Tolvex-$version-windows
if diff "$stage/UNSIGNED-SHA256SUMS" "$again/UNSIGNED-SHA256SUMS"; then
  echo "ok   two builds, byte for byte:"
  sed 's/^/     /' "$stage/UNSIGNED-SHA256SUMS"
else
  echo "FAIL the binaries differ between the two builds"
  failed=$((failed + 1))
fi
# The signatures themselves differ (each carries its signing time), so the
# MSIs are compared unsigned: the rebuild's against one more unsigned run
# in the same place.
TOLVEX_RELEASE_BUILD=$WORK/build TOLVEX_DIST=$WORK/dist2 "$WORK/src/scripts/release.sh" \
  >"$WORK/unsigned.log" 2>&1 || { cat "$WORK/unsigned.log"; exit 1; }
for msi in $msis; do
  echo "MSI $msi, two unsigned builds, what differs:"
  scripts/compare-msi.sh "$again/$msi" "$WORK/dist2/Tolvex-$version-windows/$msi" | sed 's/^/     /'
done

[ "$failed" -eq 0 ] || { echo "$failed release check(s) failed"; exit 1; }
echo "release checks passed"
