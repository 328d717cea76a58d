#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the installed programs there.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
prefix=$(mktemp -d "${TMPDIR:-/tmp}/latent-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "install test: $*" >&2; exit 1; }
for program in travik ploven; do
    [ -x "$prefix/bin/$program" ] || fail "no $program in $prefix/bin"
    grep -q "^\.TH ${program^^} " "$prefix/share/man/man1/$program.1" || fail "no manual page $program(1)"
    "$prefix/bin/$program" --version | grep -q "^$program [0-9]" || fail "$program --version"
done
[ -f "$prefix/share/man/man1/oruk.1" ] || fail "no manual page oruk(1)"
[ -f "$prefix/share/doc/latent/README.md" ] && [ -f "$prefix/share/doc/latent/travik.md" ] ||
    fail "no documentation in share/doc/latent"
if [ -x "$build/bin/oruk" ]; then
    # The front end finds the estimators beside itself.
    [ -x "$prefix/bin/oruk" ] && [ -f "$prefix/bin/OrukReadMe.txt" ] || fail "no oruk beside the estimators"
fi

# The installed travik on a bundled example, from another folder, outputs elsewhere.
work="$prefix/work"
mkdir -p "$work"
(cd "$work" && "$prefix/bin/travik" "$prefix/share/doc/latent/examples/travik/binary.inp" -o results >/dev/null) ||
    fail "the installed travik did not run the example (status $?)"
grep -q "ITERATIONS FINISHED" "$work/results/LI7.OUT" || fail "no report from the installed travik"
echo "install test: ok"
