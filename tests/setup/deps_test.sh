#!/usr/bin/env bash
# .ci/deps asks the package query about every package of a group and names exactly the missing
# ones in the install command it prints. The query is a stand-in: everything is installed but
# the packages in FAKE_MISSING.
set -euo pipefail
deps=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/query" <<'STUB'
#!/usr/bin/env bash
package=${!#}
case " $FAKE_MISSING " in
  *" $package "*) echo "dpkg-query: no packages found matching $package" >&2; exit 1 ;;
esac
printf 'install ok installed'
STUB
chmod +x "$work/query"
export DPKG_QUERY="$work/query"

FAKE_MISSING="" "$deps" --check build >"$work/out" 2>&1 || {
  echo "all installed, yet:"; cat "$work/out"; exit 1
}
[ ! -s "$work/out" ] || { echo "all installed, yet it says:"; cat "$work/out"; exit 1; }

status=0
FAKE_MISSING="qt6-base-dev clang" "$deps" --check build ci >"$work/out" 2>&1 || status=$?
cat "$work/out"
[ "$status" = 1 ] || { echo "exit status $status, expected 1"; exit 1; }
grep -qx '  apt-get update && apt-get install -y --no-install-recommends qt6-base-dev clang' \
  "$work/out" || { echo "no install command naming exactly the missing packages"; exit 1; }
