#!/usr/bin/env bash
# Installs the Debian package built by `make package`, runs the packaged
# server on a data directory, talks to it with the packaged client, stops it
# with SIGTERM, and removes the package again. Needs root. Every wait has a
# deadline.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

deb=$(ls build-pkg/nelv3srv_*.deb)
dpkg -i "$deb"
trap 'dpkg -r nelv3srv >/dev/null 2>&1 || true' EXIT

if command -v systemd-analyze >/dev/null; then
    systemd-analyze verify /usr/lib/systemd/system/nelv3srv.service
fi

data=$(mktemp -d)
port=$((20000 + RANDOM % 20000))
webport=$((port + 1))
cp /usr/share/nelv3srv/NELV3SRV.INI "$data/"
printf '[General]\nPort=%s\nBindTo=127.0.0.1\n[Web]\nPort=%s\nBindTo=127.0.0.1\n' "$port" "$webport" \
    >> "$data/NELV3SRV.INI.head"
cat "$data/NELV3SRV.INI.head" "$data/NELV3SRV.INI" > "$data/ini" && mv "$data/ini" "$data/NELV3SRV.INI"
/usr/bin/nelv3srv "$data" > "$data/console" 2>&1 &
server=$!
for _ in $(seq 100); do
    grep -q '^Chatserver is running$' "$data/console" && break
    sleep 0.1
done
grep -q '^Chatserver is running$' "$data/console" || { cat "$data/console"; exit 1; }

# The packaged web client is served.
exec 3<>"/dev/tcp/127.0.0.1/$webport"
printf 'GET / HTTP/1.0\r\n\r\n' >&3
status=$(timeout 10 head -n 1 <&3)
exec 3>&-
[[ $status == $'HTTP/1.1 200 OK\r' ]] || { echo "web client: $status"; exit 1; }

out=$(printf '/nick Packaged\n' | timeout 10 /usr/bin/nelv3chat --port "$port")
echo "$out"
grep -q '^\* you are Packaged now$' <<< "$out"

kill -TERM "$server"
code=0
wait "$server" || code=$?
grep -q '^Shutting down$' "$data/console"
[[ $code -eq 0 ]] || { echo "the packaged server ended with $code"; exit 1; }
/usr/bin/nelv3udb --version
/usr/bin/nelv3load --version

dpkg -r nelv3srv
trap - EXIT
[[ ! -e /usr/bin/nelv3srv && ! -e /usr/lib/systemd/system/nelv3srv.service ]]
rm -rf "$data"
echo "package check: installed, served, stopped with code 0, removed"
