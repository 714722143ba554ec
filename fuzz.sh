#!/usr/bin/env bash
# Fuzzes the frame walker for the seconds given (default 30) with libFuzzer
# under the address and undefined-behaviour sanitizers; the corpus grows in
# build/fuzz-corpus.
set -euo pipefail
cd "$(dirname "$0")"
mkdir -p build/fuzz-corpus
clang++ -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined \
  -fno-sanitize-recover=all -I. tagedit/frame_list_fuzz_test.cpp \
  tagedit/frame_list.cpp -lz -o build/frame_list_fuzz
build/frame_list_fuzz -max_total_time="${1:-30}" -max_len=4096 \
  -print_final_stats=1 build/fuzz-corpus
