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
doc="$prefix/share/doc/latent"
[ -f "$doc/README.md" ] && [ -f "$doc/docs/travik.md" ] || fail "no documentation in share/doc/latent"

# Every relative link of the installed guides (to a page or a picture) leads to an installed file.
while IFS= read -r page; do
    for target in $(grep -o '](\([^)#:]*\)' "$page" | sed 's/^](//; s/)$//'); do
        [ -e "$(dirname "$page")/$target" ] || fail "$page links to $target, which is not installed"
    done
done < <(find "$doc" -name '*.md')

# The manual page of oruk names the guides where they are installed (the prefix of the build).
configured_doc=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")/share/doc/latent
grep -q "$configured_doc/docs/oruk.md" "$prefix/share/man/man1/oruk.1" ||
    fail "oruk(1) does not name $configured_doc/docs/oruk.md"
if [ -x "$build/bin/oruk" ]; then
    # The front end finds the estimators beside itself; its read-me is with the guides.
    [ -x "$prefix/bin/oruk" ] || fail "no oruk beside the estimators"
    [ -f "$doc/OrukReadMe.txt" ] && [ ! -e "$prefix/bin/OrukReadMe.txt" ] ||
        fail "OrukReadMe.txt is not in share/doc/latent alone"
    # --help and --version answer without a display.
    env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$prefix/bin/oruk" --version |
        grep -q "^oruk [0-9]" || fail "oruk --version"
    env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$prefix/bin/oruk" --help |
        grep -q "^Usage: oruk" || fail "oruk --help"
fi

# The installed travik on a bundled example, from another folder, outputs elsewhere.
work="$prefix/work"
mkdir -p "$work"
(cd "$work" && "$prefix/bin/travik" "$doc/examples/travik/binary.inp" -o results >/dev/null) ||
    fail "the installed travik did not run the example (status $?)"
grep -q "ITERATIONS FINISHED" "$work/results/LI7.OUT" || fail "no report from the installed travik"
echo "install test: ok"
