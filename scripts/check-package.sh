#!/usr/bin/env bash
# The Debian package as a user meets it: builds it, installs it with apt-get, builds another
# project against the installed library, reads the manual pages, runs the demonstration with
# the installed synchost, and purges the package again, also when a step fails.
set -euo pipefail
cd "$(dirname "$0")/.."

if dpkg-query -W -f='${Status}' tessarn 2>/dev/null | grep -q 'install ok installed'; then
    echo "tessarn is installed already: this check would not leave the machine as it found it" >&2
    exit 1
fi
deb=$(scripts/package.sh | tail -1)
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

purge() {
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y tessarn >/dev/null
    if dpkg-query -W tessarn >/dev/null 2>&1 || [ -e /etc/xdg/tessarn ]; then
        echo "the purge left tessarn behind" >&2
        exit 1
    fi
    echo "Purged: nothing of tessarn is left."
}
trap purge EXIT

"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$deb"
dpkg-deb --info "$deb" | grep -E '^ (Package|Version|Depends):'
dpkg -c "$deb"

tests/consumer/check.sh
for page in tessarnfuse tessarn tessarn_stat synchost; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { printf 'man %s:\n%s\n' "$page" "$warnings" >&2; exit 1; }
    echo "man $page: $(man -w "$page")"
done
tessarn -V && tessarn_stat -V && synchost -V
scripts/demo.sh --installed
