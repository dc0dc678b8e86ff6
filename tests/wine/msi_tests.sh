#!/usr/bin/env bash
# The MSI package of one architecture under Wine: installs, removes,
# installs again, upgrades (also from a package that carried the stand-in
# archive control), and keeps off a machine's real archive control.
#   msi_tests.sh ARCH LOADER URL [HTTPS_URL]
#     ARCH       x86 or x64
#     LOADER     the Wine loader that runs programs of ARCH
#     URL        tolvex-server's base URL (HTTP); HTTPS_URL defaults to it
# The prefix is $WINEPREFIX and must hold no registration of Tolvex; the
# dialog needs a display or Wine's null graphics driver (run.sh sets it). The
# package is build/mingw-i686 or build/mingw-x64 (or $TOLVEX_MSI_BUILD)
# /platform/win32/Tolvex-ARCH.msi, built with that preset. wixl builds an
# older package (version 0.9.0) from the same sources for the upgrade.
# With $SERVER_DATA (the server's --root), the received file is compared
# with the server's data for C001.
# Prints ok/FAIL lines; exits with the number of failures, at most 125.
set -uo pipefail

ARCH=${1:?arch}
W=${2:?loader}
URL=${3:?server URL}
URL_SECURE=${4:-$URL}
: "${WINEPREFIX:?WINEPREFIX}"
export WINEDEBUG=${WINEDEBUG:--all}

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
HERE=$ROOT/tests/wine
. "$HERE/script_clients.sh"
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
copy_script_clients "$DIR_UNIX" "$HERE/scripts/transfer.vbs"
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

# A 0.9.1 package as the ones before 1.0.2 were: the same product with the
# stand-in archive control as a feature (its component code, its file, its
# three classes and the ProgID MarloxO.Marlox), to upgrade from.
STANDIN_CLSID='{01360216-3193-439A-AA8C-F2A96DD48E64}'
CONTAINED_CLSID='{2F1C7C55-8E0B-4B8E-9D0A-6B3E5F4A1C27}'
BAG_CLSID='{2F1C7C56-8E0B-4B8E-9D0A-6B3E5F4A1C27}'
if [ "$ARCH" = x64 ]; then
  OLD_UPGRADE=53BCC250-2C22-45D6-97EB-5321BBC87454 OLD_PF=ProgramFiles64Folder OLD_WIN64=yes
  OLD_STANDIN_GUID=BFD99B37-DEF4-41FF-9861-8DD724A7916D
else
  OLD_UPGRADE=AC8AB4CE-046F-4858-B9FE-E6B586C03F34 OLD_PF=ProgramFilesFolder OLD_WIN64=no
  OLD_STANDIN_GUID=63634C44-FE00-4034-B59A-479B661AD616
fi
old_class() {  # clsid progid: the rows of one of the stand-in's classes
  printf '          <RegistryValue Root="HKCR" Key="CLSID\\%s\\InprocServer32" Type="string" Value="[#TolvexArchiverDll]" />\n' "$1"
  printf '          <RegistryValue Root="HKCR" Key="CLSID\\%s\\ProgID" Type="string" Value="%s" />\n' "$1" "$2"
  printf '          <RegistryValue Root="HKCR" Key="%s" Type="string" Value="stand-in" />\n' "$2"
  printf '          <RegistryValue Root="HKCR" Key="%s\\CLSID" Type="string" Value="%s" />\n' "$2" "$1"
}
cat >"$DIR_UNIX/StandIn.wxs" <<WXS
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$(python3 -c 'import uuid; print(str(uuid.uuid4()).upper())')" Name="Tolvex ($ARCH)" Language="1033"
           Version="0.9.1" Manufacturer="TolvexPro" UpgradeCode="$OLD_UPGRADE">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine" />
    <Media Id="1" Cabinet="tolvex.cab" EmbedCab="yes" />
    <MajorUpgrade DowngradeErrorMessage="A newer version of Tolvex is already installed." />
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="$OLD_PF" />
    </Directory>
    <DirectoryRef Id="TOLVEXDIR">
      <Component Id="TolvexArchiverDll" Guid="$OLD_STANDIN_GUID" Win64="$OLD_WIN64">
        <File Id="TolvexArchiverDll" Name="TolvexArchiver.dll" Source="TolvexArchiver.dll" KeyPath="yes" />
