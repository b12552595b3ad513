#!/usr/bin/env bash
# scripts/install-deps against a fake dpkg-query, apt-get and id on PATH:
# nothing is installed when all is present, exactly the missing packages
# otherwise, and a clear refusal when not root.
set -uo pipefail
script=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/quarlen-deps-XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

mkdir "$work/bin"
# dpkg-query -W -f=... PACKAGE: "installed" for the packages in $work/installed.
cat >"$work/bin/dpkg-query" <<'FAKE'
#!/usr/bin/env bash
package=${!#}
if grep -qx -- "$package" "$FAKE_DIR/installed"; then printf installed; exit 0; fi
echo "dpkg-query: no packages found matching $package" >&2
exit 1
FAKE
cat >"$work/bin/apt-get" <<'FAKE'
#!/usr/bin/env bash
echo "$* frontend=${DEBIAN_FRONTEND:-}" >>"$FAKE_DIR/apt-log"
FAKE
cat >"$work/bin/id" <<'FAKE'
#!/usr/bin/env bash
echo "$FAKE_UID"
FAKE
chmod +x "$work/bin/"*
export FAKE_DIR=$work PATH="$work/bin:$PATH"

all=$("$script" --list)
[[ $(wc -l <<<"$all") -ge 10 ]] || fail "--list: $all"
for package in cmake make g++ clang libgtest-dev nlohmann-json3-dev libcli11-dev sg3-utils \
    libbenchmark-dev groff-base; do
    grep -qx -- "$package" <<<"$all" || fail "$package is not in the list"
done

run() { # uid, installed packages (lines) -> status, $out, $err, $work/apt-log
    rm -f "$work/apt-log"
    touch "$work/apt-log"
    printf '%s\n' "$2" >"$work/installed"
    FAKE_UID=$1 "$script" >"$work/out" 2>"$work/err" </dev/null
}

run 0 "$all"
status=$?
[[ $status -eq 0 ]] || fail "all present: status $status"
[[ ! -s $work/apt-log ]] || fail "all present: apt-get ran: $(cat "$work/apt-log")"

run 0 "$(grep -vx -e sg3-utils -e libcli11-dev <<<"$all")"
status=$?
[[ $status -eq 0 ]] || fail "two missing: status $status"
expected="update frontend=noninteractive
install -y --no-install-recommends libcli11-dev sg3-utils frontend=noninteractive"
[[ $(cat "$work/apt-log") == "$expected" ]] || fail "two missing: apt-get got: $(cat "$work/apt-log")"

run 1000 "$(grep -vx cmake <<<"$all")"
status=$?
[[ $status -ne 0 ]] || fail "not root: status 0"
[[ ! -s $work/apt-log ]] || fail "not root: apt-get ran"
grep -q 'missing Debian packages: cmake' "$work/err" || fail "not root: message: $(cat "$work/err")"

run 1000 "$all"
status=$?
[[ $status -eq 0 ]] || fail "not root, all present: status $status"

[[ $failures -eq 0 ]] && echo "install-deps: all cases pass"
exit $((failures != 0))
