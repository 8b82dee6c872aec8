// The music (music.mp3) and the loading jingle (menu.wav).
//
// The music is written in beats on a tempo map near 89 BPM whose anchors are the
// show's cue positions (bytes of 16-bit stereo at 44100 Hz), so the downbeats and
// section changes fall exactly on the cues; cues between beats get their own hits.
#include <lame/lame.h>

#include <algorithm>
#include <stdexcept>

#include "direction/cues.h"
#include "tools/assetgen/synth.h"

namespace assetgen {
namespace {

// The time of cue k in seconds; cue 0 is the start of the music.
double cueTime(int k) { return (k == 0 ? 0u : kCuePositions[k - 1]) / 176400.0; }

// Beat -> cue anchors; between anchors the tempo is constant.
const std::pair<double, int> kAnchors[] = {{0, 1},   {4, 2},   {8, 3},   {12, 4},  {16, 5},  {24, 6},
                                           {32, 7},  {40, 8},  {44, 10}, {64, 14}, {80, 15}, {96, 16},
                                           {112, 17}, {118, 18}, {120, 19}, {128, 21}, {134, 22}, {136, 23},
                                           {142, 24}, {144, 25}, {160, 26}, {175, 27}};

double beatTime(double beat) {
    const size_t n = std::size(kAnchors);
    size_t k = 0;
    while (k + 2 < n && beat >= kAnchors[k + 1].first) ++k;
    double b0 = kAnchors[k].first, b1 = kAnchors[k + 1].first;
    double t0 = cueTime(kAnchors[k].second), t1 = cueTime(kAnchors[k + 1].second);
    return t0 + (beat - b0) * (t1 - t0) / (b1 - b0);
}

using Chord = std::vector<float>;
// A minor: chords as pad voicings, with the bass root.
struct Harmony {
    Chord pad;
    float root;
};
const Harmony Am{{57, 60, 64, 69}, 33}, F{{57, 60, 65, 53}, 29}, C{{55, 60, 64, 67}, 36}, G{{55, 59, 62, 67}, 31},
    Dm{{53, 57, 62, 65}, 38}, Bb{{53, 58, 62, 65}, 34}, E{{56, 59, 64, 68}, 40}, Em{{55, 59, 64, 67}, 40};

struct Song {
    Mix mix;
    std::vector<float> duck;
    Rng rng{0x5e1c0};
    explicit Song(size_t frames) : mix(frames), duck(frames, 1.0f) {}

    double t(double beat) const { return beatTime(beat); }
    double len(double beat, double beats) const { return beatTime(beat + beats) - beatTime(beat); }

    void kickAt(double beat, float vel) {
        double tt = t(beat);
        kick(mix, tt, vel);
        long n0 = std::lround(tt * kRate);
        for (long i = 0; i < kRate / 3; ++i)
            if (n0 + i < static_cast<long>(duck.size()))
                duck[n0 + i] = std::min(duck[n0 + i], 1 - 0.45f * std::exp(-i / (kRate * 0.09f)));
    }

    // One bar of drums from step patterns (16 steps): 'x' hit, 'o' soft, '-' rest.
    void drums(double bar, const char* k, const char* s, const char* h, float energy) {
        for (int i = 0; i < 16; ++i) {
            double b = bar + i * 0.25;
            // A touch of swing on the off-sixteenths.
            double sw = (i % 2) ? 0.03 : 0;
            if (k[i] == 'x') kickAt(b, 0.95f);
            if (k[i] == 'o') kickAt(b, 0.6f);
            if (s[i] == 'x') snare(mix, t(b), 0.8f, rng);
            if (s[i] == 'o') snare(mix, t(b + sw), 0.25f, rng);
            if (h[i] == 'x') hat(mix, t(b + sw), 0.5f * energy, false, rng);
            if (h[i] == 'o') hat(mix, t(b + sw), 0.25f * energy, false, rng);
            if (h[i] == 'O') hat(mix, t(b + sw), 0.4f * energy, true, rng);
        }
    }

