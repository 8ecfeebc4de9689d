#!/usr/bin/env bash
# SPDX-License-Identifier: AGPL-3.0-or-later
# Checks the desktop files, installs into a scratch root (and once more under
# umask 000, for the installed modes), builds the Debian package and unpacks it
# into another scratch root, where the viewer must run.
#   scripts/check-package.sh [BUILD_DIR]   (default build/, configured and built)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
app=io.github.ormaview.OrmaView

desktop-file-validate "dist/linux/$app.desktop"
appstreamcli validate --no-net "dist/linux/$app.metainfo.xml"
# The viewer's window class (WM_CLASS, from its application name) names the desktop file.
grep -q '^StartupWMClass=ormaview$' "dist/linux/$app.desktop"
grep -q 'setApplicationName(QStringLiteral("ormaview"))' src/app/main.cpp

cmake "$build" >/dev/null  # the package settings as they are now
scratch="$build/package-check"
rm -rf "$scratch"
mkdir -p "$scratch"

# cmake --install into a scratch root: programs, icon, desktop file, metainfo,
# man page, completion; the installed tree must validate as a whole.
DESTDIR="$scratch/install" cmake --install "$build" --prefix /usr >/dev/null
for f in usr/bin/ormaview usr/bin/ormaview-sample usr/bin/ormaview-workdesk usr/bin/ormaview-postcard-viewer \
  "usr/share/applications/$app.desktop" "usr/share/metainfo/$app.metainfo.xml" \
  "usr/share/icons/hicolor/scalable/apps/$app.svg" usr/share/man/man1/ormaview.1 \
  usr/share/bash-completion/completions/ormaview; do
  [ -e "$scratch/install/$f" ] || { echo "not installed: $f" >&2; exit 1; }
done
appstreamcli validate-tree --no-net "$scratch/install"

# The installed modes do not follow the installer's umask: installed under
# umask 000, no folder or file may be writable by group or others.
(umask 000 && DESTDIR="$scratch/umask000" cmake --install "$build" --prefix /usr >/dev/null)
writable=$(find "$scratch/umask000" ! -type l -perm /022)
[ -z "$writable" ] || { printf 'group- or world-writable after an install under umask 000:\n%s\n' "$writable" >&2; exit 1; }
if command -v man >/dev/null; then
  man -l "$scratch/install/usr/share/man/man1/ormaview.1" >/dev/null 2>&1 || { echo "man page does not format" >&2; exit 1; }
fi

# The Debian package, its dependencies as dpkg-shlibdeps found them, and a
# scratch root from it.
(umask 000 && cd "$build" && cpack -G DEB -B "$scratch/deb" >/dev/null)
deb=$(ls "$scratch"/deb/ormaview_*.deb)
echo "Package: $deb"
writable=$(dpkg-deb -c "$deb" | awk '$1 !~ /^l/ && (substr($1, 6, 1) == "w" || substr($1, 9, 1) == "w")')
[ -z "$writable" ] || { printf 'group- or world-writable in the package:\n%s\n' "$writable" >&2; exit 1; }
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
[[ $depends == *libqt6widgets6* ]] || { echo "no Qt dependency found" >&2; exit 1; }
dpkg -x "$deb" "$scratch/root"

# The unpacked viewer runs on this system's libraries.
root="$scratch/root/usr/bin"
"$root/ormaview" --version
"$root/ormaview-sample" "$scratch/desk" >/dev/null
mkdir -m 700 "$scratch/runtime"
QT_QPA_PLATFORM=offscreen ORMAVIEW_WORKDESK="$scratch/desk" ORMAVIEW_TRACE_FILE="$scratch/trace.log" \
  ORMAVIEW_SCREENSHOT="$scratch/shot.png" ORMAVIEW_CLOSE_AFTER_SCREENSHOT=1 XDG_RUNTIME_DIR="$scratch/runtime" \
  timeout 120 "$root/ormaview" "$scratch/desk" 1 5 >/dev/null
[ -s "$scratch/shot.png" ] || { echo "the unpacked viewer showed no page" >&2; exit 1; }

# The completion offers the sample's document IDs and the page IDs of document 1.
completion="$scratch/root/usr/share/bash-completion/completions/ormaview"
ids=$(bash -c 'source "$1"; COMP_WORDS=(ormaview "$2" ""); COMP_CWORD=2; _ormaview; echo "${COMPREPLY[*]}"' _ \
  "$completion" "$scratch/desk")
pages=$(bash -c 'source "$1"; COMP_WORDS=(ormaview "$2" 1 ""); COMP_CWORD=3; _ormaview; echo "${COMPREPLY[*]}"' _ \
  "$completion" "$scratch/desk")
[[ " $ids " == *" 1 "* && " $pages " == *" 5 "* ]] || { echo "completion: '$ids' / '$pages'" >&2; exit 1; }
echo "Package check passed"