$(old_class "$STANDIN_CLSID" MarloxO.Marlox; old_class "$CONTAINED_CLSID" TolvexArchiver.NeedsContainer; old_class "$BAG_CLSID" TolvexArchiver.NeedsContainerBag)
      </Component>
    </DirectoryRef>
    <Feature Id="Tolvex" Title="Tolvex" Level="1" Absent="disallow">
      <ComponentGroupRef Id="TolvexComponents" />
    </Feature>
    <Feature Id="StandInArchiver" Title="Stand-in archive control" Level="1000">
      <ComponentRef Id="TolvexArchiverDll" />
    </Feature>
  </Product>
</Wix>
WXS
(cd "$BUILD/platform/win32" &&
  wixl -a "$ARCH" -D TolvexArch="$ARCH" -o "$DIR_UNIX/Tolvex-$ARCH-0.9.1.msi" \
    "$DIR_UNIX/StandIn.wxs" "$ROOT/platform/win32/installer/TolvexComponents.wxs") ||
  fail "wixl builds the 0.9.1 package with the stand-in"

# A port where nothing listens, for transfer.vbs's post failures.
DEAD_URL="http://127.0.0.1:$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')/"

CLSID='{3347AA4D-F930-4702-86E2-26B4C6D04793}'
LIBID='{1D0186B2-71D1-42FA-8909-D692E19B3970}'
IID='{F659C913-265C-4CC3-BC57-D773719BB4D9}'
UNINSTALL='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

msi() { $W msiexec "$@" /qn >/dev/null 2>&1; }
# A refusal by the package itself: msiexec ends with 1603 (seen from Linux
# as 1603 mod 256 = 67), the install stops at its launch conditions, and
# the properties that fail the one named are set (Wine's log does not give
# the condition's message). Any other failure, a package that cannot be
# opened, say, is no refusal.
refused() {  # "PROPERTY...", msiexec arguments...
  local properties=$1 status log property
  shift
  rm -f "$DIR_UNIX/refused.log"
  $W msiexec "$@" /qn '/l*' "$D\\refused.log" >/dev/null 2>&1
  status=$?
  if [ $status -ne $((1603 % 256)) ]; then
    echo "     msiexec exit $status, $((1603 % 256)) (1603) expected"
    return 1
  fi
  log=$(tr -d '\000\r' <"$DIR_UNIX/refused.log" 2>/dev/null)
  if ! printf '%s\n' "$log" | grep -A1 'Action ended .*: LaunchConditions\.' |
    grep -q 'Action ended .*: INSTALL\.'; then
    echo "     the install did not stop at its launch conditions"
    return 1
  fi
  for property in $properties; do
    if ! printf '%s\n' "$log" | grep -q "^Property(S): $property = ."; then
      echo "     $property not set: the refusal has another cause"
      return 1
    fi
  done
}
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
  check "$1: none of the stand-in's classes left" \
    eval 'no_key "HKCR\\CLSID\\$STANDIN_CLSID" && no_key "HKCR\\CLSID\\$CONTAINED_CLSID" && no_key "HKCR\\CLSID\\$BAG_CLSID"'
  check "$1: no per-user key of ours" eval 'no_key "HKCU\\Software\\Classes\\CLSID\\$CLSID" && no_key "HKCU\\Software\\Classes\\TolvexPro.Tolvex"' 
  check "$1: install directory removed" test ! -e "$INSTALLED"
  check "$1: no product entry left" test "$(products)" -eq 0
  check "$1: cached package removed" test "$(cached_packages)" -eq "$2"
}

cached_before=$(cached_packages)
check "prefix starts without the class" no_key "HKCR\\CLSID\\$CLSID"

