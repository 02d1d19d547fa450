#!/usr/bin/env bash
# Runs every benchmark and ends with one block of figures: probe-side HTTP
# throughput over curl's and CPU seconds per GiB beside curl's, the report
# exchange's wall and CPU time, the shell's start-up time and memory (PSS)
# over surf's, and ReadLn's time per byte at 1 KiB and at 16 KiB lines.
#
# Usage: bench.sh [--quick] [--webkit-settings]
#   --quick            a smoke run: 256 MiB body, fewer rounds (not figures to quote)
#   --webkit-settings  also measures the shell with each WebKit setting variant
#
# Builds with the bench preset into build/bench (QUORVEL_BUILD_PREFIX goes
# before "bench"). Run it on an otherwise idle machine: on a loaded one the
# figures vary by a factor of two or more.
set -euo pipefail
cd "$(dirname "$0")/.."

mib=1024 exchanges=200 runs=7 readln_mib=8 settings=0
for arg in "$@"; do
  case $arg in
    --quick) mib=256 exchanges=50 runs=3 readln_mib=2 ;;
    --webkit-settings) settings=1 ;;
    *) echo "usage: bench.sh [--quick] [--webkit-settings]" >&2; exit 2 ;;
  esac
done

bash scripts/deps.sh bench
cmake --preset bench >/dev/null
cmake --build --preset bench -j2
bin=build/${QUORVEL_BUILD_PREFIX:-}bench/bench
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

echo "== HTTP body throughput: TIdHTTP beside curl, ${mib} MiB from nginx on loopback"
"$bin/http_throughput" "$mib" | tee "$out/throughput"
echo "== Report exchange"
"$bin/report_exchange" "$exchanges" | tee "$out/report"
echo "== ReadLn, one byte at a time"
"$bin/readln_per_byte" "$readln_mib" | tee "$out/readln"
echo "== The shell beside surf"
python3 bench/shell/shell_startup.py --shell "$bin/quorvel-bench-shell" --runs "$runs" --first-run | tee "$out/shell"
if ((settings)); then
  echo "== WebKit settings (the shell's copy in bench/shell, one setting at a time, then all)"
  all=cache=document-viewer,hw=never,dns=off,pagecache=off
  python3 bench/shell/shell_startup.py --no-surf --runs "$runs" \
    --shell "$bin/quorvel-bench-shell" --variant-shell "$bin/quorvel-bench-variant" \
    --variant "as shipped (copy)=-" --variant "cache document-viewer=cache=document-viewer" \
    --variant "hw accel never=hw=never" --variant "dns prefetch off=dns=off" \
    --variant "page cache off=pagecache=off" --variant "all four=$all" | tee "$out/settings"
fi

python3 - "$out" <<'EOF'
import os, platform, re, statistics, sys
out = sys.argv[1]

def read(name):
    path = os.path.join(out, name)
    return open(path).read() if os.path.exists(path) else ""

def values(text):
    return {m.group(1): float(m.group(2)) for m in re.finditer(r"^(\w+) (-?[\d.]+)\s*$", text, re.M)}

def first(path, pattern, default="?"):
    try:
        m = re.search(pattern, open(path).read(), re.M)
        return m.group(1).strip() if m else default
    except OSError:
        return default

throughput = read("throughput")
body = re.search(r"^body: (\d+) bytes", throughput, re.M)
rows = {"quorvel": [], "curl": []}
for m in re.finditer(r"^(quorvel|curl)\s+([\d.]+) MB/s\s+wall\s+([\d.]+) s\s+CPU\s+([\d.]+) s", throughput, re.M):
    rows[m.group(1)].append((float(m.group(2)), float(m.group(4))))
report, readln, shell = values(read("report")), values(read("readln")), values(read("shell"))

memory = int(first("/proc/meminfo", r"^MemTotal:\s+(\d+)", "0")) / 1024 / 1024
print()
print("== Figures: %d x %s, %.0f GiB RAM, kernel %s, Debian %s" % (
    os.cpu_count(), first("/proc/cpuinfo", r"^model name\s*:\s*(.*)$"), memory, platform.release(),
    first("/etc/debian_version", r"(.*)")))
if body and rows["quorvel"] and rows["curl"]:
    gib = int(body.group(1)) / 2**30
    ours = statistics.median(r[0] for r in rows["quorvel"])
    theirs = statistics.median(r[0] for r in rows["curl"])
    print("probe-side throughput over curl's  %.2f  (quorvel %.0f MB/s, curl %.0f MB/s; goal >= 1.0)" % (
        ours / theirs, ours, theirs))
    print("CPU seconds per GiB                quorvel %.3f s, curl %.3f s" % (
        statistics.median(r[1] for r in rows["quorvel"]) / gib, statistics.median(r[1] for r in rows["curl"]) / gib))
else:
    print("probe-side throughput over curl's  not measured (see the throughput output above)")
if "report_wall_ms" in report:
    print("report exchange, median            wall %.1f ms, CPU %.2f ms" % (report["report_wall_ms"], report["report_cpu_ms"]))
if "startup_ratio_over_surf" in shell:
    print("shell start-up over surf's         %.2f  (quorvel %.0f ms, surf %.0f ms; goal <= 1.0)" % (
        shell["startup_ratio_over_surf"], shell["quorvel_startup_ms"], shell["surf_startup_ms"]))
    if "first_run_startup_ratio_over_surf" in shell:
        print("  first run, with the install report %.2f  (quorvel %.0f ms)" % (
            shell["first_run_startup_ratio_over_surf"], shell["quorvel_first_run_startup_ms"]))
    print("shell PSS over surf's              %.2f  (quorvel %.1f MiB, surf %.1f MiB; goal <= 1.0)" % (
        shell["pss_ratio_over_surf"], shell["quorvel_pss_mib"], shell["surf_pss_mib"]))
if "readln_ns_per_byte_1k" in readln:
    print("ReadLn time per byte (CPU)         1 KiB %.1f ns, 16 KiB %.1f ns, ratio %.2f (goal within 2)" % (
        readln["readln_ns_per_byte_1k"], readln["readln_ns_per_byte_16k"], readln["readln_ratio_16k_over_1k"]))
EOF
