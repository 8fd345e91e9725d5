#!/usr/bin/env bash
# Fails when a layer includes a header of a layer above it (or of a layer
# beside it). The layers, lowest first; folders on one line sit side by side.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

layers=(
    "base protocol"
    "net userdb"
    "chat"
    "commands"
    "server"
)

rank_of() {
    local i
    for i in "${!layers[@]}"; do
        for folder in ${layers[$i]}; do
            if [[ "$folder" == "$1" ]]; then echo "$i"; return; fi
        done
    done
    echo ""
}

status=0
for i in "${!layers[@]}"; do
    for folder in ${layers[$i]}; do
        while IFS=: read -r file line include; do
            target=${include#*\"}
            target=${target%%/*}
            rank=$(rank_of "$target")
            [[ -z "$rank" ]] && continue
            if (( rank > i )) || { (( rank == i )) && [[ "$target" != "$folder" ]]; }; then
                echo "$file:$line: $folder/ must not include $target/ ($include)"
                status=1
            fi
        done < <(grep -n '^#include "' "$folder"/*.h "$folder"/*.cpp | sed 's/:\(#include\)/:\1/')
    done
done
# The programs on top: main.cpp reaches the server through server/ only; the tools speak the
# protocol and may read the user database, but know nothing of the server.
while IFS=: read -r file line include; do
    target=${include#*\"}
    target=${target%%/*}
    case "$target" in
        base|protocol|userdb|tools) ;;
        *) echo "$file:$line: tools/ must not include $target/ ($include)"; status=1 ;;
    esac
done < <(grep -rn '^#include "' tools --include='*.h' --include='*.cpp')
if grep -n '^#include "' main.cpp | grep -qv '"\(base\|protocol\|server\|tools\)/'; then
    echo "main.cpp: includes beyond base/, protocol/, server/ and tools/"
    status=1
fi
if (( status == 0 )); then echo "layers: every include points down"; fi
exit $status