# The built-in archiver's receive and send, traced; the received file
# against the server's data where the driver names it.
builtin_transfers() {  # label, expected archiver line
  check "$1: receive and send return 0, the trace names the archiver" \
    client archiver "$URL" "$WORK" "$2"
  if [ -n "${SERVER_DATA:-}" ]; then
    check "$1: the received file holds the server's data" \
      cmp -s "$DIR_UNIX/work/archiver-orders.txt" "$SERVER_DATA/outgoing/C001.dat"
    check "$1: the server stored a zip holding the sent file unchanged" python3 - \
      "$(ls -t "$SERVER_DATA"/inbox/C001/*.zip | head -1)" "$DIR_UNIX/work/archiver-progress.txt" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z, open(sys.argv[2], "rb") as f:
    assert z.namelist() == ["archiver-progress.txt"], z.namelist()
    assert z.read("archiver-progress.txt") == f.read()
PY
  fi
}

echo "== $ARCH msi: the default install on a clean PC, VBScript transfers, removal"
check "msiexec /i" msi /i "$D\\Tolvex-$ARCH.msi"
check "Tolvex.dll in $INSTALLED_WIN" test -f "$INSTALLED/Tolvex.dll"
check "no stand-in: no TolvexArchiver.dll" test ! -e "$INSTALLED/TolvexArchiver.dll"
check "no stand-in: no MarloxO.Marlox" no_key 'HKCR\MarloxO.Marlox'
check "installed Tolvex.dll is the build's" cmp -s "$INSTALLED/Tolvex.dll" "$BUILD/platform/win32/Tolvex.dll"
check "InprocServer32 names the installed DLL" \
  same_path "$(reg_value "HKCR\\CLSID\\$CLSID\\InprocServer32")" "$INSTALLED_WIN\\Tolvex.dll"
typelib_kind=win32
[ "$ARCH" = x64 ] && typelib_kind=win64
for locale in 409 0; do
  check "type library registered for $typelib_kind under locale $locale at the installed DLL" \
    same_path "$(reg_value "HKCR\\TypeLib\\$LIBID\\1.0\\$locale\\$typelib_kind")" "$INSTALLED_WIN\\Tolvex.dll"
done
check "native client: everything registration writes" client registered
check "interface key in the 32-bit view, for 32-bit clients" key_exists "HKCR\\Interface\\$IID\\TypeLib" /reg:32
builtin_transfers "the built-in archiver" \
  "archiver: the built-in zip archiver, as MarloxO.Marlox cannot be created in this process (CLSIDFromProgID failed: 0x800401F3"
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
check "msiexec /i 0.9.0" msi /i "$D\\Tolvex-$ARCH-0.9.0.msi"
check "0.9.0 installed" test "$(products)" -eq 1
check "msiexec /i the newer package" msi /i "$D\\Tolvex-$ARCH.msi"
check "one product entry after the upgrade" test "$(products)" -eq 1
check "one cached package after the upgrade" test "$(cached_packages)" -eq $((cached_before + 1))
check "native client: one complete registration" client registered
check "msiexec /i 0.9.0 over the newer package is refused (\"A newer version of Tolvex is already installed.\")" \
  refused WIX_DOWNGRADE_DETECTED /i "$D\\Tolvex-$ARCH-0.9.0.msi"
check "msiexec /x the newer package" msi /x "$D\\Tolvex-$ARCH.msi"
check_removed "after the upgrade and /x" "$cached_before"

echo "== $ARCH msi: upgrade from 0.9.1, which carried the stand-in"
check "msiexec /i 0.9.1 ADDLOCAL=ALL" msi /i "$D\\Tolvex-$ARCH-0.9.1.msi" ADDLOCAL=ALL
check "0.9.1 installed its stand-in" test -f "$INSTALLED/TolvexArchiver.dll"
check "0.9.1's stand-in holds MarloxO.Marlox" same_path "$(reg_value 'HKCR\MarloxO.Marlox\CLSID')" "$STANDIN_CLSID"
check "msiexec /i the newer package" msi /i "$D\\Tolvex-$ARCH.msi"
check "one product entry after the upgrade" test "$(products)" -eq 1
check "the upgrade removed TolvexArchiver.dll" test ! -e "$INSTALLED/TolvexArchiver.dll"
check "the upgrade removed MarloxO.Marlox and the stand-in's classes" eval 'no_key "HKCR\\MarloxO.Marlox" &&
  no_key "HKCR\\TolvexArchiver.NeedsContainer" && no_key "HKCR\\TolvexArchiver.NeedsContainerBag" &&
  no_key "HKCR\\CLSID\\$STANDIN_CLSID" && no_key "HKCR\\CLSID\\$CONTAINED_CLSID" && no_key "HKCR\\CLSID\\$BAG_CLSID"'
