#!/usr/bin/env bash
# What `cmake --install` and the .deb put on a system: the files, their
# validity by the desktop's own validators, the dependencies, and lintian.
#   package_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail=0
ok() { echo "ok: $*"; }
bad() { echo "FAILED: $*"; fail=1; }

DESTDIR=$scratch/root cmake --install "$build" --prefix /usr >/dev/null
root=$scratch/root/usr
desktop-file-validate "$root/share/applications/org.tavrimo.Tavrimo.desktop" &&
  ok "desktop entry validates" || bad "desktop entry"
# The program has no web page of its own, and a metainfo names only a real one:
# AppStream 1.0 warns of that, 0.16 knows no such issue.
metainfo=$root/share/metainfo/org.tavrimo.Tavrimo.metainfo.xml
no_homepage=(--override=url-homepage-missing=info)
[[ $(appstreamcli validate --no-net "${no_homepage[@]}" "$metainfo" 2>&1) == *"not recognized"* ]] &&
  no_homepage=()
appstreamcli validate --no-net "${no_homepage[@]}" "$metainfo" &&
  ok "metainfo validates" || bad "metainfo"
grep -q "version=\"$version\"" "$root/share/metainfo/org.tavrimo.Tavrimo.metainfo.xml" &&
  ok "metainfo names release $version" || bad "metainfo release"
zcat "$root/share/man/man1/tavrimo.1.gz" | grep -q "\"tavrimo $version\"" &&
  ok "manual page names $version" || bad "manual page version"
zcat "$root/share/doc/tavrimo/changelog.gz" | head -1 | grep -q "^tavrimo ($version)" &&
  ok "the changelog's newest entry is $version" || bad "no changelog entry for $version"

(cd "$build" && cpack -B "$scratch/pkg" >/dev/null)
deb=$(ls "$scratch"/pkg/*.deb)
dpkg-deb -x "$deb" "$scratch/x"
for f in usr/bin/tavrimo usr/share/applications/org.tavrimo.Tavrimo.desktop \
         usr/share/metainfo/org.tavrimo.Tavrimo.metainfo.xml \
         usr/share/icons/hicolor/{16x16,32x32,48x48,256x256}/apps/tavrimo.png \
         usr/share/doc/tavrimo/copyright usr/share/doc/tavrimo/changelog.gz \
         usr/share/man/man1/tavrimo.1.gz; do
  [[ -f $scratch/x/$f ]] && ok "$f" || bad "missing $f"
done
for size in 16 32 48 256; do
  got=$(file -b "$scratch/x/usr/share/icons/hicolor/${size}x${size}/apps/tavrimo.png" | grep -o '[0-9]* x [0-9]*')
  [[ $got == "$size x $size" ]] && ok "icon $size" || bad "icon $size is $got"
done
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6widgets6 fonts-arphic-uming fonts-unifont x11-xserver-utils libxcb-randr0 \
         libglib2.0-0 qt6-wayland; do
  [[ $depends == *"$d"* ]] && ok "depends on $d" || bad "no dependency on $d: $depends"
done
grep -q '<project_license>MIT</project_license>' \
  "$root/share/metainfo/org.tavrimo.Tavrimo.metainfo.xml" && ok "metainfo names the licence" ||
  bad "metainfo licence"
# Errors, warnings, and the hardening tags (which lintian files as information).
# lintian's AppStream check is the validation above without the homepage allowed.
suppress=()
[[ ${#no_homepage[@]} -gt 0 ]] && suppress=(--suppress-tags appstream-metadata-validation-failed)
tags=$(lintian --info "${suppress[@]}" "$deb" 2>&1 | grep -E '^(E|W):|hardening-|binary-has-unneeded-section' || true)
[[ -z $tags ]] && ok "lintian reports no errors, warnings or hardening tags" || bad "lintian: $tags"
exit $fail
