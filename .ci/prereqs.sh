#!/usr/bin/env bash
# Installs whatever Debian package of .ci/packages.txt this machine lacks.
# `make demo`, `make test` and CI run it first, so that a fresh clone on a
# bare machine builds with no other command typed.
#
# As root it calls apt-get directly; otherwise through sudo when sudo exists;
# otherwise it stops and prints the one command that installs the packages.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
while read -r pkg; do
    pkg=${pkg%%#*}
    pkg=${pkg//[[:space:]]/}
    [ -z "$pkg" ] && continue
    # A package counts as present only when dpkg says it is installed; a
    # package that was removed keeps a "deinstall" record that dpkg -s shows.
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    case $status in
        *" installed") ;;
        *) missing+=("$pkg") ;;
    esac
done < .ci/packages.txt

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" = 0 ]; then
    run=()
elif command -v sudo > /dev/null 2>&1; then
    run=(sudo)
else
    echo "Missing prerequisites: ${missing[*]}" >&2
    echo "Install them as root with:" >&2
    echo "    apt-get update && apt-get install -y ${missing[*]}" >&2
    exit 1
fi

echo "Installing missing prerequisites: ${missing[*]}"
"${run[@]}" apt-get update -qq
"${run[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
