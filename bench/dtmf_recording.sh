#!/usr/bin/env bash
# The DTMF recording the batch benchmarks decode and draw, made with sox:
# the sixteen keys (1 2 3 a 4 5 6 b 7 8 9 c * 0 # d) over and over, 100 ms
# of tone and 100 ms of silence each, 16-bit mono 22050 Hz, as many rounds
# of 3.2 s as fill `minutes` (10 minutes: 188 rounds, 601.6 s).
#
# Usage: bench/dtmf_recording.sh OUT.wav [minutes]
set -euo pipefail

out=${1:?usage: dtmf_recording.sh OUT.wav [minutes]}
minutes=${2:-10}
command -v sox >/dev/null || { echo "dtmf_recording: sox is not available" >&2; exit 2; }

parts=$(mktemp -d)
trap 'rm -rf "$parts"' EXIT

pairs=(697:1209 697:1336 697:1477 697:1633 770:1209 770:1336 770:1477 770:1633
       852:1209 852:1336 852:1477 852:1633 941:1209 941:1336 941:1477 941:1633)
round=()
for p in "${pairs[@]}"; do
  sox -D -n -r 22050 -b 16 -c 1 "$parts/k$p.wav" synth 0.1 sine "${p%:*}" sine "${p#*:}" \
    vol 0.7 pad 0 0.1
  round+=("$parts/k$p.wav")
done
sox "${round[@]}" "$parts/round.wav"
rounds=$(( (minutes * 60 * 10 + 31) / 32 ))
list=()
for ((r = 0; r < rounds; r++)); do list+=("$parts/round.wav"); done
sox "${list[@]}" "$out"
