#!/bin/bash
# Installs the service's package on this machine and takes it away again, as root (CI's container):
#
#   install-check.sh PACKAGE.deb
#
# lintian reports no error or warning; every file of the README's table of installed files is there after
# dpkg -i, nginx -t accepts the site, the installed unit rates at most 2.5 with systemd-analyze security;
# dpkg -r removes all but the nginx files (conffiles), dpkg -P those too.
set -euo pipefail

repo=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../.." && pwd)
deb=$1
fail() { echo "install-check: $*" >&2; exit 1; }

lintian --fail-on error,warning "$deb"

# The table's rows: | `PATH` | what it is |
mapfile -t files < <(sed -n '/^## Installing on a unit/,/^## /s/^| `\(\/[^`]*\)` |.*/\1/p' "$repo/README.md")
((${#files[@]} >= 5)) || fail "no table of installed files in README.md"
conffiles=(/etc/nginx/conf.d/webservice.conf /etc/nginx/webservice_params)

dpkg -i "$deb"
for file in "${files[@]}"; do
  [[ -e $file ]] || fail "$file is not installed"
done
[[ -s /usr/share/webservice/www/index.html ]] || fail "the console's page is missing"
nginx -t
unit=/lib/systemd/system/webservice.service
exposure=$(systemd-analyze security --offline=yes "$unit" | sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
echo "systemd-analyze security: $exposure"
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 2.5) }' || fail "exposure ${exposure:-unknown} above 2.5"

dpkg -r webservice
for file in "${files[@]}"; do
  [[ " ${conffiles[*]} " == *" $file "* || ! -e $file ]] || fail "$file is left after dpkg -r"
done
dpkg -P webservice
for file in "${files[@]}"; do
  [[ ! -e $file ]] || fail "$file is left after dpkg -P"
done
echo "install-check: $deb installs, serves through nginx's configuration and goes again"
