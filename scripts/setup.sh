# Shared set-up for ./run and ./test: installs missing Debian packages,
# then configures and builds into the given folder.
# usage: source scripts/setup.sh; vazur_setup; vazur_build BUILD_DIR [cmake args...]

VAZUR_PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev qt6-base-dev qt6-qpa-plugins qt6-translations-l10n
                libqscintilla2-qt6-dev)
# ./test's alone: the test through the real window (a virtual screen, key
# presses, the clipboard, window lists, screenshots).
VAZUR_TEST_PACKAGES=(xvfb xdotool xclip x11-utils imagemagick)

vazur_setup() {
  local missing=() p extra=("$@")
  for p in "${VAZUR_PACKAGES[@]}" "${extra[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq >/dev/null
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

vazur_build() {
  local dir="$1"; shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$VAZUR_ROOT" -B "$dir" -G Ninja "$@" >/dev/null || return 1
  fi
  # Quiet when it works; the whole log when it does not.
  if ! cmake --build "$dir" -- -j"$(nproc)" >"$dir/build.log" 2>&1; then
    grep -v '^\[[0-9]*/[0-9]*\]' "$dir/build.log" | tail -n 150
    return 1
  fi
}

# The whole program built for Windows into BUILD_DIR against Qt for Windows,
# which scripts/windows_qt.sh builds once into a cache.
vazur_build_windows() {
  local dir="$1" qt host_cmake
  vazur_setup g++-mingw-w64-x86-64-posix wine64 fonts-dejavu-core || { echo "set-up failed"; return 1; }
  "$VAZUR_ROOT/scripts/windows_qt.sh" || { echo "Qt for Windows: set-up failed"; return 1; }
  qt="$("$VAZUR_ROOT/scripts/windows_qt.sh" --prefix)"
  # Configured afresh when it was made against another Qt (or none).
  if [ -f "$dir/CMakeCache.txt" ] && ! grep -qxF "CMAKE_PREFIX_PATH:UNINITIALIZED=$qt" "$dir/CMakeCache.txt"; then
    rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles" "$dir/build.ninja"
  fi
  host_cmake="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake"
  vazur_build "$dir" -DCMAKE_TOOLCHAIN_FILE="$VAZUR_ROOT/cmake/mingw-w64-x86_64.cmake" -DVAZUR_QT=ON \
    -DCMAKE_PREFIX_PATH="$qt" -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake" ||
    { echo "build failed"; return 1; }
}

# The packages for users, into dist/ (scripts/package.sh): "deb" from build/,
# "windows" (the MSI and the zip) from build-windows/. Builds first.
vazur_package() {
  case "$1" in
    deb)
      vazur_setup dpkg-dev file || { echo "set-up failed"; return 1; }
      vazur_build "$VAZUR_ROOT/build" || { echo "build failed"; return 1; }
      "$VAZUR_ROOT/scripts/package.sh" deb "$VAZUR_ROOT/build"
      ;;
    windows)
      vazur_build_windows "$VAZUR_ROOT/build-windows" || return 1
      vazur_setup wixl msitools zip || { echo "set-up failed"; return 1; }
      "$VAZUR_ROOT/scripts/package.sh" windows "$VAZUR_ROOT/build-windows"
      ;;
  esac
}

# Checks a package made by vazur_package as a user meets it: "deb" in a clean
# Debian 12 (scripts/package_check_deb.sh), "windows" under Wine
# (scripts/package_check_windows.sh).
vazur_check_package() {
  local version
  case "$1" in
    deb)
      vazur_setup debootstrap debian-archive-keyring xvfb xdotool desktop-file-utils || { echo "set-up failed"; return 1; }
      version="$(cat "$VAZUR_ROOT/build/packaging/version.txt")"
      "$VAZUR_ROOT/scripts/package_check_deb.sh" "$VAZUR_ROOT/dist/vazur_${version}_amd64.deb"
      ;;
    windows)
      vazur_setup unzip "${VAZUR_TEST_PACKAGES[@]}" || { echo "set-up failed"; return 1; }
      "$VAZUR_ROOT/scripts/package_check_windows.sh" "$VAZUR_ROOT/build-windows"
      ;;
  esac
}
