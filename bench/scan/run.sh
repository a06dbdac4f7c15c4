#!/usr/bin/env bash
# Time to the full list of a /20 with 1,000 live hosts, three runs each: `sablewick --scan` at the default
# rate and at the fastest, and `nmap -sn -n` on the same network in the same run. As root; nmap from Debian.
#
#   bench/scan/run.sh [BUILD_DIR]      (default: build; SABLEWICK=PROGRAM runs another program file)
#
# The network lives in namespaces of its own: the scanning side (10.240.0.1/20) and one peer whose
# interface holds the 1,000 addresses (10.240.0.2, .6, .10, ... every fourth address of the /20).
set -euo pipefail
BUILD=${1:-build}
PROGRAM=${SABLEWICK:-$(realpath "$BUILD/sablewick")}
command -v nmap >/dev/null || { echo "nmap is not installed (apt-get install nmap)"; exit 2; }
TAG=swbench$$
S=${TAG}s P=${TAG}p
CONF=$(mktemp -d)
cleanup() { ip netns del $S 2>/dev/null || true; ip netns del $P 2>/dev/null || true; rm -rf "$CONF"; }
trap cleanup EXIT
ip netns add $S; ip netns add $P
ip link add s0 netns $S type veth peer name p0 netns $P
ip -n $S addr add 10.240.0.1/20 broadcast + dev s0
ip -n $S link set s0 up; ip -n $S link set lo up
{
  for k in $(seq 0 999); do
    n=$((4 * k + 2)); echo "addr add 10.240.$((n / 256)).$((n % 256))/20 dev p0"
  done
  echo "link set p0 up"; echo "link set lo up"
} | ip -n $P -batch -
sleep 1

mkdir -p "$CONF/sablewick"
scan() { # rate
  printf '[scan]\nrate=%s\nmdns=false\n' "$1" > "$CONF/sablewick/sablewick.conf"
  local start end found
  start=$(date +%s%N)
  found=$(XDG_CONFIG_HOME=$CONF ip netns exec $S "$PROGRAM" --scan 10.240.0.0/20 --database "$CONF/none.ccn" | wc -l)
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000000 )) $found"
}
nmapscan() {
  local start end found
  start=$(date +%s%N)
  found=$(ip netns exec $S nmap -sn -n 10.240.0.0/20 | grep -c "^Nmap scan report")
  end=$(date +%s%N)
  # nmap lists this machine's own address too
  echo "$(( (end - start) / 1000000 )) $((found - 1))"
}
stats() { sort -n | awk '{a[NR]=$1} END {printf "min %d ms, median %d ms, max %d ms", a[1], a[2], a[3]}'; }

declare -A times found
for run in 1 2 3; do
  for tool in default fastest nmap; do
    case $tool in
      default) r=$(scan 500) ;;
      fastest) r=$(scan 10000) ;;
      nmap) r=$(nmapscan) ;;
    esac
    times[$tool]+="${r% *}"$'\n'
    found[$tool]+="${r#* } "
  done
done
printf '%-34s %-44s %s\n' "tool" "time to the full list (3 runs)" "hosts found"
printf '%-34s %-44s %s\n' "sablewick --scan, 500/s (default)" "$(printf '%s' "${times[default]}" | stats)" "${found[default]}"
printf '%-34s %-44s %s\n' "sablewick --scan, 10000/s (fastest)" "$(printf '%s' "${times[fastest]}" | stats)" "${found[fastest]}"
printf '%-34s %-44s %s\n' "nmap -sn -n" "$(printf '%s' "${times[nmap]}" | stats)" "${found[nmap]}"
