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

# One round of the sixteen keys (3.2 s), repeated to fill the recording.
pairs=(697:1209 697:1336 697:1477 697:1633 770:1209 770:1336 770:1477 770:1633
       852:1209 852:1336 852:1477 852:1633 941:1209 941:1336 941:1477 941:1633)
round=()
for p in "${pairs[@]}"; do
  sox -D -n -r 22050 -b 16 -c 1 "$work/k$p.wav" synth 0.1 sine "${p%:*}" sine "${p#*:}" \
    vol 0.7 pad 0 0.1
  round+=("$work/k$p.wav")
done
sox "${round[@]}" "$work/round.wav"
rounds=$(( (minutes * 60 * 10 + 31) / 32 ))
list=()
for ((r = 0; r < rounds; r++)); do list+=("$work/round.wav"); done
sox "${list[@]}" "$work/recording.wav"
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
