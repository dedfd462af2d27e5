#!/usr/bin/env bash
# Checks what `cmake --install` puts in place, under a prefix and under DESTDIR, so that a broken
# install rule fails the suite. usage: install_check.sh <build folder> <project version>
set -euo pipefail
build=$1
version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

expect_tree() {
    local root=$1
    local listing
    listing=$(cd "$root" && find . -type f | sort)
    local expected=$'./bin/pelorus\n./share/man/man1/pelorus.1'
    if [ "$listing" != "$expected" ]; then
        printf 'installed under %s:\n%s\nexpected:\n%s\n' "$root" "$listing" "$expected"
        exit 1
    fi
    [ -x "$root/bin/pelorus" ] || { echo "$root/bin/pelorus is not executable"; exit 1; }
    local status=0
    "$root/bin/pelorus" -x > "$scratch/usage" || status=$?
    [ "$status" -eq 1 ] || { echo "installed pelorus -x exited with $status, not 1"; exit 1; }
    grep -q "pelorus v$version" "$scratch/usage" || { echo "installed pelorus is not version $version"; exit 1; }
    grep -q "^\.TH PELORUS 1 .* \"pelorus $version\"" "$root/share/man/man1/pelorus.1" ||
        { echo "the man page does not carry version $version"; exit 1; }
}

cmake --install "$build" --prefix "$scratch/prefix" > /dev/null
expect_tree "$scratch/prefix"

DESTDIR="$scratch/staged" cmake --install "$build" --prefix /opt/pelorus > /dev/null
expect_tree "$scratch/staged/opt/pelorus"

echo "install tree complete under a prefix and under DESTDIR"
