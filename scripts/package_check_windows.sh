#!/usr/bin/env bash
# Checks the MSI and the zip as a Windows user meets them, under Wine in a
# fresh prefix of their own (BUILD_DIR/package-check/wine, made anew each run):
# the MSI installs silently per machine, with its files, Start-menu shortcut
# and entry in the installed programs; the installed vazur.exe carries its
# version and shows its main window (under Xvfb); a newer version replaces
# it; uninstalling leaves nothing of it behind and no file of the user's is
# touched. The zip holds the same files in one folder, and vazur.exe starts
# there too. Last, the installed copy goes through the test through its
# window (scripts/gui_e2e.sh).
#   scripts/package_check_windows.sh BUILD_DIR
# (after scripts/package.sh windows BUILD_DIR)
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)"
source "$root/scripts/xvfb.sh"

version="$(cat "$build/packaging/version.txt")"
name="vazur-${version}-win64"
msi="$root/dist/$name.msi"
zip="$root/dist/$name.zip"
stage="$build/package/$name"
work="$build/package-check"
for file in "$msi" "$zip" "$stage"; do
  [ -e "$file" ] || { echo "Windows packages: $file is missing (scripts/package.sh windows)"; exit 1; }
done

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEPREFIX="$work/wine" WINEARCH=win64 WINEDEBUG=-all
# No .NET or HTML engine to offer, and no menu entries made on this machine
# for what the installer puts into the Start menu.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset LANGUAGE
export LANG=C.UTF-8 LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

# (The helpers the window test builds in WORK stay.)
rm -rf "$WINEPREFIX" "$work/gui-e2e"
mkdir -p "$work"
log="$work/check.log"
: >"$log"
started=$SECONDS
status=0
step() { printf '  %3ds %s\n' $((SECONDS - started)) "$1"; }
bad() { echo "  FAILED: $1"; status=1; }
run() { "$wine" "$@" >>"$log" 2>&1; }
windows_path() { local p="Z:$1"; echo "${p//\//\\}"; }
cleanup() {
  stop_xvfb
  "$wineserver" -k >/dev/null 2>&1
}
trap cleanup EXIT

drive_c="$WINEPREFIX/drive_c"
installed="$drive_c/Program Files/Vazur"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
files_of() { (cd "$1" && find . -type f | LC_ALL=C sort); }
# Everything on drive C:, bar what Wine itself changes as it runs, and the
# installer's cache folder that Windows always has (Wine makes it at the
# first install).
snapshot() {
  (cd "$drive_c" && find . -path ./windows/temp -prune -o -path './users/*/Temp' -prune -o -print |
     grep -vx './windows/Installer' | LC_ALL=C sort)
}
# The installed programs named Vazur, as "product code|version".
products() {
  local code
  "$wine" uninstaller --list 2>/dev/null | tr -d '\r' | sed -n 's/^\({[^}]*}\)|||Vazur$/\1/p' |
    while read -r code; do
      echo "$code|$("$wine" reg query "$uninstall_key\\$code" /v DisplayVersion 2>/dev/null | tr -d '\r' |
                    sed -n 's/.*REG_SZ[[:space:]]*//p')"
    done
}

