#!/usr/bin/env bash
# Builds a Release tree with the benchmarks and runs every performance comparison, printing
# each figure beside its goal:
#   1. the Intel HEX reader as a whole process against objcopy and srec_cat;
#   2. host CPU and heap allocations per request of a full -f and a full -u against the
#      in-process virtual device (zero latency), the HEX reader in process, sum_bytes;
#   3. the same two jobs end to end through `ostrel_sim run` with 100 us of device latency,
#      as a ratio to the floor the protocol sets (defined in bench/e2e_run.cpp);
#   4. peak resident memory of each job's whole process;
#   5. several devices updated at once, one process each (bench/parallel_devices.sh).
# Speed is never asserted: the script reports, and ends with status 0 whatever the figures.
#
# Environment: OSTREL_BENCH_BUILD (build dir, default build-bench), OSTREL_BENCH_JOBS
# (ninja -j, default 2), OSTREL_BENCH_ROUNDS (runs per tool in the HEX comparison, 40).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OSTREL_BENCH_BUILD:-$root/build-bench}
jobs=${OSTREL_BENCH_JOBS:-2}
rounds=${OSTREL_BENCH_ROUNDS:-40}
latency_us=100
reenumeration_ms=500  # ostrel_sim init's default

# --- tools -------------------------------------------------------------------------------
missing=()
command -v srec_cat >/dev/null 2>&1 || missing+=(srecord)
command -v objcopy >/dev/null 2>&1 || missing+=(binutils)
[ -x /usr/bin/time ] || missing+=(time)
[ -f /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev)
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get -o DPkg::Lock::Timeout=300 update
  $sudo apt-get -o DPkg::Lock::Timeout=300 install -y --no-install-recommends "${missing[@]}"
fi

# --- build -------------------------------------------------------------------------------
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_WERROR=ON \
  -DOSTREL_BUILD_BENCHMARKS=ON >/dev/null
ninja -C "$build" -j"$jobs" ostrel_firmware_update ostrel_sim ostrel_sim_hidapi \
  ostrel_hex_to_binary ostrel_hex_to_binary_static ostrel_time_commands ostrel_host_bench \
  ostrel_e2e >/dev/null
bench=$build/bench
sim=$build/ostrel_sim
program=$build/ostrel_firmware_update

