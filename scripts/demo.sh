#!/usr/bin/env bash
# Sets everything up, then runs the demo and draws a function with its derivative.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
.venv/bin/python examples/demo.py "$@"
exec .venv/bin/python examples/plot.py
