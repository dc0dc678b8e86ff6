#!/usr/bin/env bash
# Builds the Windows release bundle dist/Tolvex-<version>-windows.zip from
# the checked-out commit: Tolvex.dll for x86 and x64, the MSI packages of
# both (Tolvex-x86.msi, Tolvex-x64.msi and their per-user twins where the
# build makes them), tolvex-server.exe (x64), the samples, the user
# documentation (README.txt, README-ja.txt, docs\ as in the repository's
# docs/, the licence, the changelog, the third-party notices), SHA256SUMS
# of everything in it and UNSIGNED-SHA256SUMS of the binaries as built,
# before any signature. The packages' codes are written into the
# deployment guides, and scripts/bundle.py checks the bundle before it is
# zipped.
#
# The version is the project version in the top CMakeLists.txt. The
# binaries are reproducible: SOURCE_DATE_EPOCH (default: the commit's time)
# becomes their PE time stamp and the time of every entry of the zip, and
# nothing of the build directory ends up inside.
#
# Signing (Authenticode, with osslsigncode), when a certificate is given:
#   TOLVEX_SIGN_PKCS12          the PKCS#12 file (.pfx/.p12) with the certificate and its key
#   TOLVEX_SIGN_PASSWORD_FILE   a file whose first line is its password
#   TOLVEX_SIGN_TIMESTAMP_URL   an RFC 3161 time-stamp server (optional)
# The DLLs are signed before they are packed into the MSIs, then the MSIs
# and the server are signed.
#
#   TOLVEX_RELEASE_BUILD        build directory (default build/release)
#   TOLVEX_COMMIT               the commit named in the bundle, where there is no .git
#   TOLVEX_DIST                 output directory (default dist)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
BUILD=${TOLVEX_RELEASE_BUILD:-$ROOT/build/release}
DIST=${TOLVEX_DIST:-$ROOT/dist}