# Files on tmpfs when there is one, so that no tool pays the disk file system's own work
# (ext4 flushes a file rewritten in place when it is closed).
scratch=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch=/dev/shm
work=$(mktemp -d "$scratch/ostrel-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "== machine: $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores," \
     "load average $(cut -d' ' -f1-3 /proc/loadavg) at the start =="

# --- 1. Intel HEX: whole processes --------------------------------------------------------
head -c $((0x7C000)) /dev/urandom >"$work/image.bin"
objcopy -I binary -O ihex --change-addresses 0x404000 "$work/image.bin" "$work/max.hex"
printf ':0100000000FF\n:00000001FF\n' >"$work/tiny.hex"
cd "$work"
# Each converter must give the image back, byte for byte.
"$bench/ostrel_hex_to_binary" max.hex reader.bin
objcopy -I ihex -O binary max.hex objcopy.bin
srec_cat max.hex -intel -offset -0x404000 -o - -binary >srec.bin
for out in reader.bin objcopy.bin srec.bin; do
  cmp -s image.bin "$out" || { echo "$out differs from the image" >&2; exit 1; }
done
"$bench/ostrel_time_commands" "$rounds" \
  reader "$bench/ostrel_hex_to_binary" max.hex reader.bin --- \
  reader_static "$bench/ostrel_hex_to_binary_static" max.hex reader.bin --- \
  objcopy objcopy -I ihex -O binary max.hex objcopy.bin --- \
  srec_cat srec_cat max.hex -intel -offset -0x404000 -o - -binary '>srec.bin' --- \
  reader_start "$bench/ostrel_hex_to_binary" tiny.hex tiny.bin --- \
  objcopy_start objcopy -I ihex -O binary tiny.hex tiny2.bin >times.txt
cd "$root"
field() { awk -v l="$1" -v f="$2" '$1 == l { print $f }' "$work/times.txt"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
verdict() { awk -v r="$1" -v g="$2" 'BEGIN { print (r <= g ? "met" : "NOT met") }'; }
echo
echo "== Intel HEX: 0x7C000 random bytes at 0x404000 ($(stat -c %s "$work/max.hex") bytes of" \
     "text), to the flash image; median of $rounds interleaved runs each =="
printf '  %-46s %8s %8s\n' "" "wall ms" "CPU ms"
for t in reader:"the program's reader (ostrel_hex_to_binary)" \
         reader_static:"the same, C++ runtime linked in" \
         objcopy:"objcopy -I ihex -O binary" srec_cat:"srec_cat -intel -o - -binary" \
         reader_start:"  process start: reader, 1-byte file" \
         objcopy_start:"  process start: objcopy, 1-byte file"; do
  printf '  %-46s %8.2f %8.2f\n' "${t#*:}" "$(field "${t%%:*}" 2)" "$(field "${t%%:*}" 3)"
done
wall_ratio=$(ratio "$(field reader 2)" "$(field objcopy 2)")
cpu_ratio=$(ratio "$(field reader 3)" "$(field objcopy 3)")
echo "  reader / objcopy: $wall_ratio wall, $cpu_ratio CPU    goal: <= 0.25:" \
     "$(verdict "$wall_ratio" 0.25) (wall), $(verdict "$cpu_ratio" 0.25) (CPU)"
echo "  reader with the C++ runtime linked in / objcopy:" \
     "$(ratio "$(field reader_static 2)" "$(field objcopy 2)") wall," \
     "$(ratio "$(field reader_static 3)" "$(field objcopy 3)") CPU"
echo "  srec_cat / objcopy: $(ratio "$(field srec_cat 2)" "$(field objcopy 2)") wall"

# --- 2. host cost in process --------------------------------------------------------------
"$sim" fullrom "$work/image.fullrom" >/dev/null
echo
OSTREL_BENCH_HEX="$work/max.hex" OSTREL_BENCH_FULLROM="$work/image.fullrom" \
  "$bench/ostrel_host_bench" --benchmark_color=false >"$work/host.txt" 2>&1
sed -n '/^== host cost/,$p' "$work/host.txt" | sed 's/^-/  -/; s/^sum_bytes/  sum_bytes/; s/^HEX/  HEX/'

# --- 3. end to end through ostrel_sim run ------------------------------------------------
echo
echo "== end to end: the shipped program through ostrel_sim run, device latency" \
     "${latency_us} us, re-enumeration ${reenumeration_ms} ms =="
echo "   floor: every awaited reply ${latency_us} us; per page one more ${latency_us} us for" \
     "its last data chunk's reply and the 1 ms read that ends the drain; per mode switch" \
     "the re-enumeration rounded up to the 250 ms step (bench/e2e_run.cpp)"
end_to_end() {  # JOB ARGS...: once as hidapi's hidraw backend waits, once with exact waits
  local job=$1
  shift
  for exact in 0 1; do
    "$sim" init "$work/dev" --latency-us "$latency_us" >/dev/null
    if [ "$exact" = 0 ]; then
      echo "  $job, the stand-in sleeping until each reply as a hidraw read does:"
    else
      echo "  $job, the stand-in watching the clock instead (OSTREL_SIM_EXACT_WAITS=1): no" \
           "wake-up latency of the system:"
    fi
    OSTREL_SIM_EXACT_WAITS=$exact "$bench/ostrel_e2e" "$job" "$work/dev" "$latency_us" \
      "$reenumeration_ms" -- "$sim" run "$work/dev" -- "$program" "$@" | sed 's/^/    /'
  done
}
end_to_end -f -f "$work/max.hex"
end_to_end -u -u "$work/image.fullrom"

# --- 4. peak resident memory ---------------------------------------------------------------
echo
echo "== peak resident memory of the whole process (/usr/bin/time -v; the device's mapped" \
     "state counts as far as it is touched) =="
for job in "-f $work/max.hex" "-u $work/image.fullrom" ""; do
  "$sim" init "$work/dev" --latency-us "$latency_us" >/dev/null
  # shellcheck disable=SC2086
  kib=$(/usr/bin/time -v "$sim" run "$work/dev" -- "$program" $job 2>&1 >/dev/null |
        sed -n 's/^.*Maximum resident set size (kbytes): //p')
  name=${job%% *}
  if [ -z "$name" ]; then
    echo "  no option (usage line only): $kib KiB"
  else
    echo "  $name: $kib KiB ($(awk -v k="$kib" 'BEGIN { printf "%.2f", k / 1024 }') MiB)" \
         "   goal: < 8 MiB: $(awk -v k="$kib" 'BEGIN { print (k < 8192 ? "met" : "NOT met") }')"
  fi
done

# --- 5. several devices at once -------------------------------------------------------------
echo
echo "== several devices: a full -f on each, one process per device, all at once, device" \
     "latency ${latency_us} us; goal: 8 devices <= 1.2 x one device's wall time =="
OSTREL_BENCH_LATENCY_US=$latency_us "$root/bench/parallel_devices.sh" "$build" | sed 's/^/  /'
echo
echo "== load average $(cut -d' ' -f1-3 /proc/loadavg) at the end =="
