#!/usr/bin/env bash
# The layers of docs/architecture.md, as the includes show them: a file
# includes only from its own folder and the folders below it.
#   platform < common < upslink < agent;  updater: platform only
# tools/, bench/, fuzz/ and tests/ may include anything. Each include from a
# higher folder is named with its file and line; exit status 1 then.
#   scripts/check_layers.sh [TREE]      (TREE: the tree to check, this one by default)
set -uo pipefail
top=${1:-$(cd "$(dirname "$0")/.." && pwd)}
status=0

# What each layer's files may include besides their own folder.
declare -A below=(
  [platform]=""
  [common]="platform"
  [upslink]="platform common"
  [agent]="platform common upslink"
  [updater]="platform"
)
quoted='"([^/"]+)/'
for layer in platform common upslink agent updater; do
  [ -d "$top/$layer" ] || continue
  allowed=" $layer ${below[$layer]} "
  while IFS= read -r hit; do
    file=${hit%%:*}
    rest=${hit#*:}
    line=${rest%%:*}
    text=${rest#*:}
    [[ $text =~ $quoted ]] || continue
    folder=${BASH_REMATCH[1]}
    # Only the tree's own folders count ("qln_version.h" and the like are
    # generated into the build).
    [ -d "$top/$folder" ] || continue
    case "$allowed" in *" $folder "*) continue ;; esac
    echo "$file:$line: $layer/ may not include from $folder/: ${text#"${text%%[![:space:]]*}"}" >&2
    status=1
  done < <(cd "$top" && grep -rnE --include='*.h' --include='*.hpp' --include='*.c' \
             --include='*.cpp' --include='*.in' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$layer")
done
[ $status -eq 0 ] || echo "check_layers: includes against the layers (see docs/architecture.md)" >&2
exit $status
