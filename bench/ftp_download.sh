#!/usr/bin/env bash
# Downloads a file from a loopback vsftpd with the client and with curl, alternating them
# over several rounds (this guest's cost varies two- to threefold between runs, so only the
# median ratio means anything), then aborts one download from a timer and measures the
# client's CPU while a server stays silent.
# Usage: bench/ftp_download.sh [build dir] [size in MiB] [rounds]   (needs root for vsftpd)
set -euo pipefail
build=${1:-build}
mib=${2:-1024}
rounds=${3:-5}
bin="$build/ftp_download"
work=$(mktemp -d /tmp/tessaly-bench-XXXXXX)
chmod 755 "$work"
mkdir -p "$work/root" "$work/out"
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
dd if=/dev/urandom of="$work/root/big.bin" bs=1M count="$mib" status=none
chmod 644 "$work/root/big.bin"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p /var/run/vsftpd/empty
cat > "$work/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
background=NO
listen_address=127.0.0.1
listen_port=$port
anonymous_enable=YES
no_anon_password=YES
anon_root=$work/root
local_enable=NO
write_enable=NO
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
ftp_username=ftp
nopriv_user=nobody
xferlog_enable=NO
CONF
/usr/sbin/vsftpd "$work/vsftpd.conf" &
pid=$!
for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null && break; sleep 0.05; done

bytes=$((mib * 1024 * 1024))

client() {  # prints MB/s; the client's own line goes to stderr
  sync
  local line
  line=$("$bin" download "$port" big.bin "$work/out/client.bin")
  echo "  $line" >&2
  cmp -s "$work/root/big.bin" "$work/out/client.bin" || { echo "client file differs" >&2; exit 1; }
  rm -f "$work/out/client.bin"
  sed -E 's/.* = ([0-9.]+) MB\/s.*/\1/' <<<"$line"
}

curl_mbs() {  # transfer time only, as for the client: from the end of the log-in to the end
  sync
  local t
  t=$(curl -s -o "$work/out/curl.bin" -w '%{time_total} %{time_pretransfer}' "ftp://127.0.0.1:$port/big.bin")
  rm -f "$work/out/curl.bin"
  python3 -c "import sys; total, pre = map(float, sys.argv[1:]); print(f'{$bytes/(total-pre)/1e6:.1f}')" $t
}

ratios=()
for r in $(seq "$rounds"); do
  if [ $((r % 2)) -eq 1 ]; then c=$(client); k=$(curl_mbs); else k=$(curl_mbs); c=$(client); fi
  ratio=$(python3 -c "print(f'{$c/$k:.2f}')")
  ratios+=("$ratio")
  echo "round $r: client $c MB/s, curl $k MB/s, ratio $ratio"
done
python3 -c "import statistics, sys; print(f'median ratio over {len(sys.argv)-1} rounds: {statistics.median(map(float, sys.argv[1:])):.2f}')" "${ratios[@]}"

"$bin" abort "$port" big.bin "$work/out/aborted.bin" 100 || true
rm -f "$work/out/aborted.bin"
"$bin" idle 3
