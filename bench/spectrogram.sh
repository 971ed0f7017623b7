#!/usr/bin/env bash
# `velmora spectrogram` beside `sox ... spectrogram` on the same 10-minute
# recording of DTMF keys (the sixteen keys over and over, 100 ms of tone and
# 100 ms of silence each, 16-bit mono 22050 Hz, as bench/batch_decoder.sh
# makes it).  Both draw an 800-column PNG of the whole file; velmora also
# runs the key decision over every buffer to mark the keys, so it is timed
# with and without (--no-keys).  The figures are processor seconds (user +
# system), best of `runs` interleaved runs.
#
# Usage: bench/spectrogram.sh [path/to/velmora] [minutes] [runs]
set -euo pipefail

velmora=${1:-build/bin/velmora}
minutes=${2:-10}
runs=${3:-3}
for tool in sox "$velmora"; do
  command -v "$tool" >/dev/null || { echo "spectrogram: $tool is not available" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$(dirname "$0")/dtmf_recording.sh" "$work/recording.wav" "$minutes"
audio=$(soxi -D "$work/recording.wav")

cpu_seconds() {
  /usr/bin/time -f "%U %S" -o "$work/time" "$@" >/dev/null 2>&1
  awk '{ printf "%.3f", $1 + $2 }' "$work/time"
}
best() { printf '%s\n' "$@" | sort -g | head -1; }

sox_t=(); vel_t=(); vel_nokeys_t=()
for ((i = 0; i < runs; i++)); do
  sox_t+=("$(cpu_seconds sox "$work/recording.wav" -n spectrogram -x 800 -y 400 -o "$work/sox.png")")
  vel_t+=("$(cpu_seconds "$velmora" spectrogram "$work/recording.wav" -o "$work/v.png" \
    --height 400)")
  vel_nokeys_t+=("$(cpu_seconds "$velmora" spectrogram "$work/recording.wav" -o "$work/v.png" \
    --height 400 --no-keys)")
done
s=$(best "${sox_t[@]}"); v=$(best "${vel_t[@]}"); n=$(best "${vel_nokeys_t[@]}")
echo "recording: $audio s of audio, 16-bit mono 22050 Hz"
echo "sox spectrogram (800x400):                 $s s"
echo "velmora spectrogram --no-keys (800x400):   $n s  ($(awk -v a="$n" -v b="$s" 'BEGIN{printf "%.2f", a/b}') x sox)"
echo "velmora spectrogram with key marks:        $v s  ($(awk -v a="$v" -v b="$s" 'BEGIN{printf "%.2f", a/b}') x sox)"
