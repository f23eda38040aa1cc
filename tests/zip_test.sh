#!/usr/bin/env bash
# The Windows zip holds the executable and its readme, nothing else.
#   zip_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd "$build" && cpack -B "$scratch" >/dev/null)
zip=$scratch/tavrimo-$version-win64.zip
listing=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
echo "zip: $listing"
[[ $listing == "readme.txt tavrimo.exe " ]]
unzip -p "$zip" readme.txt | head -1 | grep -q "^Tavrimo $version for Windows"
