#!/bin/sh
# Measures the generated music as a listener hears it, against the show's cues:
#   tools/measure-music.sh [DATA folder or music file]     (default: DATA)
# Loudness (integrated, range, true peak) with FFmpeg's ebur128 filter; the
# onsets aubioonset finds (high-frequency content) nearest to each cue; the
# 2-second RMS level before and after each scene change with sox. Needs
# ffmpeg, sox and aubio-tools (apt-get install ffmpeg sox aubio-tools).
# Exits 1 when a check fails: every cue within 20 ms of an onset, -14 LUFS
# (+-0.5), loudness range at least 5 LU, true peak below -1 dBFS, the finale's
# hit the loudest moment, and a level change of at least 3 dB at every scene
# change.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
music=${1:-DATA}
[ -d "$music" ] && music=$music/music.mp3
for tool in ffmpeg sox aubioonset; do
    command -v $tool >/dev/null || { echo "measure-music: $tool is missing (apt-get install ffmpeg sox aubio-tools)" >&2; exit 2; }
done
[ -f "$music" ] || { echo "measure-music: no $music" >&2; exit 2; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
wav=$tmp/music.wav
# FFmpeg reads the LAME tag, so the decode is gapless like the show's.
ffmpeg -v error -i "$music" -c:a pcm_s16le "$wav"

# The cue positions, bytes of 16-bit stereo at 44,100 Hz, as seconds (cue 1 first).
sed -n '/kCuePositions\[27\] = {/,/};/p' "$root/direction/cues.h" | sed 1d | grep -o '[0-9][0-9]*' |
    awk '{ printf "%d %.6f\n", NR, $1 / 176400 }' >"$tmp/cues"
[ "$(wc -l <"$tmp/cues")" -eq 27 ] || { echo "measure-music: cannot read 27 cues from direction/cues.h" >&2; exit 2; }

ffmpeg -nostats -i "$wav" -filter_complex ebur128=peak=true -f null - 2>"$tmp/ebur128" || true
awk '/Summary:/ { n = 0 } / I:/ { i = $2 } / LRA:/ { lra = $2 } / Peak:/ { tp = $2 }
     END { printf "integrated %s LUFS, loudness range %s LU, true peak %s dBFS\n", i, lra, tp
           bad = (i < -14.5 || i > -13.5) + (lra < 5) + (tp >= -1)
           exit bad > 0 }' "$tmp/ebur128" || fail=1

# The loudest moment (momentary loudness, 400 ms) should be the finale's hit at cue 27.
finale=$(awk '$1 == 27 { print $2 }' "$tmp/cues")
awk -v fin="$finale" '/ M:/ { gsub(/M: */, "M: "); for (i = 1; i < NF; i++) { if ($i == "t:") t = $(i + 1); if ($i == "M:") m = $(i + 1) }
         if (m == "nan") next
         if (t > fin && t <= fin + 1) { if (m > hit) { hit = m; at = t } } else if (m > other) { other = m; when = t } }
     BEGIN { hit = other = -1000 }
     END { printf "loudest moment: %.1f LUFS momentary at %.1f s (cue 27 at %.1f s); elsewhere at most %.1f LUFS (%.1f s)\n", hit, at, fin, other, when
           exit !(hit > other) }' "$tmp/ebur128" || fail=1

aubioonset -O hfc -i "$wav" >"$tmp/onsets"
echo "cue  time s   nearest onset (ms, + after the cue)"
awk 'NR == FNR { onset[n++] = $1; next }
     { best = 1e9; for (k = 0; k < n; k++) { d = (onset[k] - $2) * 1000; if (d * d < best * best) best = d }
       ok = best <= 20 && best >= -20
       printf "%3d  %7.3f  %+7.1f%s\n", $1, $2, best, ok ? "" : "   more than 20 ms"; bad += !ok }
     END { exit bad > 0 }' "$tmp/onsets" "$tmp/cues" || fail=1

# RMS level (dBFS, both channels) of `seconds` from `start`.
level() { sox "$wav" -n trim "$1" "$2" stats 2>&1 | awk '/RMS lev dB/ { print $4 }'; }
echo "scene change  2 s before  2 s after (dBFS)"
for cue in 5 6 7 14 15 16 25 27; do
    t=$(awk -v c=$cue '$1 == c { print $2 }' "$tmp/cues")
    before=$(level "$(awk -v t="$t" 'BEGIN { print t - 2 }')" 2)
    after=$(level "$t" 2)
    awk -v c=$cue -v b="$before" -v a="$after" 'BEGIN {
        d = a - b; ok = d >= 3 || d <= -3
        printf "cue %2d        %6.1f     %6.1f   %+5.1f dB%s\n", c, b, a, d, ok ? "" : "   less than 3 dB"; exit !ok }' || fail=1
done
echo "2-second levels over the track (dBFS):"
length=$(soxi -D "$wav")
t=0
while awk -v t=$t -v l="$length" 'BEGIN { exit !(t + 2 <= l) }'; do
    printf "%s " "$(level $t 2)"
    t=$((t + 2))
done
echo
exit ${fail:-0}
