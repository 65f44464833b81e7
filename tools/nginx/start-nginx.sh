#!/bin/bash
# Starts the HTTP front of the web service in the background and waits until it answers.
#
#   start-nginx.sh FOLDER [PORT]
#
# FOLDER (created when missing) takes the pid file, the logs and nginx's temporary files. PORT is the
# HTTP port (default 8080). Stop it with: kill "$(cat FOLDER/nginx.pid)"
set -euo pipefail

here=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")" && pwd)
folder=$1
port=${2:-8080}
mkdir -p "$folder/html"
folder=$(cd "$folder" && pwd)

# The port and the console's folder (the repository's www/) are the settings that differ from the unit's.
cp "$here/webservice.conf" "$here/webservice_params" "$folder/"
www=$(cd "$here/../../www" && pwd)
# The API document is generated into the build tree whose bin/ holds the service on PATH.
api=$(realpath -m "$(dirname "$(command -v webservice || echo "$here/../../build/bin/webservice")")/../api/openapi.json")
sed -e "s/listen 8080;/listen $port;/" -e "s|root /usr/share/webservice/www;|root $www;|" \
  -e "s|alias /usr/share/webservice/api/openapi.json;|alias $api;|" \
  "$here/webservice-site.conf" >"$folder/webservice-site.conf"
# The daemon keeps no descriptor of the caller, so a caller that reads our output sees its end.
nginx -e stderr -p "$folder" -c "$folder/webservice.conf" </dev/null >>"$folder/nginx.out" 2>&1

for _ in $(seq 100); do
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then exit 0; fi
  sleep 0.05
done
echo "start-nginx.sh: nothing listens on port $port after 5 s; see $folder/error.log" >&2
exit 1
