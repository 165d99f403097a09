#!/bin/bash
# Fails when a file includes a folder above its own. The order of the
# folders is the KV_LAYERS line of the root CMakeLists.txt, lowest first:
# each folder may include itself and the folders before it. sim/ is a
# program of its own and includes only itself; tests/ and bench/ may include
# anything.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
layers=($(sed -n 's/^set(KV_LAYERS \(.*\))$/\1/p' "$root/CMakeLists.txt"))
if [ ${#layers[@]} -eq 0 ]; then
  echo "check-layers: no KV_LAYERS line in CMakeLists.txt"
  exit 2
fi
declare -A rank
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done

bad=0
for dir in "${layers[@]}" sim; do
  [ -d "$root/$dir" ] || continue
  while IFS= read -r hit; do
    file=${hit%%:*}; rest=${hit#*:}; line=${rest%%:*}; text=${rest#*:}
    target=$(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^/"]*\)\/.*/\1/p' <<<"$text")
    [ -n "$target" ] || continue
    if [ "$dir" = sim ] || [ "$target" = sim ]; then
      [ "$target" = "$dir" ] && continue
    elif [ -z "${rank[$target]+x}" ] || [ "${rank[$target]}" -le "${rank[$dir]}" ]; then
      continue
    fi
    echo "${file#$root/}:$line: $text"
    bad=$((bad + 1))
  done < <(grep -Hn '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$root/$dir"/*.cpp "$root/$dir"/*.h 2>/dev/null)
done
if [ $bad -gt 0 ]; then
  echo "check-layers: $bad include(s) against the order ${layers[*]}"
  exit 1
fi
echo "check-layers: ok (${layers[*]})"
