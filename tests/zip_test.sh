#!/usr/bin/env bash
# The Windows zip holds the executable and its readme, nothing else.
#   zip_test.sh BUILD_DIR
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd "$build" && cpack -B "$scratch" >/dev/null)
listing=$(unzip -Z1 "$scratch"/tavrimo-*-win64.zip | sort | tr '\n' ' ')
echo "zip: $listing"
[[ $listing == "readme.txt tavrimo.exe " ]]
