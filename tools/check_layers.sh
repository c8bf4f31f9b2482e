#!/usr/bin/env bash
# Lists every #include from one src/ folder into another and fails on an edge
# the layering does not allow.
#
# The folders are layers, lowest first: a folder may include from any folder
# before it in `layers`. An include the other way (a back-edge) must be listed
# in `allowed_back_edges` with the one-line reason the public API forces it;
# any other back-edge is a design question, not a quick include.
#
# Usage: bash tools/check_layers.sh [--list]   (--list prints every edge)
set -euo pipefail
cd "$(dirname "$0")/.."

layers=(foundation arith context keys client eval boot conversion lwe)

# from -> to | reason
allowed_back_edges=(
  "foundation -> context | the samplers fill Polynomials and LevelledElements of a context"
  "foundation -> lwe | the samplers fill LWE vectors of an LWE context"
  "arith -> context | chain operations of PrimeModuli and FastBaseConv take Polynomials, which hold their context"
  "context -> keys | messages, plaintexts, ciphertexts and context files save through the serialisation layer"
  "context -> boot | a context derives the rotation steps of its bootstrapping from the radix decomposition"
  "context -> lwe | levelled constants and scale factors are also made for an LWE context"
  "client -> boot | the key generator makes the rotation key sets of bootstrapping from its parameters"
  "client -> lwe | the constant encoder also encodes for an LWE context"
  "boot -> conversion | the bootstrap roads switch ciphertexts between contexts (modulus switcher), embed into the ring of twice the degree and move to and from the conjugate-invariant ring"
  "conversion -> lwe | the ring packer unpacks into and packs from LWE ciphertexts"
)

rank() { # folder -> index in layers, or nothing
  local i
  for i in "${!layers[@]}"; do
    [ "${layers[$i]}" = "$1" ] && echo "$i" && return
  done
}

allowed() { # from to
  local entry
  for entry in "${allowed_back_edges[@]}"; do
    [ "${entry%% |*}" = "$1 -> $2" ] && return 0
  done
  return 1
}

pattern="^#include \"($(IFS='|'; echo "${layers[*]}"))/"
failed=0
declare -A seen=()
while IFS= read -r match; do
  file=${match%%:*}
  line=${match#*:}
  from=$(cut -d/ -f2 <<<"$file")
  to=$(sed -E 's/^#include "([a-z]+)\/.*/\1/' <<<"$line")
  [ "$from" = "$to" ] && continue
  from_rank=$(rank "$from")
  if [ -z "$from_rank" ]; then
    echo "layer check: src/$from is not a known layer ($file)" >&2
    failed=1
    continue
  fi
  edge="$from -> $to"
  seen[$edge]=$(( ${seen[$edge]:-0} + 1 ))
  if [ "$(rank "$to")" -gt "$from_rank" ] && ! allowed "$from" "$to"; then
    echo "layer check: $file includes $to/ ($edge is not an allowed edge)" >&2
    failed=1
  fi
done < <(grep -rEo "$pattern" src --include='*.hpp' --include='*.cpp' | sort)

if [ "${1:-}" = "--list" ]; then
  for edge in "${!seen[@]}"; do
    echo "$edge (${seen[$edge]} includes)"
  done | sort
fi
if [ "$failed" -ne 0 ]; then
  echo "Either include from a lower layer or add the edge with its reason to tools/check_layers.sh." >&2
  exit 1
fi