    void bassBar(double bar, float root, const char* pattern, float vel) {
        // Pattern per 8th: r root, o octave, f fifth, '-' rest.
        for (int i = 0; i < 8; ++i) {
            char c = pattern[i];
            if (c == '-') continue;
            float note = root + (c == 'o' ? 12 : c == 'f' ? 7 : c == 'm' ? 3 : 0);
            bass(mix, t(bar + i * 0.5), len(bar + i * 0.5, 0.42), note, vel, &duck);
        }
    }

    void padBar(double bar, const Harmony& h, double beats, float vel, float bright) {
        pad(mix, t(bar), len(bar, beats) - 0.05, h.pad, vel, bright, &duck);
    }

    void arpBar(double bar, const Harmony& h, float vel, int steps = 16) {
        for (int i = 0; i < steps; ++i) {
            float note = h.pad[(i * 3 + i / 4) % h.pad.size()] + 12;
            pluck(mix, t(bar + i * 0.25), note, vel * (i % 4 == 0 ? 1.0f : 0.7f), (i % 2) ? 0.5f : -0.5f, rng);
        }
    }

    // Notes: {beat offset, length in beats, midi}.
    void melody(double bar, const std::vector<std::array<float, 3>>& notes, float vel, float transpose = 0) {
        float prev = 0;
        for (const auto& n : notes) {
            float from = (prev > 0 && std::abs(prev - n[2]) <= 5) ? prev + transpose : 0;
            lead(mix, t(bar + n[0]), len(bar + n[0], n[1]) * 0.92, n[2] + transpose, from, vel, -0.15f);
            prev = n[2];
        }
    }
};

const char* K_FULL = "x------x-x------";
const char* K_FOUR = "x---x---x---x---";
const char* K_HALF = "x-------x-------";
const char* K_BREAK = "x-----x---x--x--";
const char* S_BACK = "----x-------x---";
const char* S_GHOST = "----x--o-o--x--o";
const char* S_NONE = "----------------";
const char* H_8 = "x-x-x-x-x-x-x-O-";
const char* H_16 = "xoxoxoxoxoxoxoOo";
const char* H_NONE = "----------------";

// Lead phrases over four bars.
const std::vector<std::array<float, 3>> kMelodyA[4] = {
    {{0, 1.5f, 76}, {1.5f, 0.5f, 74}, {2, 1, 72}, {3, 1, 74}},
    {{0, 1.5f, 72}, {1.5f, 0.5f, 69}, {2, 2, 72}},
    {{0, 1.5f, 76}, {1.5f, 0.5f, 79}, {2, 1, 76}, {3, 1, 74}},
    {{0, 2, 74}, {2, 1, 71}, {3, 1, 67}}};
const std::vector<std::array<float, 3>> kMelodyB[4] = {
    {{0, 3, 77}, {3, 1, 76}}, {{0, 4, 72}}, {{0, 2, 74}, {2, 2, 77}}, {{0, 4, 76}}};
const std::vector<std::array<float, 3>> kMelodyC[4] = {
    {{0, 1, 72}, {1, 1, 74}, {2, 2, 76}}, {{0, 1, 74}, {1, 1, 71}, {2, 2, 67}},
    {{0, 2, 71}, {2, 2, 67}}, {{0, 3, 69}, {3, 1, 64}}};

std::vector<float> composeMusic(std::vector<float>& right, double seconds) {
    Song s(static_cast<size_t>(seconds * kRate));
    Mix& m = s.mix;
    const Harmony progA[4] = {Am, F, C, G}, progB[4] = {Dm, Am, Bb, E}, progC[4] = {F, G, Em, Am};

    // Intro (cue 1 hits at beat 0), riser into the first bar (cue 2).
    stab(m, s.t(0), {57, 64, 69, 72}, 0.9f, s.rng);
    crash(m, s.t(0), 0.7f, s.rng);
    boom(m, s.t(0), 0.8f);
    s.kickAt(0, 1.0f);
    s.padBar(0, Am, 4, 0.7f, 0.2f);
    sweep(m, s.t(1), s.t(4), 0.5f, true, s.rng);

    // Build-up, one new layer per cue (2, 3, 4).
    for (int bar = 0; bar < 3; ++bar) {
        double b = 4 + bar * 4;
        const Harmony& h = bar == 1 ? F : (bar == 2 ? G : Am);
        s.kickAt(b, 1.0f);
        crash(m, s.t(b), 0.3f + 0.1f * bar, s.rng);
        s.drums(b, K_HALF, bar == 2 ? S_BACK : S_NONE, bar >= 1 ? H_8 : H_NONE, 0.8f);
        s.bassBar(b, h.root, "r-r-r-or", 0.75f);
        s.padBar(b, h, 4, 0.8f, 0.35f + 0.15f * bar);
        if (bar >= 1) s.arpBar(b, h, 0.35f);
    }
    for (int i = 0; i < 4; ++i) snare(m, s.t(15 + i * 0.25), 0.3f + 0.15f * i, s.rng);

    // Interlude A (cue 5): drums out, a wailing lead over Dm and E.
    stab(m, s.t(16), {50, 57, 62, 65}, 1.0f, s.rng);
    crash(m, s.t(16), 0.8f, s.rng);
    boom(m, s.t(16), 0.9f);
    s.padBar(16, Dm, 4, 0.9f, 0.5f);
    s.padBar(20, E, 4, 0.9f, 0.6f);
    pluck(m, s.t(16), 38, 0.9f, 0, s.rng);
    bass(m, s.t(16), s.len(16, 3.5), 26, 0.6f, nullptr);
    bass(m, s.t(20), s.len(20, 3.5), 28, 0.6f, nullptr);
    lead(m, s.t(16.5), s.len(16.5, 3), 81, 76, 0.9f, 0.1f);
    lead(m, s.t(19.5), s.len(19.5, 0.5), 79, 0, 0.7f, 0.1f);
    lead(m, s.t(20), s.len(20, 3), 80, 84, 0.9f, 0.1f);
    sweep(m, s.t(22), s.t(24), 0.5f, true, s.rng);

    // Cue 6: the groove comes back while the tiles drift.
    for (int bar = 0; bar < 2; ++bar) {
        double b = 24 + bar * 4;
        const Harmony& h = progA[bar];
        s.drums(b, K_FOUR, S_BACK, H_8, 0.9f);
        s.bassBar(b, h.root, "r-rro-rf", 0.8f);
        s.padBar(b, h, 4, 0.8f, 0.5f);
        s.arpBar(b, h, 0.3f);
    }
    crash(m, s.t(24), 0.6f, s.rng);
    sweep(m, s.t(30), s.t(32), 0.45f, true, s.rng);

    // Scene 2 (cue 7): full groove with the main theme.
    auto groove = [&](double start, int bars, const Harmony* prog, const std::vector<std::array<float, 3>>* mel,
                      const char* k, const char* sn, const char* hh, float transpose) {
        for (int bar = 0; bar < bars; ++bar) {
            double b = start + bar * 4;
            const Harmony& h = prog[bar % 4];
            s.drums(b, k, sn, hh, 1.0f);
            s.bassBar(b, h.root, bar % 2 ? "r-rrf-or" : "r-rro-rm", 0.85f);
            s.padBar(b, h, 4, 0.75f, 0.6f);
            s.arpBar(b, h, 0.28f);
            if (mel) s.melody(b, mel[bar % 4], 0.8f, transpose);
        }
    };
    crash(m, s.t(32), 0.8f, s.rng);
    stab(m, s.t(32), {57, 64, 69}, 0.7f, s.rng);
    groove(32, 8, progA, kMelodyA, K_FULL, S_BACK, H_16, 0);
    // The zug beats (cues 8 to 11): two stab hits each time.
    for (int c : {8, 9, 10, 11}) {
        stab(m, cueTime(c), c % 2 ? Chord{60, 64, 69, 72} : Chord{57, 64, 69, 76}, 1.0f, s.rng);
        tom(m, cueTime(c), c % 2 ? 45 : 40, 0.8f);
    }
    // Cue 12: the picture flies at the viewer; cue 13: it is gone.
    stab(m, cueTime(12), {62, 65, 69, 74}, 0.9f, s.rng);
    tom(m, cueTime(12), 50, 0.9f);
    sweep(m, cueTime(12), cueTime(13) + 0.05, 0.8f, true, s.rng);
    stab(m, cueTime(13), {57, 64, 69, 76}, 1.0f, s.rng);
    crash(m, cueTime(13), 0.8f, s.rng);
    boom(m, cueTime(13), 0.7f);
    tom(m, cueTime(13), 38, 0.9f);

    // Interlude B (cue 14): breakdown, no kick; slow theme over Dm Am Bb E.
    stab(m, s.t(64), {50, 57, 62, 65}, 0.8f, s.rng);
    crash(m, s.t(64), 0.7f, s.rng);
    boom(m, s.t(64), 0.8f);
    for (int bar = 0; bar < 4; ++bar) {
        double b = 64 + bar * 4;
        const Harmony& h = progB[bar];
        s.padBar(b, h, 4, 0.9f, 0.4f);
        s.drums(b, S_NONE, S_NONE, "--o---o---o---o-", 0.7f);
        s.melody(b, kMelodyB[bar], 0.75f);
        bass(m, s.t(b), s.len(b, 3.8), h.root, 0.6f, nullptr);
        bell(m, s.t(b + 2.5), h.pad[2] + 12, 0.5f, 0.4f);
    }
    sweep(m, s.t(76), s.t(80), 0.55f, true, s.rng);
    for (int i = 0; i < 8; ++i) snare(m, s.t(78 + i * 0.25), 0.2f + 0.08f * i, s.rng);

    // Cue 15: back to the groove, theme an octave up on its second half.
    crash(m, s.t(80), 0.85f, s.rng);
    stab(m, s.t(80), {57, 64, 69, 72}, 0.9f, s.rng);
    groove(80, 4, progA, kMelodyA, K_FULL, S_BACK, H_16, 0);
    sweep(m, s.t(94), s.t(96), 0.45f, true, s.rng);

    // Scene 3 (cue 16): broken beat over F G Em Am; tiles come and go.
    crash(m, s.t(96), 0.8f, s.rng);
    boom(m, s.t(96), 0.7f);
    groove(96, 4, progC, nullptr, K_BREAK, S_GHOST, H_8, 0);
    crash(m, s.t(112), 0.6f, s.rng);
    groove(112, 8, progC, kMelodyC, K_BREAK, S_GHOST, H_16, 0);
    // A tile appears (cues 17, 19, 21, 23): bells; it fades away (18, 20, 22, 24): a falling sweep.
    float bellNote = 81;
    for (int c : {17, 19, 21, 23}) {
        bell(m, cueTime(c), bellNote, 0.9f, -0.3f);
        bell(m, cueTime(c), bellNote + 7, 0.5f, 0.3f);
        bellNote += 2;
    }
    for (int c : {18, 20, 22, 24}) {
        sweep(m, cueTime(c), cueTime(c) + 1.2, 0.6f, false, s.rng);
        tom(m, cueTime(c), 47, 0.9f);
        tom(m, cueTime(c), 40, 0.6f);
        snare(m, cueTime(c), 0.7f, s.rng);
    }
    for (int i = 0; i < 8; ++i) snare(m, s.t(142 + i * 0.25), 0.25f + 0.08f * i, s.rng);

    // Scene 4 (cue 25): the climax; theme an octave up.
    crash(m, s.t(144), 0.9f, s.rng);
    stab(m, s.t(144), {57, 64, 69, 72, 76}, 1.0f, s.rng);
    boom(m, s.t(144), 0.8f);
    groove(144, 4, progA, kMelodyA, K_FULL, S_BACK, H_16, 12);
    // Cue 26: the camera shakes; double-time hats and a rising close.
    crash(m, s.t(160), 0.9f, s.rng);
    stab(m, s.t(160), {53, 60, 65, 69}, 0.9f, s.rng);
    groove(160, 3, progB, kMelodyA, K_FOUR, S_BACK, H_16, 12);
    // A three-beat bar with a snare roll into the finale.
    s.padBar(172, E, 3, 0.9f, 0.8f);
    s.bassBar(172, 40, "r-r-r---", 0.85f);
    for (int i = 0; i < 12; ++i) snare(m, s.t(172 + i * 0.25), 0.3f + 0.05f * i, s.rng);
    s.kickAt(172, 0.9f);
    sweep(m, s.t(172), s.t(175), 0.6f, true, s.rng);

    // Finale (cue 27): the last hit and a long A minor (add 9) chord dying away.
    double fin = s.t(175);
    stab(m, fin, {45, 57, 64, 69, 71, 72}, 1.0f, s.rng);
    crash(m, fin, 1.0f, s.rng);
    boom(m, fin, 1.0f);
    s.kickAt(175, 1.0f);
    pad(m, fin, 4.5, {57, 60, 64, 69, 71}, 0.9f, 0.5f, nullptr);
    bass(m, fin, 3.5, 33, 0.7f, nullptr);
    bell(m, fin + 1.0, 81, 0.6f, -0.4f);
    bell(m, fin + 1.7, 76, 0.5f, 0.4f);
    bell(m, fin + 2.4, 72, 0.45f, -0.2f);
    bell(m, fin + 3.1, 69, 0.5f, 0.2f);

    applyEffects(m, static_cast<float>(0.75 * 60 / 89), 1.0f);
    // Fade the last tail to true silence before the end of the file.
    size_t end = m.frames(), fadeStart = static_cast<size_t>((fin + 6.0) * kRate);
    for (size_t i = fadeStart; i < end; ++i) {
        float g = std::max(0.0f, 1 - static_cast<float>(i - fadeStart) / (kRate * 2.0f));
        m.l[i] *= g * g;
        m.r[i] *= g * g;
    }
    right = std::move(m.r);
    return std::move(m.l);
}

std::vector<uint8_t> encodeMp3(const std::vector<float>& l, const std::vector<float>& r) {
    lame_global_flags* gf = lame_init();
    if (!gf) throw std::runtime_error("lame_init failed");
    lame_set_in_samplerate(gf, kRate);
    lame_set_out_samplerate(gf, kRate);
    lame_set_num_channels(gf, 2);
    lame_set_mode(gf, JOINT_STEREO);
    lame_set_VBR(gf, vbr_off);
    lame_set_brate(gf, 256);
    lame_set_quality(gf, 2);
    lame_set_bWriteVbrTag(gf, 1);  // the Info/LAME tag carries encoder delay and padding
    lame_set_write_id3tag_automatic(gf, 0);
    if (lame_init_params(gf) < 0) throw std::runtime_error("lame_init_params failed");
    std::vector<uint8_t> out;
    std::vector<unsigned char> buf(1 << 17);
    const size_t chunk = 8192;
    for (size_t i = 0; i < l.size(); i += chunk) {
        int n = static_cast<int>(std::min(chunk, l.size() - i));
        int w = lame_encode_buffer_ieee_float(gf, l.data() + i, r.data() + i, n, buf.data(), static_cast<int>(buf.size()));
        if (w < 0) throw std::runtime_error("lame encode failed");
        out.insert(out.end(), buf.begin(), buf.begin() + w);
    }
    int w = lame_encode_flush(gf, buf.data(), static_cast<int>(buf.size()));
    if (w < 0) throw std::runtime_error("lame flush failed");
    out.insert(out.end(), buf.begin(), buf.begin() + w);
    // The first frame of the stream is a placeholder for the tag: fill it in.
    size_t tagSize = lame_get_lametag_frame(gf, buf.data(), buf.size());
    if (tagSize == 0 || tagSize > buf.size() || tagSize > out.size()) throw std::runtime_error("no LAME tag");
    std::copy(buf.begin(), buf.begin() + tagSize, out.begin());
    lame_close(gf);
    return out;
}

// The jingle: one bar at 96 BPM (2.5 s) in the music's style. It is rendered
// several times over and the last pass is kept, so reverb and delay tails wrap
// around and the loop joins without a click.
void composeJingle(std::vector<float>& l, std::vector<float>& r) {
    const double bar = 2.5, beat = bar / 4;
    const int passes = 4;
    Mix m(static_cast<size_t>(bar * passes * kRate));
    std::vector<float> duck(m.frames(), 1.0f);
    for (int p = 0; p < passes; ++p) {
        Rng rng(0x6a11);  // every pass identical, so the kept pass is periodic
        double t0 = p * bar;
        for (int b = 0; b < 4; ++b) {
            kick(m, t0 + b * beat, b % 2 ? 0.6f : 0.85f);
            long n0 = std::lround((t0 + b * beat) * kRate);
            for (long i = 0; i < kRate / 4; ++i)
                if (n0 + i < static_cast<long>(duck.size())) duck[n0 + i] = std::min(duck[n0 + i], 1 - 0.4f * std::exp(-i / (kRate * 0.08f)));
            hat(m, t0 + b * beat + beat / 2, 0.45f, b == 3, rng);
        }
        snare(m, t0 + 1 * beat, 0.5f, rng);
        snare(m, t0 + 3 * beat, 0.5f, rng);
        const float arp[8] = {69, 72, 76, 81, 76, 72, 69, 64};
        for (int i = 0; i < 8; ++i) pluck(m, t0 + i * beat / 2, arp[i], 0.5f, i % 2 ? 0.5f : -0.5f, rng);
        for (int i = 0; i < 8; ++i) bass(m, t0 + i * beat / 2, beat * 0.4, i == 6 ? 45 : 33, 0.6f, &duck);
        pad(m, t0, bar - 0.3, {57, 60, 64, 71}, 0.7f, 0.4f, &duck);
        bell(m, t0 + 3.5 * beat, 88, 0.35f, 0.3f);
    }
    applyEffects(m, static_cast<float>(beat * 0.75), 0.9f);
    size_t n = static_cast<size_t>(bar * kRate), from = static_cast<size_t>(bar * (passes - 1) * kRate);
    l.assign(m.l.begin() + from, m.l.begin() + from + n);
    r.assign(m.r.begin() + from, m.r.begin() + from + n);
}

std::vector<uint8_t> encodeWav(const std::vector<float>& l, const std::vector<float>& r) {
    std::vector<uint8_t> b;
    auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i))); };
    auto u16 = [&](uint32_t v) { for (int i = 0; i < 2; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i))); };
    auto tag = [&](const char* s) { for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(s[i])); };
    uint32_t data = static_cast<uint32_t>(l.size() * 4);
    tag("RIFF"); u32(36 + data); tag("WAVE");
    tag("fmt "); u32(16); u16(1); u16(2); u32(kRate); u32(kRate * 4); u16(4); u16(16);
    tag("data"); u32(data);
    for (size_t i = 0; i < l.size(); ++i) {
        for (float v : {l[i], r[i]}) {
            long s = std::lround(std::clamp(v, -1.0f, 1.0f) * 32767.0f);
            u16(static_cast<uint32_t>(static_cast<int16_t>(s)) & 0xffff);
        }
    }
    return b;
}

}  // namespace

void writeAudio(const std::string& dir) {
    std::vector<float> l, r;
    composeJingle(l, r);
    // Quieter than the music, peaks well below full scale.
    float peak = 0;
    for (size_t i = 0; i < l.size(); ++i) peak = std::max({peak, std::abs(l[i]), std::abs(r[i])});
    float g = 0.6f / std::max(peak, 1e-6f);
    for (size_t i = 0; i < l.size(); ++i) { l[i] *= g; r[i] *= g; }
    writeFile(dir + "/menu.wav", encodeWav(l, r));

    l = composeMusic(r, 126.5);
    master(l, r, -14.0f, 0.76f);
    writeFile(dir + "/music.mp3", encodeMp3(l, r));
}

}  // namespace assetgen
