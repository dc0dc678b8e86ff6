#!/usr/bin/env bash
# The MSI package of one architecture under Wine: installs, removes,
# installs again, upgrades, and keeps off a machine's real archive control.
#   msi_tests.sh ARCH LOADER URL [HTTPS_URL]
#     ARCH       x86 or x64
#     LOADER     the Wine loader that runs programs of ARCH
#     URL        tolvex-server's base URL (HTTP); HTTPS_URL defaults to it
# The prefix is $WINEPREFIX and must hold no registration of Tolvex; the
# dialog needs a display or Wine's null graphics driver (run.sh sets it). The
# package is build/mingw-i686 or build/mingw-x64 (or $TOLVEX_MSI_BUILD)
# /platform/win32/Tolvex-ARCH.msi, built with that preset. wixl builds an
# older package (version 0.9.0) from the same sources for the upgrade.
# Prints ok/FAIL lines; exits with the number of failures.
set -uo pipefail

ARCH=${1:?arch}
W=${2:?loader}
URL=${3:?server URL}
URL_SECURE=${4:-$URL}
: "${WINEPREFIX:?WINEPREFIX}"
export WINEDEBUG=${WINEDEBUG:--all}

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
HERE=$ROOT/tests/wine
case $ARCH in
  x86) BUILD=${TOLVEX_MSI_BUILD:-$ROOT/build/mingw-i686} ;;
  x64) BUILD=${TOLVEX_MSI_BUILD:-$ROOT/build/mingw-x64} ;;
  *) echo "unknown arch $ARCH"; exit 2 ;;
esac
MSI=$BUILD/platform/win32/Tolvex-$ARCH.msi
CLIENT=$BUILD/tests/wine/tolvex_client.exe
for need in "$MSI" "$CLIENT"; do
  [ -e "$need" ] || { echo "missing $need: build the mingw preset of $ARCH with wixl installed"; exit 2; }
done

FAILED=0
ok() { echo "ok   $ARCH msi: $*"; }
fail() {
  echo "FAIL $ARCH msi: $*"
  FAILED=$((FAILED + 1))
}
check() {  # what, command...
  local what=$1
  shift
  if "$@"; then ok "$what"; else fail "$what"; fi
}