step "making a fresh Wine prefix"
"$wine" wineboot --init >>"$log" 2>&1 || { tail -n 20 "$log"; echo "Wine prefix: set-up failed"; exit 1; }
"$wineserver" -w
# Wine links the user's Desktop, Documents and the like to this machine's
# home folder: here they are folders of the prefix's own.
for folder in "$drive_c/users/$(id -un)"/*; do
  if [ -L "$folder" ]; then rm "$folder" && mkdir "$folder"; fi
done
# A dump file of the user's, which uninstalling must leave alone.
documents="$drive_c/users/$(id -un)/Documents"
mkdir -p "$documents"
printf '0000 77\r\n' >"$documents/výpis.nvr"
before="$(snapshot)"

step "msiexec /i $name.msi /qn"
if ! run msiexec /i "$(windows_path "$msi")" /qn; then
  bad "msiexec /i ended with an error"
fi
"$wineserver" -w
if [ "$(files_of "$stage")" = "$(files_of "$installed" 2>/dev/null)" ]; then
  echo "  installed in Program Files\\Vazur: $(files_of "$stage" | wc -l) files, as in the build's install step"
else
  bad "Program Files\\Vazur differs from the build's install step:"
  diff <(files_of "$stage") <(files_of "$installed" 2>/dev/null) | sed -n 's/^[<>]/    &/p'
fi
# Windows puts a per-machine install's shortcut into the common Start menu;
# Wine into the installing user's.
shortcut="$(cd "$drive_c" && find "ProgramData/Microsoft/Windows/Start Menu" "users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu" \
              -name 'Vazur.lnk' 2>/dev/null)"
if [ -z "$shortcut" ]; then
  bad "no Start-menu shortcut Vazur.lnk"
elif strings -a "$drive_c/$shortcut" | grep -qxF 'C:\Program Files\Vazur\vazur.exe'; then
  echo "  Start-menu shortcut to C:\Program Files\Vazur\vazur.exe: $shortcut"
else
  bad "the shortcut $shortcut does not lead to C:\Program Files\Vazur\vazur.exe"
fi
listed="$(products)"
if [ "$(wc -l <<<"$listed")" -eq 1 ] && [ "${listed#*|}" = "$version" ]; then
  echo "  in the installed programs: Vazur $version"
else
  bad "the installed programs list Vazur as: ${listed:-nothing}"
fi
# The version resource, as Windows reads it for the file's properties.
if x86_64-w64-mingw32-g++-posix -O2 -Wall -Wextra -municode -static -o "$work/file_version.exe" \
     "$root/packaging/file_version.cpp" -lversion >>"$log" 2>&1; then
  read_version="$("$wine" "$work/file_version.exe" 'C:\Program Files\Vazur\vazur.exe' 2>>"$log" | tr -d '\r')"
  description="$(sed -n 's/.*"FileDescription", "\(.*\)"/\1/p' "$root/packaging/vazur.rc.in")"
  if [ "$read_version" = "$version.0"$'\n'"$description" ]; then
    echo "  vazur.exe's properties: version $version.0, \"$description\""
  else
    bad "vazur.exe's version resource reads \"${read_version//$'\n'/, }\", not $version.0, $description"
  fi
else
  bad "file_version.exe: build failed"
fi

# Starts vazur.exe in the Windows folder DIR (given as Linux sees it) under
# Xvfb, waits for its main window, and closes it as a user does: the window
# is asked to close.
#   show_window DIR
show_window() {
  local app window
  (cd "$1" && exec "$wine" "$(windows_path "$1/vazur.exe")") >>"$log" 2>&1 &
  app=$!
  window="$(wait_for_window 120 'ústředen VQ')"
  if [ -n "$window" ]; then
    echo "  main window shown: \"$(xdotool getwindowname "$window")\""
  else
    bad "vazur.exe showed no main window within 120 s"
  fi
  run taskkill /im vazur.exe
  if timeout 30 tail --pid="$app" -f /dev/null; then
    [ -n "$window" ] && echo "  closed when asked"
  else
    bad "vazur.exe did not end within 30 s of being asked to close"
    "$wineserver" -k >/dev/null 2>&1
  fi
  wait "$app" 2>/dev/null
}

step "starting the installed vazur.exe under Xvfb"
start_xvfb || bad "no X server"
[ -n "${DISPLAY:-}" ] && show_window "$installed"

step "msiexec /x $name.msi /qn"
run msiexec /x "$(windows_path "$msi")" /qn || bad "msiexec /x ended with an error"
"$wineserver" -w
after="$(snapshot)"
if [ "$before" = "$after" ] && [ -z "$(products)" ] && ! "$wine" reg query 'HKLM\Software\Vazur' >/dev/null 2>&1; then
  echo "  uninstalled: drive C: as before the install, no entry in the installed programs, no registry key"
else
  bad "uninstalling left something behind:"
  diff <(echo "$before") <(echo "$after") | sed -n 's/^[<>]/    &/p'
  products | sed 's/^/    installed: /'
fi
[ -f "$documents/výpis.nvr" ] || bad "the user's dump file is gone"

# A newer version replaces this one.
IFS=. read -r major minor patch <<<"$version"
newer="$major.$minor.$((patch + 1))"
step "upgrade: $version, then $newer over it"
"$root/scripts/package.sh" msi "$build" "$newer" "$work/vazur-$newer-win64.msi" >>"$log" 2>&1 || bad "no MSI of $newer"
run msiexec /i "$(windows_path "$msi")" /qn || bad "msiexec /i ($version) ended with an error"
run msiexec /i "$(windows_path "$work/vazur-$newer-win64.msi")" /qn || bad "msiexec /i ($newer) ended with an error"
"$wineserver" -w
listed="$(products)"
if [ "$(wc -l <<<"$listed")" -eq 1 ] && [ "${listed#*|}" = "$newer" ] &&
   [ "$(files_of "$stage")" = "$(files_of "$installed" 2>/dev/null)" ]; then
  echo "  one Vazur installed, $newer, with all its files"
else
  bad "after the upgrade the installed programs list Vazur as: ${listed:-nothing}"
fi
run msiexec /x "$(windows_path "$work/vazur-$newer-win64.msi")" /qn || bad "msiexec /x ($newer) ended with an error"
"$wineserver" -w
[ "$before" = "$(snapshot)" ] && echo "  uninstalled: drive C: as before" || bad "uninstalling $newer left something behind"

step "$name.zip, unpacked into the user's Desktop"
unpacked="$drive_c/users/$(id -un)/Desktop"
mkdir -p "$unpacked"
if unzip -q "$zip" -d "$unpacked" && [ "$(files_of "$stage")" = "$(files_of "$unpacked/$name")" ]; then
  echo "  the same files, in the folder $name"
  [ -n "${DISPLAY:-}" ] && show_window "$unpacked/$name"
else
  bad "$name.zip does not hold the install step's files in $name/"
fi
stop_xvfb

step "the test through the window, with the installed vazur.exe"
run msiexec /i "$(windows_path "$msi")" /qn || bad "msiexec /i ended with an error"
"$wineserver" -w
VAZUR_E2E_WINE_PROGRAM='C:\Program Files\Vazur\vazur.exe' "$root/scripts/gui_e2e.sh" --wine "$work" \
  >"$work/gui-e2e.log" 2>&1
gui_passed=$(grep -c '^PASS ' "$work/gui-e2e.log")
gui_failed=$(grep -c '^FAIL ' "$work/gui-e2e.log")
if [ "$gui_failed" -eq 0 ] && grep -q '^gui: [0-9]* passed' "$work/gui-e2e.log"; then
  echo "  $gui_passed passed"
else
  grep -vE '^PASS ' "$work/gui-e2e.log" | tail -n 30 | sed 's/^/    /'
  bad "the test through the window: $gui_passed passed, $gui_failed failed (screenshots: $work/gui-e2e/shots)"
fi
step "done (log: $log)"
exit "$status"
