#!/usr/bin/env bash
# Qt 6 and QScintilla for the Windows cross build, built with Debian's
# mingw-w64 from Debian's own source packages of the very versions installed
# here (the build runs the host's moc, rcc and uic, which must match).
#   scripts/windows_qt.sh           build it unless cached; the last line names where it is
#   scripts/windows_qt.sh --prefix  only print the prefix it is (or would be) in
# The cache lives outside every build folder, in
# ${XDG_CACHE_HOME:-~/.cache}/vazur/, one folder per key: the two source
# versions, the compiler's and the recipe (the options below and
# cmake/qscintilla/CMakeLists.txt), so an edit elsewhere in this script
# costs no rebuild. A build runs in a hidden work folder and is renamed into
# place only when whole, so a failed or interrupted one leaves nothing that
# looks like a cache; the next run with the same Qt recipe goes on in that
# work folder from where it stopped. The cold build takes 40 to 50 minutes
# on two cores shared with other work; its whole log goes to the cache's
# logs/ folder.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
VAZUR_ROOT="$root"
source "$root/scripts/setup.sh"

only_prefix=0
[ "${1:-}" = --prefix ] && only_prefix=1

version_of() { dpkg-query -W -f='${source:Version}' "$1" 2>/dev/null; }
source_of() { dpkg-query -W -f='${source:Package}' "$1" 2>/dev/null; }

if [ "$only_prefix" -eq 0 ]; then
  vazur_setup g++-mingw-w64-x86-64-posix dpkg-dev perl xz-utils qt6-base-dev qt6-base-dev-tools \
    qt6-translations-l10n libqscintilla2-qt6-dev || { echo "set-up failed"; exit 1; }
fi

qt_source=$(source_of qt6-base-dev) qt_version=$(version_of qt6-base-dev)
qsci_source=$(source_of libqscintilla2-qt6-dev) qsci_version=$(version_of libqscintilla2-qt6-dev)
mingw_version=$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix 2>/dev/null)
if [ -z "$qt_version" ] || [ -z "$qsci_version" ] || [ -z "$mingw_version" ]; then
  echo "windows_qt: qt6-base-dev, libqscintilla2-qt6-dev or mingw-w64 is not installed" >&2
  exit 1
fi

# The compilers of the project's toolchain file, and the C++ runtime linked
# into every DLL: only Qt's own DLLs go beside a program.
toolchain='set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -static)'

# qtbase with only what Vazur and its tests use. The offscreen platform
# plugin (the tests) needs FreeType; Qt's own copies of the libraries it
# bundles, so no DLL but Qt's is needed. Direct2D stays on: without it the
# windows platform plugin does not link.
qt_options=(
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
  -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_xml=OFF
  -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_opengl=OFF -DINPUT_opengl=no
  -DFEATURE_vulkan=OFF -DFEATURE_accessibility=OFF -DFEATURE_tabletevent=OFF -DFEATURE_icu=OFF
  -DFEATURE_glib=OFF -DFEATURE_jpeg=OFF -DFEATURE_zstd=OFF
  -DFEATURE_freetype=ON -DFEATURE_system_freetype=OFF -DFEATURE_fontconfig=OFF
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_png=OFF -DFEATURE_system_doubleconversion=OFF
  -DFEATURE_style_windowsvista=ON
)
plugins=(platforms/qwindows.dll platforms/qoffscreen.dll platforms/qminimal.dll styles/qwindowsvistastyle.dll)
translations=(qtbase_cs.qm)

qt_recipe=$(printf '%s\n' "mingw $mingw_version" "$toolchain" "${qt_options[@]}" | sha256sum | cut -c1-12)
recipe=$({ printf '%s\n' "$qt_recipe" "$qsci_source $qsci_version" "${plugins[@]}" "${translations[@]}"
           cat "$root/cmake/qscintilla/CMakeLists.txt"; } | sha256sum | cut -c1-12)
cache="${XDG_CACHE_HOME:-$HOME/.cache}/vazur"
key="qt-windows-${qt_version}-${recipe}"
prefix="$cache/${key//[:~]/_}"

if [ "$only_prefix" -eq 1 ]; then
  echo "$prefix"
  exit 0
fi
if [ -f "$prefix/build-info.txt" ]; then
  echo "Qt for Windows: cached in $prefix"
  exit 0
fi

mkdir -p "$cache/logs"
# One build at a time; a second caller waits for it and then finds it cached.
exec 9>"$cache/qt-windows.lock"
if ! flock -n 9; then
  echo "Qt for Windows: another build is running, waiting for it"
  flock 9
fi
if [ -f "$prefix/build-info.txt" ]; then echo "Qt for Windows: cached in $prefix"; exit 0; fi
# The work folder of this Qt recipe; those of other recipes are of no use
# (and the lock says no build runs in them).
work="$cache/.work-qt-${qt_version//[:~]/_}-$qt_recipe"
for other in "$cache"/.work-*; do
  if [ -e "$other" ] && [ "$other" != "$work" ]; then rm -rf "$other"; fi
