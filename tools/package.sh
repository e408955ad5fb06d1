#!/usr/bin/env bash
# Builds the Debian package build-package/corvalen_<version>_<arch>.deb from a Release build
# (without tests or benchmarks), then checks what it holds: only the files the program installs,
# one version everywhere, and Debian's policy as lintian reads it.
#   tools/package.sh
#   sudo apt-get install ./build-package/corvalen_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh --package

build=build-package
umask 022 # the package's folders and files get the usual modes whatever the caller's umask
# The manual page and the changelog are dated by the last commit, so that the same commit gives
# the same package.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && git rev-parse --verify -q HEAD >/dev/null 2>&1; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
    export SOURCE_DATE_EPOCH
fi
# Debian's hardening flags (stack protector, fortified calls, relocations read-only and bound at
# start), without its -g -O2: the Release build's optimisation stays, and no debug symbols are kept.
flags() {
    DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CFLAGS_MAINT_STRIP="-g -O2" DEB_CXXFLAGS_MAINT_STRIP="-g -O2" \
        dpkg-buildflags --get "$1"
}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DCORVALEN_BUILD_TESTS=OFF -DCORVALEN_BUILD_BENCH=OFF \
    -DCMAKE_C_FLAGS="$(flags CFLAGS) $(flags CPPFLAGS)" -DCMAKE_CXX_FLAGS="$(flags CXXFLAGS) $(flags CPPFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)"
cmake --build "$build"
rm -f "$build"/corvalen_*.deb
(cd "$build" && cpack -G DEB)

debs=("$build"/corvalen_*.deb)
deb=${debs[0]}
[ ${#debs[@]} -eq 1 ] && [ -f "$deb" ] || { echo "package.sh: cpack made no single corvalen_*.deb" >&2; exit 1; }

fail() { echo "package.sh: $deb: $*" >&2; exit 1; }

# Only what the program installs: its private folder, the link on the PATH, the menu entry, the
# icon, the manual page and the package's documents. Anything else (a test, a benchmark, a
# library or header) is a build artefact that slipped in.
allowed='^\./usr/(bin/corvalen|lib/([^/]+/)?corvalen/.+|share/applications/corvalen\.desktop|share/icons/hicolor/[^/]+/apps/corvalen\.(svg|png)|share/man/man1/corvalen\.1\.gz|share/doc/corvalen/(copyright|changelog\.gz))$'
contents=$(dpkg-deb -c "$deb")
# The names of what is not a folder: the listing's sixth field onwards (names may hold spaces).
files=$(grep -v '^d' <<< "$contents" | sed -E 's/^([^ ]+ +){5}//; s/ -> .*//')
stray=$(grep -Ev "$allowed" <<< "$files" || true)
[ -z "$stray" ] || fail "holds files that are not the program's: $stray"
grep -q ' \./usr/bin/corvalen -> ' <<< "$contents" || fail "/usr/bin/corvalen is not a link"

# One version: the project's, as the program, the package and the manual page give it.
program_version=$("$build"/bin/corvalen --version | sed -n 's/^Corvalen //p')
package_version=$(dpkg-deb -f "$deb" Version)
page_version=$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/man/man1/corvalen.1.gz | gzip -dc \
    | sed -n 's/^\.TH .*"Corvalen \([^"]*\)".*/\1/p')
[ "$program_version" = "$package_version" ] && [ "$page_version" = "$package_version" ] \
    || fail "versions differ: program $program_version, package $package_version, manual page $page_version"

dpkg-deb -f "$deb" Package Version Architecture Depends Recommends
echo "Files:"
sed 's/^/  /' <<< "$files"
# Errors fail the build; warnings and notes are shown for whoever changes the packaging.
lintian --fail-on error "$deb"
echo "Built $deb"