version=$(sed -n 's/^project(Tolvex VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "release: no project version in CMakeLists.txt" >&2; exit 1; }
commit=${TOLVEX_COMMIT:-$(git rev-parse HEAD 2>/dev/null || echo unknown)}
if [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  echo "release: warning: the working tree differs from commit $commit; the bundle is not that commit's" >&2
fi
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
name=Tolvex-$version-windows
echo "release: $name from $commit, time stamp $SOURCE_DATE_EPOCH ($(date -u -d "@$SOURCE_DATE_EPOCH" '+%F %T') UTC)"

signing=0
if [ -n "${TOLVEX_SIGN_PKCS12:-}" ]; then
  [ -r "$TOLVEX_SIGN_PKCS12" ] || { echo "release: cannot read TOLVEX_SIGN_PKCS12=$TOLVEX_SIGN_PKCS12" >&2; exit 1; }
  [ -r "${TOLVEX_SIGN_PASSWORD_FILE:-}" ] ||
    { echo "release: TOLVEX_SIGN_PASSWORD_FILE must name a readable file" >&2; exit 1; }
  command -v osslsigncode >/dev/null || { echo "release: signing needs osslsigncode" >&2; exit 1; }
  signing=1
fi

sign() {  # file
  [ "$signing" = 1 ] || return 0
  local args=(sign -pkcs12 "$TOLVEX_SIGN_PKCS12" -readpass "$TOLVEX_SIGN_PASSWORD_FILE"
              -h sha256 -n "Tolvex $version" -in "$1" -out "$1.signed")
  [ -n "${TOLVEX_SIGN_TIMESTAMP_URL:-}" ] && args+=(-ts "$TOLVEX_SIGN_TIMESTAMP_URL")
  osslsigncode "${args[@]}" >/dev/null
  mv "$1.signed" "$1"
  echo "release: signed ${1#"$BUILD"/}"
}

# One configured tree per architecture. The linked files go first, so they
# are linked again with this run's time stamp and, after a signed run,
# without a signature.
# The stand-in archive control is built (and signed) only while the MSIs
# carry it.
build_arch() {  # toolchain name, targets...
  local arch=$1
  shift
  local dir=$BUILD/$arch
  cmake -S "$ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchains/$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTOLVEX_BUILD_TESTS=OFF -DTOLVEX_WERROR=ON >/dev/null
  rm -f "$dir"/platform/win32/*.dll "$dir"/platform/win32/*.msi "$dir"/server/*.exe \
    "$dir"/platform/win32/generated/tolvex.tlb
  local targets=("$@")
  if grep -q 'TolvexArchiver\.dll' "$ROOT"/platform/win32/installer/*.wxs; then
    targets+=(TolvexArchiver)
  fi
  cmake --build "$dir" -j"$(nproc)" --target "${targets[@]}"
}
build_arch mingw-i686 Tolvex
build_arch mingw-x64 Tolvex tolvex-server

x86=$BUILD/mingw-i686/platform/win32
x64=$BUILD/mingw-x64/platform/win32
server=$BUILD/mingw-x64/server/tolvex-server.exe

stage=$DIST/$name
rm -rf "$stage" "$DIST/$name.zip"
mkdir -p "$stage/x86" "$stage/x64" "$stage/docs" "$stage/samples"

# What anyone can rebuild from the commit and compare, signed or not.
(cd "$BUILD" && sha256sum mingw-i686/platform/win32/Tolvex.dll mingw-x64/platform/win32/Tolvex.dll \
  mingw-x64/server/tolvex-server.exe) |
  sed -e 's| mingw-i686/platform/win32/| x86/|' -e 's| mingw-x64/platform/win32/| x64/|' \
      -e 's| mingw-x64/server/| |' >"$stage/UNSIGNED-SHA256SUMS"

# The MSIs pack the DLLs as they then are: signed first.
for dll in "$x86"/Tolvex*.dll "$x64"/Tolvex*.dll; do
  sign "$dll"
done
sign "$server"
for arch in mingw-i686 mingw-x64; do
  cmake --build "$BUILD/$arch" --target tolvex_msi
done
# Every package the builds make: for all users, and where there is one,
# for the current user only.
for msi in "$x86"/Tolvex-*.msi "$x64"/Tolvex-*.msi; do
  sign "$msi"
done

cp "$x86/Tolvex.dll" "$stage/x86/"
cp "$x64/Tolvex.dll" "$stage/x64/"
cp "$x86"/Tolvex-*.msi "$x64"/Tolvex-*.msi "$server" "$stage/"
# The samples as committed, without what a local run of the server added.
if git rev-parse --git-dir >/dev/null 2>&1; then
  git ls-files -z samples | xargs -0 cp --parents -t "$stage"
else
  cp -r samples/. "$stage/samples/"
fi
# The documents, laid out as under docs/ in the repository, so that every
# link between them resolves in the bundle too. Text for Notepad: CRLF.
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
mkdir -p "$stage/docs/ja"
cp docs/REFERENCE.md docs/DEPLOYING.md "$stage/docs/"
cp docs/ja/*.md "$stage/docs/ja/"
cp server/README.md "$stage/docs/SERVER.md"
cp CHANGELOG.md "$stage/"
crlf LICENSE "$stage/LICENSE.txt"
crlf THIRD-PARTY-NOTICES.txt "$stage/THIRD-PARTY-NOTICES.txt"
for readme in README.txt README-ja.txt; do
  sed -e "s/@VERSION@/$version/g" -e "s/@COMMIT@/$commit/g" "docs/bundle/$readme" >"$stage/$readme.lf"
  # With a byte order mark, so that every Notepad reads the Japanese as UTF-8.
  { printf '\357\273\277'; sed 's/\r*$/\r/' "$stage/$readme.lf"; } >"$stage/$readme"
  rm "$stage/$readme.lf"
done
# The product and upgrade codes of the packages just built.
python3 scripts/bundle.py fill "$stage"

(cd "$stage" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
  xargs -d '\n' sha256sum >SHA256SUMS)
python3 scripts/bundle.py check "$stage"

# The zip, reproducible too: sorted entries, each with the time stamp and
# plain permissions.
python3 - "$stage" "$DIST/$name.zip" "$name" "$SOURCE_DATE_EPOCH" <<'PY'
import os, sys, time, zipfile
stage, out, top, epoch = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
stamp = time.gmtime(max(epoch, 315532800))[:6]  # the zip format starts in 1980
paths = []
for base, dirs, files in os.walk(stage):
    paths += [os.path.join(base, f) for f in files]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
    for path in sorted(paths, key=lambda p: os.path.relpath(p, stage)):
        info = zipfile.ZipInfo(top + "/" + os.path.relpath(path, stage).replace(os.sep, "/"), stamp)
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        with open(path, "rb") as f:
            z.writestr(info, f.read())
PY
echo "release: $DIST/$name.zip"
(cd "$stage" && cat SHA256SUMS)
