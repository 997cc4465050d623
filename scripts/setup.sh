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
