#!/usr/bin/env bash
# Fails when a tracked C++ source differs from what .clang-format makes of it.
# Usage: tools/check-format.sh [clang-format program]
set -euo pipefail
cd "$(dirname "$0")/.."
format=${1:-clang-format}
command -v "$format" >/dev/null || { echo "No $format: install clang-format (tools/deps.sh does)" >&2; exit 1; }
git ls-files -z -- '*.cpp' '*.h' | xargs -0 "$format" --dry-run --Werror
