#!/usr/bin/env bash
# check-package.sh BUILD_DIR: packs BUILD_DIR with cpack and checks the package as a user's
# machine would see it: its contents, the desktop entries and metadata validate, and the agent
# installed into a fresh root runs.
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/cpack/invara-desktop-manager_*_amd64.deb)
echo "built $(basename "$deb")"

dpkg-deb --contents "$deb" | awk '{print $NF}' | sed 's|^\./|/|' >"$work/contents"
expected=(
  /usr/bin/invara-desktop-manager /usr/bin/invara-qbsim /usr/bin/invara-testservice
  /usr/share/applications/invara-desktop-manager.desktop
  /etc/xdg/autostart/invara-desktop-manager.desktop
  /usr/share/metainfo/io.invara.DesktopManager.metainfo.xml
  /usr/share/icons/hicolor/scalable/apps/invara-desktop-manager.svg
  /usr/share/icons/hicolor/16x16/apps/invara-desktop-manager.png
  /usr/share/icons/hicolor/256x256/apps/invara-desktop-manager.png
  /usr/share/man/man1/invara-desktop-manager.1.gz /usr/share/man/man1/invara-qbsim.1.gz
  /usr/share/man/man1/invara-testservice.1.gz
  /usr/share/doc/invara-desktop-manager/copyright
)
missing=0
for f in "${expected[@]}"; do
  grep -qxF "$f" "$work/contents" || { echo "missing from the package: $f"; missing=1; }
done
[ $missing -eq 0 ]

depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
for d in xdg-utils libqt6widgets6 libcurl4; do
  [[ "$depends" == *"$d"* ]] || { echo "Depends lacks $d"; exit 1; }
done

mkdir "$work/root"
dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work/root/usr/share/applications/invara-desktop-manager.desktop"
desktop-file-validate "$work/root/etc/xdg/autostart/invara-desktop-manager.desktop"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/io.invara.DesktopManager.metainfo.xml"
grep -qx 'Exec=/usr/bin/invara-desktop-manager' "$work/root/etc/xdg/autostart/invara-desktop-manager.desktop"

version=$(env -u DISPLAY -u WAYLAND_DISPLAY "$work/root/usr/bin/invara-desktop-manager" --version)
echo "$version"
[[ "$version" == "invara-desktop-manager "* ]]
"$work/root/usr/bin/invara-desktop-manager" --help | grep -q -- '-syncall'
"$work/root/usr/bin/invara-testservice" --help | grep -q -- '--scenario'
"$work/root/usr/bin/invara-qbsim" --help | grep -q 'demo'
echo "package checked"
