#!/usr/bin/env bash
# Modbus RTU through Linetap with port 1 on a pseudo-terminal served by ser2net over RFC 2217 and
# port 2 on a local pseudo-terminal: a libmodbus master behind ser2net, a slave on port 2's far
# end. Headless, then through the window (under Xvfb): COUNT transactions each, every record
# checked to hold one whole frame (length and CRC), ser2net stopped and started again mid-run.
# Prints what it measured; status 1 when a check fails.
#   tools/network/modbus-check.sh [BUILD_DIR] [COUNT]
set -euo pipefail
build="$(realpath "${1:-build/debug}")"
count="${2:-200}"
work="$(mktemp -d)"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail=0
check() { if "$@"; then echo "  ok: $*"; else echo "  FAILED: $*"; fail=1; fi; }

port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
socat pty,raw,echo=0,link="$work/master" pty,raw,echo=0,link="$work/line1" & pids+=($!)
socat pty,raw,echo=0,link="$work/slave" pty,raw,echo=0,link="$work/line2" & pids+=($!)
for _ in $(seq 50); do [ -e "$work/line1" ] && [ -e "$work/line2" ] && break; sleep 0.1; done
cat >"$work/ser2net.yaml" <<YAML
%YAML 1.1
---
connection: &line1
  accepter: telnet(rfc2217),tcp,127.0.0.1,$port
  connector: serialdev,$work/line1,9600n81,local
  options:
    kickolduser: true
YAML
ser2net_pid=
start_ser2net() {
    ser2net -n -d -c "$work/ser2net.yaml" -P "$work/ser2net.pid" 2>/dev/null & ser2net_pid=$!
    pids+=("$ser2net_pid")
    for _ in $(seq 50); do
        grep -q ":$(printf %04X "$port") 00000000:0000 0A" /proc/net/tcp && return
        sleep 0.1
    done
}
stop_ser2net() { kill "$ser2net_pid"; wait "$ser2net_pid" 2>/dev/null || true; }
start_ser2net
"$build/linetap-modbus-check" slave "$work/slave" & pids+=($!)
export XDG_CONFIG_HOME="$work/config"

# Every record holds one whole frame: a request of 8 bytes, or an answer whose length its
# function code and byte count give, with a good CRC. Prints the counts.
frames_whole() {
    python3 - "$1" "$2" <<'PY'
import glob, re, sys
folder, expected = sys.argv[1], int(sys.argv[2])
def crc(b):
    c = 0xFFFF
    for x in b:
        c ^= x
        for _ in range(8):
            c = (c >> 1) ^ 0xA001 if c & 1 else c >> 1
    return c
frames = bad = 0
for f in glob.glob(folder + "/*.txt"):
    for line in open(f, encoding="utf-8", errors="replace"):
        m = re.search(r"Data=((?: [0-9A-F]{2})+)\s*$", line)
        if not m: continue
        b = bytes(int(x, 16) for x in m.group(1).split())
        frames += 1
        whole = len(b) >= 4 and crc(b[:-2]) == b[-2] | b[-1] << 8
        if whole and b[1] == 3 and len(b) != 8: whole = len(b) == 5 + b[2]
        if not whole:
            bad += 1
            print("    not one frame:", b.hex(" "))
print(f"    {frames} frames recorded, {bad} not whole (expected at least {expected})")
sys.exit(0 if bad == 0 and frames >= expected else 1)
PY
}

echo "headless:"
mkdir "$work/rec-headless"
"$build/linetap" --headless --port1 "rfc2217://127.0.0.1:$port" --settings1 9600,n,8,1 \
    --port2 "$work/line2" --settings2 9600,n,8,1 --relay both --auto \
    --record "$work/rec-headless" 2>"$work/headless.err" & lt=$!; pids+=($lt)
sleep 1
check "$build/linetap-modbus-check" master "$work/master" "$count"
check frames_whole "$work/rec-headless" $((2 * count))
stop_ser2net
for _ in $(seq 50); do grep -q "device lost" "$work/headless.err" && break; sleep 0.1; done
start_ser2net
restarted=$(date +%s.%N)
for _ in $(seq 100); do grep -q "device back" "$work/headless.err" && break; sleep 0.02; done
echo "  back $(echo "$(date +%s.%N) - $restarted" | bc) s after ser2net started again"
check "$build/linetap-modbus-check" master "$work/master" 20
check test "$(grep -c 'device lost' "$work/headless.err")" = 1
check test "$(grep -c 'device back' "$work/headless.err")" = 1
kill -TERM "$lt"; wait "$lt" || true
cat "$work/headless.err"

echo "window:"
mkdir "$work/rec-window"
LINETAP_COM1="rfc2217://127.0.0.1:$port" LINETAP_COM2="$work/line2" \
    xvfb-run -a "$build/linetap-modbus-check" window "$work/rec-window" "$work/cycle" \
    >"$work/window.out" 2>&1 & win=$!; pids+=($win)
sleep 3
check "$build/linetap-modbus-check" master "$work/master" "$count"
check frames_whole "$work/rec-window" $((2 * count))
stop_ser2net
sleep 2
check grep -q "port 1 lamp #ff0000" "$work/window.out"
start_ser2net
sleep 1
check test "$(grep -c 'port 1 lamp #ff0000' "$work/window.out")" = 1
touch "$work/cycle"
sleep 1
check "$build/linetap-modbus-check" master "$work/master" 20
cat "$work/window.out"
exit "$fail"
