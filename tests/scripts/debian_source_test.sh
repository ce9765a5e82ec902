#!/usr/bin/env bash
# scripts/debian-source against stand-in apt commands: an archive that lists versions it cannot serve. The newest
# version that downloads is taken, a failed download leaves nothing behind, and when no version downloads the
# script fails naming each version and why.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree/scripts" "$work/bin"
cp "$repo/scripts/debian-source" "$work/tree/scripts/"

# The archive: "demo" is listed at 1.0-1, 1.0-1+deb12u2 (twice, as in two suites) and 1.0-1+deb12u1; the versions
# named in $FAIL give a 404 after leaving part of a download in the folder.
cat >"$work/bin/apt-cache" <<'SH'
#!/bin/sh
[ "$1" = showsrc ] || exit 1
for v in 1.0-1 1.0-1+deb12u2 1.0-1+deb12u1 1.0-1+deb12u2; do
    printf 'Package: %s\nVersion: %s\n\n' demo "$v"
done
printf 'Package: other\nVersion: 9.9\n\n'
SH
cat >"$work/bin/apt-get" <<'SH'
#!/bin/sh
[ "$1" = source ] || exit 0
for a; do case $a in demo=*) v=${a#demo=} ;; esac; done
echo "$v" >>"$LOG"
for f in $FAIL; do
    if [ "$f" = "$v" ]; then
        : >"demo_$v.dsc.partial"
        echo "E: Failed to fetch http://archive.invalid/demo_$v.dsc  404  Not Found [IP: 192.0.2.1 80]" >&2
        exit 100
    fi
done
mkdir "demo-$v" && echo "$v" >"demo-$v/VERSION"
SH
chmod +x "$work/bin/apt-cache" "$work/bin/apt-get"
export PATH=$work/bin:$PATH LOG=$work/tries
failures=0
check() { # what, condition...
    local what=$1
    shift
    if ! "$@"; then
        echo "debian_source_test: FAILED: $what" >&2
        failures=$((failures + 1))
    fi
}

# The newest two cannot be fetched: the third newest is taken, after trying them newest first, each once.
FAIL="1.0-1+deb12u2 1.0-1+deb12u1" "$work/tree/scripts/debian-source" demo:demo 2>"$work/err"
check "tries newest first, each once" test "$(tr '\n' ' ' <"$LOG")" = "1.0-1+deb12u2 1.0-1+deb12u1 1.0-1 "
check "takes the newest that downloads" test "$(cat "$work/tree/build-deps/src/demo/VERSION")" = 1.0-1
check "records the version" test "$(cat "$work/tree/build-deps/src/demo/.debian-version")" = 1.0-1
check "says which it took and why" grep -q 'demo 1.0-1 (.*1.0-1+deb12u2: download failed: 404' "$work/err"
check "leaves no failed download" test "$(ls -A "$work/tree/build-deps/src")" = demo

# A folder that is there is kept without asking the archive.
: >"$LOG"
FAIL="" "$work/tree/scripts/debian-source" demo:demo 2>/dev/null
check "keeps an unpacked folder" test ! -s "$LOG"

# Nothing downloads: the script fails, naming every version with its reason, and leaves nothing.
rm -rf "$work/tree/build-deps"
if FAIL="1.0-1+deb12u2 1.0-1+deb12u1 1.0-1" "$work/tree/scripts/debian-source" demo:demo 2>"$work/err"; then
    check "fails when no version downloads" false
fi
check "names every version tried" test "$(grep -c '^    1.0-1.*404  Not Found$' "$work/err")" = 3
check "leaves nothing after failing" test -z "$(ls -A "$work/tree/build-deps/src")"

[ $failures -eq 0 ] && echo "debian_source_test: passed"
exit $((failures > 0))