C=$WINEPREFIX/drive_c
PF=$C/"Program Files"
[ "$ARCH" = x86 ] && [ -d "$C/Program Files (x86)" ] && PF=$C/"Program Files (x86)"
INSTALLED=$PF/Tolvex
INSTALLED_WIN='C:\'${PF#"$C/"}'\Tolvex'
INSTALLED_WIN=${INSTALLED_WIN//\//\\}
D="C:\\tolvex-msi\\$ARCH"
DIR_UNIX=$C/tolvex-msi/$ARCH
WORK="C:\\tolvex-msi\\$ARCH\\work"
rm -rf "$DIR_UNIX"
mkdir -p "$DIR_UNIX/work"
cp "$MSI" "$CLIENT" "$DIR_UNIX/"
cp "$HERE/scripts/transfer.vbs" "$DIR_UNIX/"
iconv -f UTF-8 -t UTF-16 "$HERE/scripts/texts.txt" >"$DIR_UNIX/texts.txt"
# transfer.vbs sends <work>\進捗\progress.txt.
mkdir -p "$DIR_UNIX/work/進捗"
printf 'progress of the %s package\r\n' "$ARCH" >"$DIR_UNIX/work/進捗/progress.txt"

# The same package, version 0.9.0, to upgrade from.
(cd "$BUILD/platform/win32" &&
  wixl -a "$ARCH" -D TolvexArch="$ARCH" -D TolvexVersion=0.9.0 \
    -D ProductCode="$(python3 -c 'import uuid; print(str(uuid.uuid4()).upper())')" \
    -o "$DIR_UNIX/Tolvex-$ARCH-0.9.0.msi" \
    "$ROOT/platform/win32/installer/Tolvex.wxs" "$ROOT/platform/win32/installer/TolvexComponents.wxs") ||
  fail "wixl builds the 0.9.0 package"

# A port where nothing listens, for transfer.vbs's post failures.
DEAD_URL="http://127.0.0.1:$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')/"

CLSID='{3347AA4D-F930-4702-86E2-26B4C6D04793}'
LIBID='{1D0186B2-71D1-42FA-8909-D692E19B3970}'
IID='{F659C913-265C-4CC3-BC57-D773719BB4D9}'
STANDIN_CLSID='{01360216-3193-439A-AA8C-F2A96DD48E64}'
UNINSTALL='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

msi() { $W msiexec "$@" /qn >/dev/null 2>&1; }
# The loader's reg.exe reads the registry view of ARCH.
reg_value() {  # key [value name]; the data of a REG_SZ value, default value without a name
  local args=(/ve)
  [ $# -gt 1 ] && args=(/v "$2")
  $W reg query "$1" "${args[@]}" 2>/dev/null | tr -d '\r' | sed -n 's/^.*REG_SZ[[:space:]]*//p' | head -1
}
key_exists() { $W reg query "$@" >/dev/null 2>&1; }  # key [/reg:32]
no_key() { ! key_exists "$@"; }
client() { $W "$D\\tolvex_client.exe" "$@" >"$DIR_UNIX/client.log" 2>&1 || { cat "$DIR_UNIX/client.log"; false; }; }
# Installed packages of an architecture (default ARCH) in Add/Remove
# Programs; [/reg:32] for a 32-bit package's entry seen from a 64-bit reg.
products() {  # [arch [/reg:32]]
  $W reg query "$UNINSTALL" /s "${@:2}" 2>/dev/null | tr -d '\r' |
    grep -c "DisplayName.*REG_SZ[[:space:]]*Tolvex (${1:-$ARCH})\$"
}
cached_packages() { find "$C/windows/Installer" -maxdepth 1 -iname '*.msi' 2>/dev/null | wc -l; }
same_path() { [ "${1,,}" = "${2,,}" ]; }

# Everything the package wrote is gone: keys (the native client), files,
# the product entry and the cached package.
check_removed() {  # label, cached packages before the install
  check "$1: class, ProgID, type library and interface keys removed" client unregistered
  check "$1: interface key removed from the 32-bit view" no_key "HKCR\\Interface\\$IID" /reg:32
  check "$1: no Tolvex.dll left" test ! -e "$INSTALLED/Tolvex.dll"
  check "$1: no TolvexArchiver.dll left" test ! -e "$INSTALLED/TolvexArchiver.dll"
  check "$1: install directory removed" test ! -e "$INSTALLED"
  check "$1: no product entry left" test "$(products)" -eq 0
  check "$1: cached package removed" test "$(cached_packages)" -eq "$2"
}

cached_before=$(cached_packages)
check "prefix starts without the class" no_key "HKCR\\CLSID\\$CLSID"

echo "== $ARCH msi: install with the stand-in, a VBScript receive, removal"
check "msiexec /i ADDLOCAL=ALL" msi /i "$D\\Tolvex-$ARCH.msi" ADDLOCAL=ALL
check "Tolvex.dll in $INSTALLED_WIN" test -f "$INSTALLED/Tolvex.dll"
check "TolvexArchiver.dll in $INSTALLED_WIN" test -f "$INSTALLED/TolvexArchiver.dll"
check "installed Tolvex.dll is the build's" cmp -s "$INSTALLED/Tolvex.dll" "$BUILD/platform/win32/Tolvex.dll"
check "InprocServer32 names the installed DLL" \
  same_path "$(reg_value "HKCR\\CLSID\\$CLSID\\InprocServer32")" "$INSTALLED_WIN\\Tolvex.dll"
typelib_kind=win32
[ "$ARCH" = x64 ] && typelib_kind=win64
check "type library registered for $typelib_kind at the installed DLL" \
  same_path "$(reg_value "HKCR\\TypeLib\\$LIBID\\1.0\\409\\$typelib_kind")" "$INSTALLED_WIN\\Tolvex.dll"
check "stand-in InprocServer32 names the installed DLL" \
  same_path "$(reg_value "HKCR\\CLSID\\$STANDIN_CLSID\\InprocServer32")" "$INSTALLED_WIN\\TolvexArchiver.dll"
check "native client: everything registration writes" client registered
check "interface key in the 32-bit view, for 32-bit clients" key_exists "HKCR\\Interface\\$IID\\TypeLib" /reg:32
out=$($W cscript //nologo "$D\\transfer.vbs" "$URL" "$WORK" "$URL_SECURE" "$DEAD_URL" 2>&1)
status=$?
printf '%s\n' "$out" | tr -d '\r' | sed 's/^/     /'
check "VBScript transfers against tolvex-server (receive returns 0)" \
  test "$status" -eq 0 -a -n "$(printf '%s' "$out" | grep 'all passed')"
check "msiexec /x" msi /x "$D\\Tolvex-$ARCH.msi"
check_removed "after /x" "$cached_before"

echo "== $ARCH msi: the default install, twice"
check "msiexec /i" msi /i "$D\\Tolvex-$ARCH.msi"
check "msiexec /i of the installed package again" msi /i "$D\\Tolvex-$ARCH.msi"
check "Tolvex.dll installed" test -f "$INSTALLED/Tolvex.dll"
check "stand-in off by default: no TolvexArchiver.dll" test ! -e "$INSTALLED/TolvexArchiver.dll"
check "stand-in off by default: no MarloxO.Marlox" no_key 'HKCR\MarloxO.Marlox'
check "one product entry" test "$(products)" -eq 1
check "one cached package" test "$(cached_packages)" -eq $((cached_before + 1))
check "ProgID names the class" same_path "$(reg_value 'HKCR\TolvexPro.Tolvex\CLSID')" "$CLSID"
check "msiexec /x" msi /x "$D\\Tolvex-$ARCH.msi"
check_removed "after installing twice and /x" "$cached_before"

echo "== $ARCH msi: upgrade from 0.9.0"
check "msiexec /i 0.9.0 ADDLOCAL=ALL" msi /i "$D\\Tolvex-$ARCH-0.9.0.msi" ADDLOCAL=ALL
check "0.9.0 installed" test "$(products)" -eq 1
check "msiexec /i the newer package" msi /i "$D\\Tolvex-$ARCH.msi"
check "one product entry after the upgrade" test "$(products)" -eq 1
check "one cached package after the upgrade" test "$(cached_packages)" -eq $((cached_before + 1))
check "the stand-in stays selected across the upgrade" test -f "$INSTALLED/TolvexArchiver.dll"
check "native client: one complete registration" client registered
check "msiexec /i 0.9.0 over the newer package is refused" eval '! msi /i "$D\\Tolvex-$ARCH-0.9.0.msi"'
check "msiexec /x the newer package" msi /x "$D\\Tolvex-$ARCH.msi"
check_removed "after the upgrade and /x" "$cached_before"

# A 64-bit Windows runs 32-bit programs through the same msiexec: the x86
# package installs here even where 32-bit Wine cannot run its DLL.
X86_MSI=$ROOT/build/mingw-i686/platform/win32/Tolvex-x86.msi
if [ "$ARCH" = x64 ] && [ -e "$X86_MSI" ]; then
  echo "== x64 msi: beside the x86 package"
  cp "$X86_MSI" "$DIR_UNIX/"
  check "msiexec /i ADDLOCAL=ALL" msi /i "$D\\Tolvex-x64.msi" ADDLOCAL=ALL
  check "msiexec /i Tolvex-x86.msi beside it" msi /i "$D\\Tolvex-x86.msi"
  check "x86 class in the 32-bit view" key_exists "HKCR\\CLSID\\$CLSID\\InprocServer32" /reg:32
  check "one product entry each" test "$(products)" -eq 1 -a "$(products x86 /reg:32)" -eq 1
  check "msiexec /x Tolvex-x86.msi" msi /x "$D\\Tolvex-x86.msi"
  check "x86 class removed from the 32-bit view" no_key "HKCR\\CLSID\\$CLSID" /reg:32
  check "x86 product entry removed" test "$(products x86 /reg:32)" -eq 0
  check "32-bit interface keys stay with the x64 package" key_exists "HKCR\\Interface\\$IID\\TypeLib" /reg:32
  check "native client: the x64 registration intact" client registered
  check "msiexec /x" msi /x "$D\\Tolvex-x64.msi"
  check_removed "after both packages" "$cached_before"
  check "no x86 file left" test ! -e "$C/Program Files (x86)/Tolvex"
fi

echo "== $ARCH msi: an application's package that carries the fragment"
PROGRAM_FILES=ProgramFilesFolder
[ "$ARCH" = x64 ] && PROGRAM_FILES=ProgramFiles64Folder
cat >"$DIR_UNIX/App.wxs" <<WXS
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Tolvex test application" Language="1033" Version="2.0.0"
           Manufacturer="Test" UpgradeCode="0F9E8D7C-0000-4000-8000-0000000000A1">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine" />
    <Media Id="1" Cabinet="app.cab" EmbedCab="yes" />
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="$PROGRAM_FILES" />
    </Directory>
    <Feature Id="Main" Level="1">
      <ComponentGroupRef Id="TolvexComponents" />
    </Feature>
  </Product>
</Wix>
WXS
(cd "$BUILD/platform/win32" &&
  wixl -a "$ARCH" -D TolvexArch="$ARCH" -o "$DIR_UNIX/App.msi" \
    "$DIR_UNIX/App.wxs" "$ROOT/platform/win32/installer/TolvexComponents.wxs") ||
  fail "wixl builds an application package with the fragment"
check "msiexec /i App.msi" msi /i "$D\\App.msi"
check "msiexec /i Tolvex-$ARCH.msi beside it" msi /i "$D\\Tolvex-$ARCH.msi"
check "msiexec /x Tolvex-$ARCH.msi" msi /x "$D\\Tolvex-$ARCH.msi"
check "the application's Tolvex.dll stays" test -f "$INSTALLED/Tolvex.dll"
check "and its registration" \
  same_path "$(reg_value "HKCR\\CLSID\\$CLSID\\InprocServer32")" "$INSTALLED_WIN\\Tolvex.dll"
check "msiexec /x App.msi" msi /x "$D\\App.msi"
check "class, ProgID, type library and interface keys removed with the last package" client unregistered
check "install directory removed with the last package" test ! -e "$INSTALLED"

echo "== $ARCH msi: a machine with the real archive control"
OTHER='{0A1B2C3D-0000-4000-8000-000000000001}'
$W reg add 'HKCR\MarloxO.Marlox\CLSID' /ve /d "$OTHER" /f >/dev/null 2>&1
check "msiexec /i ADDLOCAL=ALL refused" eval '! msi /i "$D\\Tolvex-$ARCH.msi" ADDLOCAL=ALL'
check "nothing installed by the refused package" test "$(products)" -eq 0
check "msiexec /i without the stand-in" msi /i "$D\\Tolvex-$ARCH.msi"
check "msiexec /x" msi /x "$D\\Tolvex-$ARCH.msi"
check "the real control's ProgID untouched" same_path "$(reg_value 'HKCR\MarloxO.Marlox\CLSID')" "$OTHER"
$W reg delete 'HKCR\MarloxO.Marlox' /f >/dev/null 2>&1

echo "== $ARCH msi: $FAILED failure(s)"
exit "$FAILED"
