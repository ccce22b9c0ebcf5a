#!/usr/bin/env bash
# Builds a Release binary and the Debian package from this tree, checks the
# package with lintian, and prints the .deb's path as the last line.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
tools=(debhelper dpkg-dev lintian help2man)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

version=$(dpkg-parsechangelog -S Version)
out=$PWD/build-package
tree=$out/dustmaw-$version
rm -rf "$out"
mkdir -p "$tree"
# The package is built from a copy, so the checkout gains no build files;
# what git ignores (other build folders) stays out of it.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - | tar -xf - -C "$tree"
else
  tar --exclude='./build*' -cf - . | tar -xf - -C "$tree"
fi
echo "Building dustmaw $version (log: $out/build.log)"
if ! (cd "$tree" && DEB_BUILD_OPTIONS="parallel=$(nproc)" dpkg-buildpackage -b -us -uc) >"$out/build.log" 2>&1; then
  tail -n 40 "$out/build.log"
  exit 1
fi
deb=$out/dustmaw_${version}_$(dpkg --print-architecture).deb
echo "lintian:"
lintian --fail-on error --display-info "$deb" | sed 's/^/  /'
echo "$deb"
