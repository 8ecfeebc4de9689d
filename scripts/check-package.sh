#!/usr/bin/env bash
# SPDX-License-Identifier: AGPL-3.0-or-later
# Checks the desktop files, installs into a scratch root (and once more under
# umask 000, for the installed modes), builds the two Debian packages (ormaview,
# ormaview-tools), reports their sizes and unpacks them into another scratch
# root, where the viewer must run and explain its command line.
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
for f in usr/bin/ormaview usr/lib/ormaview/libormaview-image.so usr/bin/ormaview-sample usr/bin/ormaview-workdesk usr/bin/ormaview-postcard-viewer \
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

# The Debian packages, their dependencies as dpkg-shlibdeps found them, and a
# scratch root from both. The viewer's package carries the one copy of MuPDF.
(umask 000 && cd "$build" && cpack -G DEB -B "$scratch/deb" >/dev/null)
deb=$(ls "$scratch"/deb/ormaview_*.deb)
tools=$(ls "$scratch"/deb/ormaview-tools_*.deb)
for d in "$deb" "$tools"; do
  echo "Package: $(basename "$d") $(du -k "$d" | cut -f1) KiB"
  writable=$(dpkg-deb -c "$d" | awk '$1 !~ /^l/ && (substr($1, 6, 1) == "w" || substr($1, 9, 1) == "w")')
  [ -z "$writable" ] || { printf 'group- or world-writable in %s:\n%s\n' "$d" "$writable" >&2; exit 1; }
  dpkg -x "$d" "$scratch/root"
done
[ "$(stat -c %s "$deb")" -le $((30 * 1024 * 1024)) ] || { echo "the viewer's package is over 30 MiB" >&2; exit 1; }
if dpkg-deb -c "$deb" | grep -q 'usr/bin/ormaview-'; then echo "tools in the viewer's package" >&2; exit 1; fi
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
[[ $depends == *libqt6widgets6* ]] || { echo "no Qt dependency found" >&2; exit 1; }
tools_depends=$(dpkg-deb -f "$tools" Depends)
echo "Depends (tools): $tools_depends"
[[ $tools_depends == *"ormaview (= "* ]] || { echo "ormaview-tools does not depend on ormaview" >&2; exit 1; }
# The programs find the private library next to them, never in the build tree.
for p in ormaview ormaview-sample ormaview-workdesk ormaview-postcard-viewer; do
  runpath=$(readelf -d "$scratch/root/usr/bin/$p" | sed -n 's/.*R\(UN\)\{0,1\}PATH.*\[\(.*\)\]/\2/p')
  [ "$runpath" = '$ORIGIN/../lib/ormaview' ] || { echo "$p: runpath '$runpath'" >&2; exit 1; }
done

# The unpacked viewer runs on this system's libraries.
root="$scratch/root/usr/bin"
"$root/ormaview" --version
"$root/ormaview-sample" "$scratch/desk" >/dev/null
mkdir -m 700 "$scratch/runtime"
QT_QPA_PLATFORM=offscreen ORMAVIEW_WORKDESK="$scratch/desk" ORMAVIEW_TRACE_FILE="$scratch/trace.log" \
  ORMAVIEW_SCREENSHOT="$scratch/shot.png" ORMAVIEW_CLOSE_AFTER_SCREENSHOT=1 XDG_RUNTIME_DIR="$scratch/runtime" \
  timeout 120 "$root/ormaview" "$scratch/desk" 1 5 >/dev/null
[ -s "$scratch/shot.png" ] || { echo "the unpacked viewer showed no page" >&2; exit 1; }

# Under a Japanese locale the usage and the command-line mistakes are Japanese;
# a key that no postcard viewer published has a box of its own (exit status 1).
env LC_ALL=ja_JP.UTF-8 "$root/ormaview" --help | head -n 1 | grep -q '^使い方: ormaview ' ||
  { echo "no Japanese usage" >&2; exit 1; }
run_viewer() {  # LOCALE ARGS...
  local locale=$1
  shift
  env LC_ALL="$locale" QT_QPA_PLATFORM=offscreen ORMAVIEW_WORKDESK="$scratch/desk" ORMAVIEW_TRACE_FILE="$scratch/trace.log" \
    XDG_RUNTIME_DIR="$scratch/runtime" ORMAVIEW_MESSAGE_LOG="$scratch/messages.log" timeout 60 "$root/ormaview" "$@" 2>"$scratch/stderr" >/dev/null
}
status=0; run_viewer ja_JP.UTF-8 /h abc || status=$?
[ $status = 2 ] && grep -q '^ormaview: はがきのキー "abc" は1以上の数値ではありません$' "$scratch/stderr" &&
  grep -q '^使い方: ormaview ' "$scratch/stderr" || { echo "/h abc: status $status" >&2; cat "$scratch/stderr" >&2; exit 1; }
status=0; run_viewer C.UTF-8 /h 999 || status=$?
[ $status = 1 ] && grep -q '^ormaview: No postcard viewer has published this postcard key. (Postcard key: 999)$' \
  "$scratch/stderr" && grep -q 'No postcard viewer has published this postcard key' "$scratch/messages.log" ||
  { echo "/h 999: status $status" >&2; cat "$scratch/stderr" >&2; exit 1; }

# The completion offers the sample's document IDs and the page IDs of document 1.
completion="$scratch/root/usr/share/bash-completion/completions/ormaview"
ids=$(bash -c 'source "$1"; COMP_WORDS=(ormaview "$2" ""); COMP_CWORD=2; _ormaview; echo "${COMPREPLY[*]}"' _ \
  "$completion" "$scratch/desk")
pages=$(bash -c 'source "$1"; COMP_WORDS=(ormaview "$2" 1 ""); COMP_CWORD=3; _ormaview; echo "${COMPREPLY[*]}"' _ \
  "$completion" "$scratch/desk")
[[ " $ids " == *" 1 "* && " $pages " == *" 5 "* ]] || { echo "completion: '$ids' / '$pages'" >&2; exit 1; }
echo "Package check passed"
