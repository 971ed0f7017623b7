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
# The figures are seconds of audio per second of processor time (user +
# system, all threads) and wall-clock seconds (velmora decodes a file on
# every core); the key sequences must agree.
#
# Every decoder runs `runs` times, interleaved; the figures are medians.
#
# Usage: bench/batch_decoder.sh [path/to/velmora] [minutes] [runs]
set -euo pipefail

velmora=${1:-build/bin/velmora}
minutes=${2:-10}
runs=${3:-5}
load=$(cut -d' ' -f1-3 /proc/loadavg)
for tool in sox multimon-ng "$velmora"; do
  command -v "$tool" >/dev/null || { echo "batch_decoder: $tool is not available" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$(dirname "$0")/dtmf_recording.sh" "$work/recording.wav" "$minutes"
audio=$(soxi -D "$work/recording.wav")

# cpu_seconds COMMAND...: runs it with its output in $work/out, prints the
# processor seconds (user + system, to the millisecond, from bash's own
# timer); the wall-clock seconds go to $work/wall.
cpu_seconds() {
  local TIMEFORMAT='%3R %3U %3S'
  { time "$@" >"$work/out" 2>/dev/null; } 2>"$work/time"
  awk '{ printf "%.3f", $1 }' "$work/time" >"$work/wall"
  awk '{ printf "%.3f", $2 + $3 }' "$work/time"
}

# Each decoder's input made from the recording by sox, timed: velmora's
# capture format (no dither: the silence between the keys stays silent) and
# multimon-ng's raw samples.
to_capture=$(cpu_seconds sox -D "$work/recording.wav" -r 44100 -b 8 -c 1 "$work/capture.wav")
to_raw=$(cpu_seconds sox "$work/recording.wav" -t raw -e signed -b 16 -r 22050 -c 1 \
  "$work/multimon.raw")

# The decoders in turn, `runs` rounds; each figure is the median of its
# runs (the machine may be shared: interleaving spreads the disturbance).
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
oc=(); ocw=(); o=(); ow=(); t=(); tw=()
for ((i = 0; i < runs; i++)); do
  # velmora on the recording as it is: its file source converts.
  oc+=("$(cpu_seconds "$velmora" decode "$work/recording.wav")"); ocw+=("$(cat "$work/wall")")
  o+=("$(cpu_seconds "$velmora" decode "$work/capture.wav")"); ow+=("$(cat "$work/wall")")
  our_keys=$(awk '{ print $1 }' "$work/out" | tr -d '\n')
  t+=("$(cpu_seconds multimon-ng -q -a DTMF -t raw "$work/multimon.raw")"); tw+=("$(cat "$work/wall")")
  their_keys=$(awk '/^DTMF: / { print tolower($2) }' "$work/out" | tr -d '\n')
done
ours_converting=$(median "${oc[@]}"); ours_converting_wall=$(median "${ocw[@]}")
ours=$(median "${o[@]}"); ours_wall=$(median "${ow[@]}")
theirs=$(median "${t[@]}"); theirs_wall=$(median "${tw[@]}")

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "recording: $audio s of audio; keys: velmora ${#our_keys}, multimon-ng ${#their_keys}"
echo "runs: $runs, medians; load before: $load"
echo "wall: velmora decode (8-bit 44100 Hz) $ours_wall s, (16-bit 22050 Hz) $ours_converting_wall s, multimon-ng $theirs_wall s"
awk -v o="$ours_wall" -v t="$theirs_wall" 'BEGIN { printf "velmora / multimon-ng speed in wall time: %.2f\n", t / o }'
awk -v a="$audio" -v o="$ours" -v oc="$ours_converting" -v c="$to_capture" -v t="$theirs" \
  -v r="$to_raw" 'BEGIN {
  printf "velmora decode (8-bit 44100 Hz input):               %7.3f s cpu  %8.0f x real time\n", o, a / o
  printf "  + sox making that input:                          %7.3f s cpu  %8.0f x real time\n", o + c, a / (o + c)
  printf "velmora decode (16-bit 22050 Hz, converting):        %7.3f s cpu  %8.0f x real time\n", oc, a / oc
  printf "multimon-ng (raw input):                            %7.3f s cpu  %8.0f x real time\n", t, a / t
  printf "  + sox making that input:                          %7.3f s cpu  %8.0f x real time\n", t + r, a / (t + r)
  printf "velmora / multimon-ng speed in processor time: %.2f (inputs made by sox: %.2f)\n", t / o, (t + r) / (o + c)
}'
# The presses must be the keys multimon-ng finds, the same and in order.
if [ "$our_keys" != "$their_keys" ]; then
  echo "velmora and multimon-ng disagree: ${#our_keys} and ${#their_keys} keys" >&2
  exit 1
fi
echo "the ${#their_keys} presses are the keys multimon-ng finds, in order"
