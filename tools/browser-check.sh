#!/usr/bin/env bash
# Runs the web client's tests against build/nelv3srv: the codec tests under
# `node --test`, then the browser test with two pages and the terminal client.
# The server runs from a fresh data directory on free loopback ports and is
# stopped with SIGTERM at the end; it has to end with code 0. Every step has
# a deadline. Needs node, the node modules (npm ci) and /usr/bin/chromium;
# installs nothing.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo=$PWD

for binary in build/nelv3srv build/nelv3chat; do
    [[ -x $binary ]] || { echo "browser check: $binary is missing; build first" >&2; exit 1; }
done

data=$(mktemp -d)
server=
stop_server() {
    if [[ -n $server ]] && kill -0 "$server" 2>/dev/null; then
        kill -TERM "$server" 2>/dev/null || true
        timeout 10 tail --pid="$server" -s 0.1 -f /dev/null || kill -KILL "$server" 2>/dev/null || true
    fi
}
trap 'stop_server; rm -rf "$data"' EXIT

# Two ports the kernel has just handed out; should another program take one
# in the meantime, the server says so (error 98) and we try again.
free_ports='
    const net = require("node:net");
    const take = () => new Promise((done) => { const s = net.createServer().listen(0, "127.0.0.1", () => done(s)); });
    Promise.all([take(), take()]).then((all) => {
        console.log(all.map((s) => s.address().port).join(" "));
        all.forEach((s) => s.close());
    });'

for attempt in 1 2 3; do
    read -r port webport < <(timeout 10 node -e "$free_ports")
    cp dist/NELV3SRV.INI "$data/NELV3SRV.INI.sample"
    printf '[General]\nPort=%s\nBindTo=127.0.0.1\n[Web]\nPort=%s\nBindTo=127.0.0.1\nWeb root=%s\n' \
        "$port" "$webport" "$repo/web" | cat - "$data/NELV3SRV.INI.sample" > "$data/NELV3SRV.INI"
    rm -f "$data/NELV3SRV.INI.sample"
    build/nelv3srv "$data" > "$data/console" 2>&1 &
    server=$!
    for _ in $(seq 100); do
        grep -q '^Chatserver is running$' "$data/console" && break
        kill -0 "$server" 2>/dev/null || break
        sleep 0.1
    done
    grep -q '^Chatserver is running$' "$data/console" && break
    stop_server
    server=
    if ! grep -q 'Errorcode: 98' "$data/console" || ((attempt == 3)); then
        echo "browser check: the server did not start" >&2
        cat "$data/console" >&2
        exit 1
    fi
done
echo "browser check: server on chat port $port, web port $webport"

status=0
timeout 60 node --test tests/web/ || status=1
NELV_WEB_URL="http://127.0.0.1:$webport/" NELV_CHAT_PORT=$port \
    timeout 120 node tests/web/chat.browser.mjs || status=1

kill -TERM "$server"
code=0
timeout 15 tail --pid="$server" -s 0.1 -f /dev/null || { echo "browser check: the server did not stop" >&2; kill -KILL "$server"; }
wait "$server" || code=$?
server=
if ((code != 0)); then
    echo "browser check: the server ended with code $code" >&2
    cat "$data/console" >&2
    status=1
fi
((status == 0)) && echo "browser check: passed; the server stopped with code 0"
exit "$status"
