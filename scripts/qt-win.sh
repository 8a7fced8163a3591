#!/usr/bin/env bash
# Qt for Windows, cross-built once per machine from Debian's own Qt sources.
#
#   scripts/qt-win.sh          prints the Qt prefix on its last line (builds it first when
#                              this machine has none yet)
#
# The windows of the program need Qt's Core, Gui and Widgets for Windows; Debian ships Qt
# only for Linux. This builds the same version as the host's Qt (6.4.2) from the qt6-base
# source package of the system's own Debian archive: apt-get fetches it, with its
# signature and checksums checked as for any package, through a deb-src entry made from
# the system's configured Debian source (the same archive and suites), kept in a private
# apt state so the system's own configuration is not touched. Debian's moc, rcc and uic
# of the same version serve as host tools. The build is static, with the mingw-w64
# toolchain of cmake/mingw-w64.cmake and only what the windows use.
#
# The result is kept outside the clone, in ${XDG_CACHE_HOME:-$HOME/.cache}/kestrane/,
# under a name made of the version and a digest of the options below, so every later
# build and test run on this machine reuses it, and a change of options builds anew. A
# fresh machine takes some 25 minutes of two cores here; the time is printed.
set -euo pipefail
cd "$(dirname "$0")/.."

version=6.4.2+dfsg-10
toolchain=$PWD/cmake/mingw-w64.cmake
# What the windows do not use is left out; the libraries Qt carries in its own sources
# (zlib, pcre2, libpng, harfbuzz, freetype, double-conversion) are used instead of the
# system's, which exist only for Linux. Debian's source leaves out the Wacom tablet
# headers and IAccessible2, so tablet events are off; with OpenGL off, dynamic GL must
# be off too for the Windows platform plugin to compile.
options=(
  -DBUILD_SHARED_LIBS=OFF -DCMAKE_BUILD_TYPE=Release
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF
  -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF
  -DFEATURE_jpeg=OFF -DFEATURE_vulkan=OFF -DFEATURE_tabletevent=OFF -DFEATURE_dynamicgl=OFF
  -DFEATURE_testlib=ON
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF
  -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF
  -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_jpeg=OFF
  -DFEATURE_sql_sqlite=OFF -DFEATURE_gif=OFF -DFEATURE_ico=OFF
)
digest=$( (echo "$version"; printf '%s\n' "${options[@]}"; cat "$toolchain") | sha256sum | cut -c1-12)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/kestrane
prefix=$cache/qt-$version-win64-$digest
if [ -f "$prefix/.complete" ]; then
  echo "Qt for Windows: $prefix (built before)" >&2
  echo "$prefix"
  exit 0
fi

work=$cache/work-$digest
rm -rf "$work" "$prefix"
mkdir -p "$work/apt/parts" "$work/apt/lists/partial" "$work/apt/cache/archives/partial"
start=$(date +%s)

# A deb-src entry for every deb entry of the system's Debian sources, in the private state.
found=0
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  if awk 'BEGIN { RS = ""; ORS = "\n\n" }
          /(^|\n)Types:[^\n]*deb/ && /URIs:[^\n]*debian/ {
            gsub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print; n++ }
          END { exit n ? 0 : 1 }' "$f" >"$work/apt/parts/$(basename "$f")"; then
    found=1
  else
    rm -f "$work/apt/parts/$(basename "$f")"
  fi
done
if [ -f /etc/apt/sources.list ]; then
  sed -n -E 's/^deb( \[[^]]*\])? (.*debian.*)$/deb-src\1 \2/p' /etc/apt/sources.list \
    >"$work/apt/sources.list"
  [ -s "$work/apt/sources.list" ] && found=1
else
  : >"$work/apt/sources.list"
fi
[ "$found" -eq 1 ] || { echo "no Debian source is configured in /etc/apt" >&2; exit 1; }
apt_private=(-o "Dir::Etc::SourceList=$work/apt/sources.list"
  -o "Dir::Etc::SourceParts=$work/apt/parts" -o "Dir::State::Lists=$work/apt/lists"
  -o "Dir::Cache=$work/apt/cache" -o "APT::Sandbox::User=root")
apt-get -q "${apt_private[@]}" update >"$work/apt.log"
(cd "$work" && apt-get -q "${apt_private[@]}" source "qt6-base=$version" >>"$work/apt.log" 2>&1)
src=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
[ -n "$src" ] || { echo "qt6-base $version could not be fetched (log: $work/apt.log)" >&2; exit 1; }

echo "== Qt for Windows: configuring $(basename "$src")" >&2
cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  "${options[@]}" >"$work/configure.log" 2>&1 ||
  { tail -n 40 "$work/configure.log" >&2; exit 1; }
echo "== Qt for Windows: building" >&2
cmake --build "$work/build" -j "$(nproc)" >"$work/build.log" 2>&1 ||
  { grep -E 'error|FAILED' "$work/build.log" | head -n 20 >&2; exit 1; }
cmake --install "$work/build" >"$work/install.log" 2>&1
touch "$prefix/.complete"
rm -rf "$work"
echo "Qt for Windows built in $(( ($(date +%s) - start) / 60 )) min: $prefix" >&2
echo "$prefix"