done
log="$cache/logs/${key//[:~]/_}.log"
if [ -d "$work/qtbase" ]; then echo "Qt for Windows: going on with the build in $work"; fi
mkdir -p "$work"
echo "=== $(date -u '+%Y-%m-%d %H:%M:%S UTC')" >>"$log"
started=$SECONDS
elapsed() { printf '%d:%02d' $(((SECONDS - started) / 60)) $(((SECONDS - started) % 60)); }
stage() { echo "Qt for Windows [$1/5] $(elapsed) $2"; }
failed() {
  echo "Qt for Windows: $1 failed; the end of $log:"
  grep -v '^\[[0-9]*/[0-9]*\]' "$log" | tail -n 60
  echo "Qt for Windows: the next run goes on from there ($work)"
  exit 1
}
# A build's whole output goes to the log; of ninja's "[n/N]" lines one every
# 30 s is shown (and the last), so a long build is seen to move.
progress() {
  local line last=-30
  while IFS= read -r line; do
    printf '%s\n' "$line" >>"$log"
    if [[ $line =~ ^\[([0-9]+)/([0-9]+)\] ]] &&
       { [ $((SECONDS - last)) -ge 30 ] || [ "${BASH_REMATCH[1]}" = "${BASH_REMATCH[2]}" ]; }; then
      last=$SECONDS
      echo "    $(elapsed) [${BASH_REMATCH[1]}/${BASH_REMATCH[2]}]"
    fi
  done
}
run_logged() { "$@" 2>&1 | progress; return "${PIPESTATUS[0]}"; }

# 1. The sources, through a private apt configuration: the machine's own
# sources list and package lists stay as they are.
stage 1 "fetching Debian's sources: $qt_source $qt_version, $qsci_source $qsci_version"
if [ ! -f "$work/src/fetched" ]; then
  apt_dir="$work/apt"
  rm -rf "$apt_dir" "$work/src"
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$work/src"
  keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  cat >"$apt_dir/sources.list" <<EOF
deb-src [signed-by=$keyring] http://deb.debian.org/debian bookworm main
deb-src [signed-by=$keyring] http://deb.debian.org/debian bookworm-updates main
deb-src [signed-by=$keyring] http://deb.debian.org/debian-security bookworm-security main
EOF
  apt_options=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts="$apt_dir/none"
               -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache")
  [ "$(id -u)" -eq 0 ] && apt_options+=(-o APT::Sandbox::User=root)
  run_logged apt-get "${apt_options[@]}" update || failed "apt-get update"
  (cd "$work/src" && run_logged apt-get "${apt_options[@]}" source \
    "$qt_source=$qt_version" "$qsci_source=$qsci_version") || failed "apt-get source"
  qt_src=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name "$qt_source-*")
  qsci_src=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name "$qsci_source-*")
  [ -d "$qt_src" ] && [ -d "$qsci_src" ] || failed "unpacking the sources"
  rm -rf "$apt_dir"
  touch "$work/src/fetched"
fi
qt_src=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name "$qt_source-*")
qsci_src=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name "$qsci_source-*")

# Rewritten only when changed: a newer file would make ninja configure again.
if [ "$(cat "$work/toolchain.cmake" 2>/dev/null)" != "$toolchain" ]; then
  printf '%s\n' "$toolchain" >"$work/toolchain.cmake"
fi
host_cmake="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake"
# Installed with DESTDIR into the work folder, then moved: the paths Qt
# records are those of the cache folder.
stage_dir="$work/stage"
jobs=$(nproc)

stage 2 "configuring qtbase"
if [ ! -f "$work/qtbase/build.ninja" ]; then
  run_logged cmake -S "$qt_src" -B "$work/qtbase" -G Ninja "${qt_options[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake" || failed "configuring qtbase"
fi

stage 3 "building qtbase (the long part: half an hour or more on two cores)"
run_logged nice -n 10 ninja -C "$work/qtbase" -j"$jobs" || failed "building qtbase"
rm -rf "$stage_dir"
DESTDIR="$stage_dir" run_logged cmake --install "$work/qtbase" || failed "installing qtbase"
staged_qt="$stage_dir$prefix"
for plugin in "${plugins[@]}"; do
  [ -f "$staged_qt/plugins/$plugin" ] || failed "qtbase without plugins/$plugin"
done

stage 4 "building QScintilla"
run_logged cmake -S "$root/cmake/qscintilla" -B "$work/qscintilla" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$staged_qt" -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake" \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DQSCINTILLA_SOURCE="$qsci_src" || failed "configuring QScintilla"
run_logged nice -n 10 ninja -C "$work/qscintilla" -j"$jobs" || failed "building QScintilla"
DESTDIR="$stage_dir" run_logged cmake --install "$work/qscintilla" || failed "installing QScintilla"

# 5. The toolkit's Czech texts (its own dialogs' buttons), as on Linux.
stage 5 "finishing"
mkdir -p "$staged_qt/translations"
for qm in "${translations[@]}"; do
  cp "/usr/share/qt6/translations/$qm" "$staged_qt/translations/" || failed "copying $qm"
done
cat >"$staged_qt/build-info.txt" <<EOF
$qt_source $qt_version
$qsci_source $qsci_version
g++-mingw-w64-x86-64-posix $mingw_version
recipe $recipe
built in $(elapsed) on $(nproc) cores, $(date -u '+%Y-%m-%d %H:%M UTC')
EOF
rm -rf "$prefix"
mv "$staged_qt" "$prefix"
rm -rf "$work"
echo "Qt for Windows: built in $(elapsed), $(du -sh "$prefix" | cut -f1) in"
echo "$prefix"
