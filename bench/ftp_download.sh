#!/usr/bin/env bash
# Downloads a 1 GiB file from a loopback vsftpd with the client and with curl (both into
# files in the same folder), then measures the client's CPU while a server stays silent.
# Usage: bench/ftp_download.sh [build dir] [size in MiB]   (needs root for vsftpd)
set -euo pipefail
build=${1:-build}
mib=${2:-1024}
bin="$build/ftp_download"
work=$(mktemp -d /tmp/tessaly-bench-XXXXXX)
chmod 755 "$work"
mkdir -p "$work/root" "$work/out"
trap 'kill $pid 2>/dev/null || true; rm -rf "$work"' EXIT
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
sync
"$bin" download "$port" big.bin "$work/out/client.bin"
cmp "$work/root/big.bin" "$work/out/client.bin" && echo "client file identical"
rm -f "$work/out/client.bin"; sync
t=$(curl -s -o "$work/out/curl.bin" -w '%{time_total}' "ftp://127.0.0.1:$port/big.bin")
echo "curl:   $bytes bytes in $t s = $(python3 -c "print(f'{$bytes/$t/1e6:.1f}')") MB/s"
rm -f "$work/out/curl.bin"
"$bin" idle 3