check "native client: one complete registration" client registered
builtin_transfers "after the upgrade" "archiver: the built-in zip archiver"
check "msiexec /x the newer package" msi /x "$D\\Tolvex-$ARCH.msi"
check_removed "after the upgrade from 0.9.1 and /x" "$cached_before"
REAL='{0A1B2C3D-0000-4000-8000-000000000002}'
check "msiexec /i 0.9.1 ADDLOCAL=ALL again" msi /i "$D\\Tolvex-$ARCH-0.9.1.msi" ADDLOCAL=ALL
$W reg add 'HKCR\MarloxO.Marlox\CLSID' /ve /d "$REAL" /f >/dev/null 2>&1
check "a real control registered over 0.9.1's stand-in: the upgrade is refused" \
  refused "STANDINREGISTERED ARCHIVECONTROLCLSID" /i "$D\\Tolvex-$ARCH.msi"
check "and leaves the real control's ProgID alone" same_path "$(reg_value 'HKCR\MarloxO.Marlox\CLSID')" "$REAL"
check "0.9.1 still installed" test "$(products)" -eq 1 -a -f "$INSTALLED/TolvexArchiver.dll"
check "msiexec /x 0.9.1" msi /x "$D\\Tolvex-$ARCH-0.9.1.msi"
$W reg delete 'HKCR\MarloxO.Marlox' /f >/dev/null 2>&1
check_removed "after 0.9.1's /x" "$cached_before"

# A 64-bit Windows runs 32-bit programs through the same msiexec: the x86
# package installs here even where 32-bit Wine cannot run its DLL.
X86_MSI=$ROOT/build/mingw-i686/platform/win32/Tolvex-x86.msi
if [ "$ARCH" = x64 ] && [ -e "$X86_MSI" ]; then
  echo "== x64 msi: beside the x86 package"
  cp "$X86_MSI" "$DIR_UNIX/"
  check "msiexec /i" msi /i "$D\\Tolvex-x64.msi"
  check "msiexec /i Tolvex-x86.msi beside it" msi /i "$D\\Tolvex-x86.msi"
  check "x86 class in the 32-bit view" key_exists "HKCR\\CLSID\\$CLSID\\InprocServer32" /reg:32
  check "one product entry each" test "$(products)" -eq 1 -a "$(products x86 /reg:32)" -eq 1
  check "msiexec /x Tolvex-x86.msi" msi /x "$D\\Tolvex-x86.msi"
  check "x86 class removed from the 32-bit view" no_key "HKCR\\CLSID\\$CLSID" /reg:32
  check "x86 product entry removed" test "$(products x86 /reg:32)" -eq 0
  check "32-bit interface keys stay with the x64 package" key_exists "HKCR\\Interface\\$IID\\TypeLib" /reg:32
  check "native client: the x64 registration intact, ProgID included" client registered
  builtin_transfers "x64 after the x86 package's removal" "archiver: the built-in zip archiver"
  check "msiexec /x" msi /x "$D\\Tolvex-x64.msi"
  check_removed "after both packages" "$cached_before"
  check "msiexec /i Tolvex-x64.msi and Tolvex-x86.msi" eval 'msi /i "$D\\Tolvex-x64.msi" && msi /i "$D\\Tolvex-x86.msi"'
  check "msiexec /x Tolvex-x64.msi" msi /x "$D\\Tolvex-x64.msi"
  check "the x86 class stays in the 32-bit view" key_exists "HKCR\\CLSID\\$CLSID\\InprocServer32" /reg:32
  check "the ProgID stays with the x86 package" same_path "$(reg_value 'HKCR\TolvexPro.Tolvex\CLSID')" "$CLSID"
  check "the type library's version key stays with the x86 package" \
    key_exists "HKCR\\TypeLib\\$LIBID\\1.0\\409\\win32" /reg:32
  check "msiexec /x Tolvex-x86.msi" msi /x "$D\\Tolvex-x86.msi"
  # The shared component goes with the last package as that package
  # describes it: the x86 one, in the 32-bit view. Windows has one ProgID
  # key for both views, so nothing is left; Wine's 64-bit msiexec writes a
  # 32-bit ProgID row apart from the 64-bit one, and the x64 package's copy
  # stays. Checked where Wine and Windows agree, and that copy removed for
  # what follows.
  check "after both packages, x64 first: no class, ProgID or type library in the 32-bit view" \
    eval 'no_key "HKCR\\CLSID\\$CLSID" /reg:32 && no_key "HKCR\\TolvexPro.Tolvex" /reg:32 &&
      no_key "HKCR\\TypeLib\\$LIBID" /reg:32 && no_key "HKCR\\Interface\\$IID" /reg:32'
  check "after both packages, x64 first: no class or interface in the 64-bit view" \
    eval 'no_key "HKCR\\CLSID\\$CLSID" && no_key "HKCR\\Interface\\$IID"'
  $W reg delete 'HKCR\TolvexPro.Tolvex' /f >/dev/null 2>&1
  check_removed "after both packages, x64 first" "$cached_before"
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

