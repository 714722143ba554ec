#!/usr/bin/env bash
# Builds tagwell and runs the whole test suite; exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
./build.sh
ctest --test-dir build --output-on-failure
