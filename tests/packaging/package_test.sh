#!/usr/bin/env bash
# cpack builds the two Debian packages; each is unpacked with dpkg -x into a
# scratch root and read with dpkg-deb --info: the files, the version the tool
# prints, and dependencies that name only libc and libstdc++ and cover every
# library the binaries load.
set -uo pipefail
build=$1
cli=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/quarlen-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
version=$("$cli" --version | sed -n 's/^quarlencli //p')
[[ -n $version ]] || fail "no version from $cli --version"

field() { dpkg-deb --field "$1" "$2"; }
check_package() { # name, files...
    local name=$1
    shift
    local deb
    deb=$(ls "$work/out/${name}_"*.deb 2>/dev/null | head -n 1)
    [[ -n $deb ]] || { fail "no $name package in $(ls "$work/out")"; return; }
    dpkg-deb --info "$deb" >"$work/$name.info" || fail "dpkg-deb --info $deb"
    [[ $(field "$deb" Package) == "$name" ]] || fail "$name: Package $(field "$deb" Package)"
    [[ $(field "$deb" Version) == "$version" ]] || fail "$name: Version $(field "$deb" Version), tool says $version"
    [[ $(field "$deb" Depends) == "libc6 (>= 2.34), libstdc++6 (>= 12)" ]] ||
        fail "$name: Depends $(field "$deb" Depends)"
    mkdir -p "$work/$name"
    dpkg -x "$deb" "$work/$name" || fail "dpkg -x $deb"
    for file in "$@"; do
        [[ -f $work/$name/$file ]] || fail "$name: missing $file"
    done
    # libgcc_s and libm come with libstdc++6; the loader and libc with libc6.
    local needed
    needed=$(find "$work/$name" -type f \( -perm -u+x -o -name '*.so' \) -exec readelf -d {} + 2>/dev/null |
        sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u)
    for library in $needed; do
        case $library in
            libc.so.6 | libm.so.6 | ld-linux-*.so.* | libstdc++.so.6 | libgcc_s.so.1) ;;
            *) fail "$name: loads $library, which its dependencies do not provide" ;;
        esac
    done
}

check_package quarlencli usr/sbin/quarlencli usr/share/man/man8/quarlencli.8 \
    usr/share/bash-completion/completions/quarlencli
check_package quarlen-emu usr/bin/quarlen-emu usr/lib/quarlen-emu/libquarlen-emu.so \
    usr/share/man/man1/quarlen-emu.1 usr/share/quarlen-emu/default-scsi.json
# The tool's package holds the tool alone.
if [[ -d $work/quarlencli ]]; then
    extra=$(cd "$work/quarlencli" && find . -type f | grep -v -e '^./usr/sbin/quarlencli$' \
        -e '^./usr/share/man/man8/quarlencli.8' -e '^./usr/share/bash-completion/completions/quarlencli$')
    [[ -z $extra ]] || fail "quarlencli package holds more: $extra"
fi

[[ $failures -eq 0 ]] && echo "packages: all checks pass"
exit $((failures != 0))
