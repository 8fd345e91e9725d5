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
if (( status == 0 )); then echo "layers: every include points down"; fi
exit $status
