#!/usr/bin/env bash
# Fuzzes the readers: scripts/fuzz.sh [--runs N] [--jobs J] [--timeout S] [SECONDS_PER_READER] [FORMAT...]
#
# Builds the libFuzzer target (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs it on each reader in
# turn (every reader by default, or the named ones: see
# "build-fuzz/tests/fuzz/chromaduct-fuzz-replay --list-readers") for
# SECONDS_PER_READER seconds (default 60), or for N runs each with --runs
# (with both, whichever comes first).
# --jobs J fuzzes J readers at a time (default 1). Each input must end
# within 2 s (--timeout S: on a machine busy with other work, a run starved
# of the processor can take longer without being slow) and 1 GiB; inputs are at most 64 KiB. The corpus grows in
# fuzz-work/ (git-ignored) from run to run, starting from seeds written by
# code and the shared corpus when it is beside the repository.
#
# Prints per reader the runs done and any finding with the command that
# reproduces it; exits 1 when there was a finding.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: scripts/fuzz.sh [--runs N] [--jobs J] [--timeout S] [SECONDS_PER_READER] [FORMAT...]" >&2
  exit 64
}
runs=
jobs=1
timeout=2
while [ "$#" -gt 0 ]; do
  case "$1" in
    --runs) [[ "${2:-}" =~ ^[1-9][0-9]*$ ]] || usage; runs=$2; shift 2 ;;
    --jobs) [[ "${2:-}" =~ ^[1-9][0-9]*$ ]] || usage; jobs=$2; shift 2 ;;
    --timeout) [[ "${2:-}" =~ ^[1-9][0-9]*$ ]] || usage; timeout=$2; shift 2 ;;
    *) break ;;
  esac
done
seconds=60
seconds_given=
if [ "$#" -gt 0 ] && [[ "$1" =~ ^[0-9]+$ ]]; then
  [[ "$1" =~ ^[1-9][0-9]*$ ]] || usage
  seconds=$1
  seconds_given=1
  shift
fi

bash scripts/install-deps.sh
# clang with libFuzzer and the sanitizer runtimes, llvm-symbolizer for the reports.
missing=()
for p in clang libclang-rt-14-dev llvm; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ "${#missing[@]}" -gt 0 ]; then
  SUDO=$([ "$(id -u)" -eq 0 ] || echo sudo)
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

echo "== Building the fuzz target"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCHROMADUCT_FUZZ=ON -DCHROMADUCT_TESTS=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target chromaduct-fuzz chromaduct-fuzz-replay
fuzzer=$PWD/build-fuzz/tests/fuzz/chromaduct-fuzz
replay=$PWD/build-fuzz/tests/fuzz/chromaduct-fuzz-replay

# A small quarantine: freed tables are reused sooner, so fewer fresh pages fault in.
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:quarantine_size_mb=16
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

work=$PWD/fuzz-work
rm -rf "$work/seeds"
mkdir -p "$work/seeds" "$work/corpus" "$work/findings" "$work/logs"
shared=$(cd .. && pwd)/shared/corpus
if [ -d "$shared" ]; then
  "$replay" --write-seeds "$work/seeds" --corpus "$shared"
else
  "$replay" --write-seeds "$work/seeds"
fi

if [ "$#" -gt 0 ]; then
  readers=("$@")
else
  mapfile -t readers < <("$replay" --list-readers)
fi

for name in "${readers[@]}"; do
  if ! "$replay" --list-readers | grep -qx "$name"; then
    echo "$name: not a reader (see chromaduct-fuzz-replay --list-readers)" >&2
    exit 64
  fi
done

if [ -n "$runs" ] && [ -n "$seconds_given" ]; then
  limit=(-runs="$runs" -max_total_time="$seconds")
  echo "== Fuzzing ${#readers[@]} readers, $runs runs or $seconds s each, $jobs at a time"
elif [ -n "$runs" ]; then
  limit=(-runs="$runs")
  echo "== Fuzzing ${#readers[@]} readers, $runs runs each, $jobs at a time"
else
  limit=(-max_total_time="$seconds")
  echo "== Fuzzing ${#readers[@]} readers, $seconds s each, $jobs at a time"
fi

# One reader's run; its outcome is read from its log and findings folder.
fuzz_reader() {
  local name=$1
  local dict=()
  if [ -f "tests/fuzz/dict/$name.dict" ]; then
    dict=(-dict="tests/fuzz/dict/$name.dict")
  else
    echo "$name: no dictionary in tests/fuzz/dict/, fuzzing without one" >&2
  fi
  local corpus=$work/corpus/$name findings=$work/findings/$name log=$work/logs/$name.log
  rm -rf "$findings"
  mkdir -p "$corpus" "$findings" "$work/seeds/$name"
  local status=0
  CHROMADUCT_FUZZ_FORMAT=$name "$fuzzer" "$corpus" "$work/seeds/$name" \
    "${dict[@]}" "${limit[@]}" -timeout="$timeout" -rss_limit_mb=1024 \
    -max_len=65536 -artifact_prefix="$findings/" -print_final_stats=1 >"$log" 2>&1 || status=$?
  echo "$status" >"$work/logs/$name.status"
}

for name in "${readers[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
    wait -n || true
  done
  fuzz_reader "$name" &
done
wait

found=0
for name in "${readers[@]}"; do
  log=$work/logs/$name.log
  findings=$work/findings/$name
  status=$(cat "$work/logs/$name.status" 2>/dev/null || echo "?")
  runs_done=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  artifacts=$(find "$findings" -type f | sort)
  if [ "$status" = 0 ] && [ -z "$artifacts" ]; then
    printf '%-12s %10s runs, no finding\n' "$name" "${runs_done:-?}"
    continue
  fi
  found=1
  printf '%-12s %10s runs, FINDING (exit %s); log: %s\n' "$name" "${runs_done:-?}" "$status" "$log"
  grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error|ALARM|chromaduct-fuzz:)' "$log" | head -5 | sed 's/^/    /'
  for artifact in $artifacts; do
    echo "    reproduce: CHROMADUCT_FUZZ_FORMAT=$name $fuzzer $artifact"
  done
  if [ -z "$artifacts" ]; then
    tail -n 20 "$log" | sed 's/^/    /'
  fi
done

if [ "$found" -ne 0 ]; then
  echo "Fuzzing found faults. Fix each one and copy its input into tests/fuzz/regressions/"
  echo "as <format name>-<what it does>.<extension>."
  exit 1
fi
echo "Fuzzing found nothing."
