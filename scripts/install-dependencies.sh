#!/usr/bin/env bash
# Installs the Debian 12 packages the evaluator needs to build, run, test and benchmark.
# Packages that are already there are left alone; apt-get runs only when something is missing.
set -euo pipefail

# libqt6svg6 draws the program's SVG icon; desktop-file-utils and appstream check the
# desktop entry and the metadata.
packages=(g++ cmake pkg-config make qt6-base-dev libqt6svg6 libpcre3-dev libgtest-dev pcregrep
          desktop-file-utils appstream)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
