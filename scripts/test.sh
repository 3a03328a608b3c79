#!/usr/bin/env bash
# Builds and runs every test: a plain build, then a build under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the fuzz targets (clang, linked against the library built
# with the fuzzer's instrumentation) replaying their corpus. Warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSALY_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTESSALY_SANITIZE=ON -DTESSALY_BENCH=OFF -DTESSALY_WERROR=ON >/dev/null
cmake --build build-asan -j"$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp":print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j"$jobs")

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DTESSALY_FUZZ=ON -DTESSALY_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$jobs" --target ftp_reply_fuzz catalogue_fuzz result_store_fuzz metafile_fuzz picture_fuzz
(cd build-fuzz && ctest --output-on-failure -R '^fuzz[.]')
