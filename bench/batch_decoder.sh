#!/usr/bin/env bash
# The batch DTMF decoder (`velmora listen --input FILE.wav --fast --keys`)
# beside multimon-ng on the same 10-minute recording, made here with sox:
# the sixteen keys over and over, 100 ms of tone and 100 ms of silence each.
#
# Each decoder reads the sound in its own input format: velmora the capture
# format of the component (8-bit mono 44100 Hz WAV, which its file source
# passes through byte for byte), multimon-ng signed 16-bit mono 22050 Hz raw
# samples; both are made by sox, whose time is shown apart.  velmora also
# decodes the 16-bit 22050 Hz recording itself (its file source converts).
# The figure is seconds of audio per second of processor time (user +
# system, all threads), and the key sequences must agree once the repeats
# of a key held over several buffers are collapsed.
#
# Usage: bench/batch_decoder.sh [path/to/velmora] [minutes]
set -euo pipefail

velmora=${1:-build/bin/velmora}
minutes=${2:-10}
for tool in sox multimon-ng "$velmora"; do
  command -v "$tool" >/dev/null || { echo "batch_decoder: $tool is not available" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One round of the sixteen keys (3.2 s), then as many rounds as fill the
# recording.
keys=(1 2 3 a 4 5 6 b 7 8 9 c '*' 0 '#' d)
declare -A row=([1]=697 [2]=697 [3]=697 [a]=697 [4]=770 [5]=770 [6]=770 [b]=770
                [7]=852 [8]=852 [9]=852 [c]=852 ['*']=941 [0]=941 ['#']=941 [d]=941)
declare -A col=([1]=1209 [4]=1209 [7]=1209 ['*']=1209 [2]=1336 [5]=1336 [8]=1336 [0]=1336
                [3]=1477 [6]=1477 [9]=1477 ['#']=1477 [a]=1633 [b]=1633 [c]=1633 [d]=1633)
round=()
i=0
for k in "${keys[@]}"; do
  sox -D -n -r 22050 -b 16 -c 1 "$work/k$i.wav" synth 0.1 sine "${row[$k]}" sine "${col[$k]}" \
    vol 0.7 pad 0 0.1
  round+=("$work/k$i.wav")
  i=$((i + 1))
done
sox "${round[@]}" "$work/round.wav"
rounds=$(( (minutes * 60 * 10 + 31) / 32 ))
list=()
for ((r = 0; r < rounds; r++)); do list+=("$work/round.wav"); done
sox "${list[@]}" "$work/recording.wav"
audio=$(soxi -D "$work/recording.wav")

# cpu_seconds COMMAND...: runs it with its output in $work/out, prints the
# processor seconds (user + system).
cpu_seconds() {
  /usr/bin/time -f "%U %S" -o "$work/time" "$@" >"$work/out" 2>/dev/null
  awk '{ printf "%.3f", $1 + $2 }' "$work/time"
}

# Each decoder's input made from the recording by sox, timed: velmora's
# capture format (no dither: the silence between the keys stays silent) and
# multimon-ng's raw samples.
to_capture=$(cpu_seconds sox -D "$work/recording.wav" -r 44100 -b 8 -c 1 "$work/capture.wav")
to_raw=$(cpu_seconds sox "$work/recording.wav" -t raw -e signed -b 16 -r 22050 -c 1 \
  "$work/multimon.raw")

# velmora on the recording as it is: its file source converts.
ours_converting=$(cpu_seconds "$velmora" listen --input "$work/recording.wav" --fast --keys)
ours=$(cpu_seconds "$velmora" listen --input "$work/capture.wav" --fast --keys)
our_keys=$(awk '{ print substr($2, 5) }' "$work/out" | uniq | tr -d '\n')
theirs=$(cpu_seconds multimon-ng -q -a DTMF -t raw "$work/multimon.raw")
their_keys=$(awk '/^DTMF: / { print tolower($2) }' "$work/out" | uniq | tr -d '\n')

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "recording: $audio s of audio; keys (repeats collapsed): velmora ${#our_keys}, multimon-ng ${#their_keys}"
awk -v a="$audio" -v o="$ours" -v oc="$ours_converting" -v c="$to_capture" -v t="$theirs" \
  -v r="$to_raw" 'BEGIN {
  printf "velmora listen --fast (8-bit 44100 Hz input):        %7.3f s cpu  %8.0f x real time\n", o, a / o
  printf "  + sox making that input:                          %7.3f s cpu  %8.0f x real time\n", o + c, a / (o + c)
  printf "velmora listen --fast (16-bit 22050 Hz, converting): %7.3f s cpu  %8.0f x real time\n", oc, a / oc
  printf "multimon-ng (raw input):                            %7.3f s cpu  %8.0f x real time\n", t, a / t
  printf "  + sox making that input:                          %7.3f s cpu  %8.0f x real time\n", t + r, a / (t + r)
  printf "velmora / multimon-ng speed: %.2f (inputs made by sox: %.2f)\n", t / o, (t + r) / (o + c)
}'
# The component reports a key for every buffer whose two strongest
# frequencies match, also when the second one is kept from the previous
# buffer (the tail of a tone in an otherwise quiet buffer): such extra keys
# are counted apart.  Every key multimon-ng finds must be found, in order.
python3 - "$our_keys" "$their_keys" <<'PY'
import sys
ours, theirs = sys.argv[1], sys.argv[2]
i = 0
for k in ours:
    if i < len(theirs) and k == theirs[i]:
        i += 1
if i < len(theirs):
    print(f"velmora missed keys: {i} of {len(theirs)} found in order", file=sys.stderr)
    sys.exit(1)
print(f"all {len(theirs)} keys of multimon-ng found in order; "
      f"{len(ours) - len(theirs)} extra keys from buffers that end a tone")
PY