echo "== $ARCH msi: the per-user package"
USER_MSI=$BUILD/platform/win32/Tolvex-$ARCH-user.msi
USER_DIR=$C/users/$(id -un)/AppData/Local/Programs/Tolvex
if [ -e "$USER_MSI" ]; then
  cp "$USER_MSI" "$DIR_UNIX/"
  check "msiexec /i Tolvex-$ARCH-user.msi" msi /i "$D\\Tolvex-$ARCH-user.msi"
  check "Tolvex.dll in the user's local Programs folder" test -f "$USER_DIR/Tolvex.dll"
  check "nothing in Program Files" test ! -e "$INSTALLED"
  check "the per-user class names that DLL" same_path \
    "$(reg_value "HKCU\\Software\\Classes\\CLSID\\$CLSID\\InprocServer32")" \
    "C:\\users\\$(id -un)\\AppData\\Local\\Programs\\Tolvex\\Tolvex.dll"
  check "native client: the keys under HKCU\\Software\\Classes, none for all users" client user-registered
  check "msiexec /x Tolvex-$ARCH-user.msi" msi /x "$D\\Tolvex-$ARCH-user.msi"
  check "native client: no per-user key left" client user-unregistered
  check "no per-user file left" test ! -e "$USER_DIR"
else
  fail "missing $USER_MSI"
fi

echo "== $ARCH msi: a machine with the real archive control"
OTHER='{0A1B2C3D-0000-4000-8000-000000000001}'
$W reg add 'HKCR\MarloxO.Marlox\CLSID' /ve /d "$OTHER" /f >/dev/null 2>&1
check "msiexec /i" msi /i "$D\\Tolvex-$ARCH.msi"
check "the control's class cannot be made: the built-in archiver, and why" \
  client archiver "$URL" "$WORK" "archiver: the built-in zip archiver, as MarloxO.Marlox cannot be created in this process (CoCreateInstance failed: 0x80040154"
check "msiexec /x" msi /x "$D\\Tolvex-$ARCH.msi"
check "the real control's ProgID untouched" same_path "$(reg_value 'HKCR\MarloxO.Marlox\CLSID')" "$OTHER"
$W reg delete 'HKCR\MarloxO.Marlox' /f >/dev/null 2>&1

echo "== $ARCH msi: $FAILED failure(s)"
exit $((FAILED > 125 ? 125 : FAILED))
