#!/usr/bin/env bash
# Runs a Win64 program under the 64-bit Wine for CTest (see wine-run.sh).
KAV_WINE_BITS=64 exec "$(dirname "$0")/wine-run.sh" "$@"
