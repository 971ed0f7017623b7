#!/usr/bin/env bash
# The batch DTMF decoder (`velmora decode FILE`, presses)
# beside multimon-ng on the same 10-minute recording, made here with sox:
# the sixteen keys over and over, 100 ms of tone and 100 ms of silence each.
#
# Each decoder reads the sound in its own input format: velmora the capture
# format of the component (8-bit mono 44100 Hz WAV, which its file source
# passes through byte for byte), multimon-ng signed 16-bit mono 22050 Hz raw
# samples; both are made by sox, whose time is shown apart.  velmora also
# decodes the 16-bit 22050 Hz recording itself (its file source converts).
# The figure is seconds of audio per second of processor time (user +
# system, all threads) and, beside it, wall-clock seconds; the key sequences
# must agree.
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
# processor seconds (user + system); the wall-clock seconds go to
# $work/wall.
cpu_seconds() {
  /usr/bin/time -f "%U %S %e" -o "$work/time" "$@" >"$work/out" 2>/dev/null
  awk '{ printf "%.3f", $3 }' "$work/time" >"$work/wall"
  awk '{ printf "%.3f", $1 + $2 }' "$work/time"
}

# Each decoder's input made from the recording by sox, timed: velmora's
# capture format (no dither: the silence between the keys stays silent) and
# multimon-ng's raw samples.
to_capture=$(cpu_seconds sox -D "$work/recording.wav" -r 44100 -b 8 -c 1 "$work/capture.wav")
to_raw=$(cpu_seconds sox "$work/recording.wav" -t raw -e signed -b 16 -r 22050 -c 1 \
  "$work/multimon.raw")

# velmora on the recording as it is: its file source converts.
ours_converting=$(cpu_seconds "$velmora" decode "$work/recording.wav")
ours_converting_wall=$(cat "$work/wall")
ours=$(cpu_seconds "$velmora" decode "$work/capture.wav")
ours_wall=$(cat "$work/wall")
our_keys=$(awk '{ print $1 }' "$work/out" | tr -d '\n')
theirs=$(cpu_seconds multimon-ng -q -a DTMF -t raw "$work/multimon.raw")
theirs_wall=$(cat "$work/wall")
their_keys=$(awk '/^DTMF: / { print tolower($2) }' "$work/out" | tr -d '\n')

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "recording: $audio s of audio; keys: velmora ${#our_keys}, multimon-ng ${#their_keys}"
echo "wall: velmora decode (8-bit 44100 Hz) $ours_wall s, (16-bit 22050 Hz) $ours_converting_wall s, multimon-ng $theirs_wall s"
awk -v a="$audio" -v o="$ours" -v oc="$ours_converting" -v c="$to_capture" -v t="$theirs" \
  -v r="$to_raw" 'BEGIN {
  printf "velmora decode (8-bit 44100 Hz input):               %7.3f s cpu  %8.0f x real time\n", o, a / o
  printf "  + sox making that input:                          %7.3f s cpu  %8.0f x real time\n", o + c, a / (o + c)
  printf "velmora decode (16-bit 22050 Hz, converting):        %7.3f s cpu  %8.0f x real time\n", oc, a / oc
  printf "multimon-ng (raw input):                            %7.3f s cpu  %8.0f x real time\n", t, a / t
  printf "  + sox making that input:                          %7.3f s cpu  %8.0f x real time\n", t + r, a / (t + r)
  printf "velmora / multimon-ng speed: %.2f (inputs made by sox: %.2f)\n", t / o, (t + r) / (o + c)
}'
# The presses must be the keys multimon-ng finds, the same and in order.
if [ "$our_keys" != "$their_keys" ]; then
  echo "velmora and multimon-ng disagree: ${#our_keys} and ${#their_keys} keys" >&2
  exit 1
fi
echo "the ${#their_keys} presses are the keys multimon-ng finds, in order"
