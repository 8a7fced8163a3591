#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks that the programs, the desktop
# entry, the icon, the metainfo and the manual pages arrive, that the desktop entry
# and the metainfo validate, and that the command-line program needs no Qt.
# usage: check_install.sh <build dir>
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

id=org.kestrane.ReceiverUtility
status=0
for f in bin/kestrane-utility bin/kestrane-sim bin/kestrane-cli \
         share/applications/$id.desktop \
         share/icons/hicolor/scalable/apps/$id.svg \
         share/metainfo/$id.metainfo.xml \
         share/man/man1/kestrane-sim.1 share/man/man1/kestrane-cli.1; do
  if [ -e "$prefix/$f" ]; then echo "installed: $f"; else echo "MISSING: $f"; status=1; fi
done
[ -x "$prefix/bin/kestrane-utility" ] || { echo "kestrane-utility is not executable"; status=1; }
[ -x "$prefix/bin/kestrane-cli" ] || { echo "kestrane-cli is not executable"; status=1; }
# The command-line program runs where Qt is not installed.
if readelf -d "$prefix/bin/kestrane-cli" | grep -q 'NEEDED.*libQt'; then
  echo "kestrane-cli needs a Qt library"; status=1
fi

desktop-file-validate "$prefix/share/applications/$id.desktop" || status=1
grep -q '^Categories=.*Utility;.*Science;' "$prefix/share/applications/$id.desktop" || {
  echo "desktop entry lacks the Utility and Science categories"; status=1; }
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" || status=1
# The metainfo carries the project's version, the one the About window shows.
grep -q "release version=\"$2\"" "$prefix/share/metainfo/$id.metainfo.xml" || {
  echo "metainfo release is not version $2"; status=1; }
if command -v groff >/dev/null; then
  for page in kestrane-sim.1 kestrane-cli.1; do
    groff -man -Tutf8 -ww -z "$prefix/share/man/man1/$page" || {
      echo "the manual page $page does not format"; status=1; }
  done
fi

[ $status -eq 0 ] && echo "install tree complete"
exit $status
