#!/usr/bin/env bash
# Fails when a C++ source differs from what clang-format makes of it.
# To reformat everything: bash tools/check_format.sh --fix
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(find src include tests bench examples tools -name '*.[ch]pp' | sort)
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
if ! clang-format --dry-run --Werror "${files[@]}"; then
  echo "Sources are not formatted; run: bash tools/check_format.sh --fix" >&2
  exit 1
fi
