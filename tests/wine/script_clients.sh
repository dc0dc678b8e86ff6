# shellcheck shell=bash
# Sourced by run.sh and msi_tests.sh: writes the script clients of
# scripts/ where Windows runs them.
#   copy_script_clients DIR SCRIPT...
# A VBScript client goes after scripts/common.vbs, the helpers they share
# (Wine's VBScript runs neither ExecuteGlobal nor the includes of a .wsf);
# JScript goes as it is; texts.txt, which the helpers read, in UTF-16.
copy_script_clients() {
  local dir=$1 script
  shift
  local scripts=${BASH_SOURCE[0]%/*}/scripts
  for script in "$@"; do
    case $script in
      */common.vbs) ;;
      *.vbs) cat "$scripts/common.vbs" "$script" >"$dir/${script##*/}" ;;
      *) cp "$script" "$dir/" ;;
    esac
  done
  iconv -f UTF-8 -t UTF-16 "$scripts/texts.txt" >"$dir/texts.txt"
}
