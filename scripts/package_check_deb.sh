#!/usr/bin/env bash
# Checks the .deb as a user meets it, in a clean Debian 12: installed with
# apt-get from the file, started under Xvfb until its main window shows, its
# file list compared with what it is meant to hold, then purged.
#   scripts/package_check_deb.sh dist/vazur_<version>_amd64.deb
# The clean system is a chroot made once with debootstrap and kept in
# ${XDG_CACHE_HOME:-~/.cache}/vazur/ (with the packages it downloads); each
# run works on a fresh copy of it. Needs root (through sudo when not root).
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
deb="$(realpath "$1")"
source "$root/scripts/xvfb.sh"

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
cache="${XDG_CACHE_HOME:-$HOME/.cache}/vazur"
base="$cache/debian12-chroot"
archives="$cache/debian12-archives"
mirror=http://deb.debian.org/debian
mkdir -p "$cache/logs" "$archives"
log="$cache/logs/debian12-check.log"
: >"$log"
started=$SECONDS
step() { printf '  %3ds %s\n' $((SECONDS - started)) "$1"; }
fail() {
  echo "deb check: $1 (log: $log)"
  tail -n 30 "$log"
  exit 1
}

# The clean Debian 12, made once: built beside its place and renamed into it
# only when whole.
if [ ! -f "$base/.vazur-base" ]; then
  step "making a clean Debian 12 with debootstrap in $base"
  rm -rf "$base.new"
  "${sudo[@]}" debootstrap --variant=minbase bookworm "$base.new" "$mirror" >>"$log" 2>&1 ||
    fail "debootstrap failed"
  "${sudo[@]}" tee "$base.new/etc/apt/sources.list" >/dev/null <<SOURCES
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
SOURCES
  # No service starts inside the chroot.
  printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee "$base.new/usr/sbin/policy-rc.d" >/dev/null
  "${sudo[@]}" chmod 755 "$base.new/usr/sbin/policy-rc.d"
  "${sudo[@]}" rm -f "$base.new"/var/cache/apt/archives/*.deb
  "${sudo[@]}" touch "$base.new/.vazur-base"
  "${sudo[@]}" mv "$base.new" "$base" || fail "cannot move $base.new into place"
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/vazur-deb-check.XXXXXX")"
sys="$work/root"
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && "${sudo[@]}" kill "$app_pid" 2>/dev/null
  stop_xvfb
  # Nothing is removed while anything is still mounted there.
  local mount
  for mount in "$sys/proc" "$sys" "$work/changes"; do
    if mountpoint -q "$mount" 2>/dev/null && ! "${sudo[@]}" umount "$mount"; then
      echo "deb check: $mount is still mounted; $work is left"
      return
    fi
  done
  "${sudo[@]}" rm -rf "$work"
}
trap cleanup EXIT
in_chroot() { "${sudo[@]}" chroot "$sys" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
                LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }

# The clean system stays as it is: what the run changes goes to memory, laid
# over it (or, where overlays cannot be mounted, into a copy).
step "a fresh copy of the clean system"
mkdir -p "$sys" "$work/changes"
if "${sudo[@]}" mount -t tmpfs -o mode=755 tmpfs "$work/changes" &&
   "${sudo[@]}" mkdir "$work/changes/upper" "$work/changes/work" &&
   "${sudo[@]}" mount -t overlay overlay \
     -o "lowerdir=$base,upperdir=$work/changes/upper,workdir=$work/changes/work" "$sys" 2>>"$log"; then
  :
else
  "${sudo[@]}" cp -a "$base/." "$sys" || fail "cannot copy $base"
fi
"${sudo[@]}" mount -t proc proc "$sys/proc" || fail "cannot mount /proc in the chroot"
"${sudo[@]}" cp /etc/resolv.conf "$sys/etc/resolv.conf"
# The packages fetched in earlier runs, so that only new ones are downloaded.
"${sudo[@]}" find "$archives" -name '*.deb' -exec cp {} "$sys/var/cache/apt/archives/" \;
"${sudo[@]}" mkdir -p "$sys/root/dist"
"${sudo[@]}" cp "$deb" "$sys/root/dist/"
name="$(basename "$deb")"

step "apt-get update"
in_chroot apt-get update >>"$log" 2>&1 || fail "apt-get update failed"
step "apt-get install ./dist/$name"
in_chroot sh -c "cd /root && apt-get install -y ./dist/$name" >>"$log" 2>&1 || fail "apt-get install failed"
"${sudo[@]}" find "$sys/var/cache/apt/archives" -name '*.deb' -exec cp -n {} "$archives/" \;
echo "  installed with $(grep -oE '[0-9]+ newly installed' "$log" | tail -n 1)"

status=0
# Exactly these paths, folders included.
expected='/usr
/usr/bin
/usr/bin/vazur
/usr/bin/vazur-exchange-sim
/usr/share
/usr/share/applications
/usr/share/applications/vazur.desktop
/usr/share/icons
/usr/share/icons/hicolor
/usr/share/icons/hicolor/32x32
/usr/share/icons/hicolor/32x32/apps
/usr/share/icons/hicolor/32x32/apps/vazur.png
/usr/share/icons/hicolor/64x64
/usr/share/icons/hicolor/64x64/apps
/usr/share/icons/hicolor/64x64/apps/vazur.png'
listed="$(in_chroot dpkg -L vazur | LC_ALL=C sort)"
if [ "$listed" = "$expected" ]; then
  echo "  dpkg -L vazur: $(grep -vc '/\.$' <<<"$listed") paths, as meant"
else
  echo "  dpkg -L vazur differs from what is meant:"
  diff <(echo "$expected") <(echo "$listed") | sed -n 's/^[<>]/    &/p'
  status=1
fi
if ! desktop-file-validate "$sys/usr/share/applications/vazur.desktop"; then
  echo "  the desktop entry is not valid"
  status=1
fi
if ! in_chroot vazur-exchange-sim --help >>"$log" 2>&1; then
  echo "  vazur-exchange-sim --help failed"
  status=1
fi

step "starting vazur under Xvfb"
start_xvfb || fail "no X server"
"${sudo[@]}" chroot "$sys" env -i PATH=/usr/bin:/bin HOME=/root LANG=C.UTF-8 DISPLAY="$DISPLAY" \
  sh -c 'cd /root && exec vazur' >>"$log" 2>&1 &
app_pid=$!
window="$(wait_for_window 60 'ústředen VQ')"
if [ -n "$window" ]; then
  echo "  main window shown: \"$(xdotool getwindowname "$window")\""
else
  echo "  vazur showed no main window within 60 s"
  status=1
fi
"${sudo[@]}" kill "$app_pid" 2>/dev/null
wait "$app_pid" 2>/dev/null
app_pid=""
stop_xvfb

step "apt-get purge vazur"
in_chroot apt-get purge -y vazur >>"$log" 2>&1 || fail "apt-get purge failed"
left=""
in_chroot dpkg -s vazur >/dev/null 2>&1 && left=" the package's record"
while read -r path; do
  [ -f "$sys$path" ] && left+=" $path"
done <<<"$expected"
if [ -n "$left" ]; then
  echo "  after purging, left:$left"
  status=1
else
  echo "  purged: none of its files is left"
fi
step "done"
exit "$status"
