#!/usr/bin/env bash
# Makes the packages for users in dist/, named with the version in
# CMakeLists.txt's project(), from builds already made:
#   scripts/package.sh deb BUILD_DIR       vazur_<version>_amd64.deb (CPack) from the Linux build
#   scripts/package.sh windows BUILD_DIR   vazur-<version>-win64.msi (wixl) and
#                                          vazur-<version>-win64.zip from the Windows build
#   scripts/package.sh msi BUILD_DIR VERSION FILE
#                                          after "windows": the same MSI under another
#                                          version (the upgrade check)
# What goes in is what the builds' install rules name (packaging/CMakeLists.txt).
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
kind="${1:-}"
build="$(cd "${2:-}" 2>/dev/null && pwd)" || { echo "usage: $0 deb|windows BUILD_DIR" >&2; exit 2; }
dist="$root/dist"
mkdir -p "$dist"
version="$(cat "$build/packaging/version.txt" 2>/dev/null)" ||
  { echo "package: $build has no packaging/version.txt (not a packaging build)" >&2; exit 1; }

# The MSI of the files installed in STAGE: the hand-written product
# (packaging/vazur.wxs) and the file list, one component per file.
#   make_msi STAGE VERSION FILE
make_msi() {
  local stage="$1" version="$2" msi work
  msi="$(realpath -m "$3")"
  work="$(dirname "$stage")"
  (cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) |
    wixl-heat --prefix "" --directory-ref INSTALLDIR --component-group VazurFiles --var var.SourceDir --win64 \
      >"$work/files.wxs" || { echo "package: wixl-heat failed"; return 1; }
  rm -f "$msi"
  # wixl writes the tables' texts in the code page of WINDOWS_LANGUAGE's
  # language but records none (and crashes on Czech letters with none set),
  # so the tables are then marked as Windows-1250, the Czech code page.
  if ! (cd "$stage" && WINDOWS_LANGUAGE=cs_CZ wixl --arch x64 -D Version="$version" -D SourceDir=. -D Win64=yes \
          -D IconFile="$(realpath --relative-to="$stage" "$root/packaging/vazur.ico")" \
          -o "$msi" "$root/packaging/vazur.wxs" "$work/files.wxs") >"$work/wixl.log" 2>&1 ||
     [ ! -s "$msi" ] || grep -q CRITICAL "$work/wixl.log"; then
    cat "$work/wixl.log"; rm -f "$msi"; echo "package: wixl failed"; return 1
  fi
  printf '\r\n\r\n1250\t_ForceCodepage\r\n' >"$work/_ForceCodepage.idt"
  WINDOWS_LANGUAGE=cs_CZ msibuild "$msi" -i "$work/_ForceCodepage.idt" ||
    { rm -f "$msi"; echo "package: msibuild failed"; return 1; }
}

case "$kind" in
msi)
  stage="$build/package/vazur-${version}-win64"
  [ -d "$stage" ] && [ $# -eq 4 ] || { echo "usage: $0 msi BUILD_DIR VERSION FILE, after $0 windows BUILD_DIR" >&2; exit 2; }
  make_msi "$stage" "$3" "$4"
  ;;
deb)
  rm -f "$dist/vazur_${version}_amd64.deb"
  (cd "$build" && cpack --config CPackConfig.cmake) >"$build/package.log" 2>&1 ||
    { cat "$build/package.log"; echo "package: cpack failed"; exit 1; }
  ls -l "$dist/vazur_${version}_amd64.deb" | awk '{ sub(".*/", "", $9); print "  dist/" $9 ": " $5 " bytes" }'
  ;;
windows)
  name="vazur-${version}-win64"
  work="$build/package"
  stage="$work/$name"
  rm -rf "$work"
  mkdir -p "$work"
  cmake --install "$build" --component vazur --prefix "$stage" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; echo "package: install failed"; exit 1; }
  # Symbols are no use to a user: the build's own carry debug information.
  find "$stage" -name '*.exe' -o -name '*.dll' | xargs x86_64-w64-mingw32-strip --strip-unneeded ||
    { echo "package: strip failed"; exit 1; }

  make_msi "$stage" "$version" "$dist/$name.msi" || exit 1

  # The zip: the same files in one folder, runnable where it is unpacked.
  rm -f "$dist/$name.zip"
  (cd "$work" && zip -qr -X "$dist/$name.zip" "$name") || { echo "package: zip failed"; exit 1; }
  ls -l "$dist/$name.msi" "$dist/$name.zip" | awk '{ sub(".*/", "", $9); print "  dist/" $9 ": " $5 " bytes" }'
  ;;
*)
  echo "usage: $0 deb|windows BUILD_DIR" >&2
  exit 2
  ;;
esac
