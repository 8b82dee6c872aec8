// The music (music.mp3) and the loading jingle (menu.wav).
//
// The music is written in beats on a tempo map near 89 BPM whose anchors are the
// show's cue positions (bytes of 16-bit stereo at 44100 Hz), so the downbeats and
// section changes fall exactly on the cues; cues between beats get their own hits.
// All of it is in A minor. Each scene change starts a section with its own level,
// instruments and groove, and a break leads into it (a riser cut off short, a
// fill, drums dropping out), so that the hit on the cue stands out. The finale's
// hit is the loudest moment; what follows dies away within the seconds the show
// plays while it slows the music to a stop.
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

// Lead phrases over four bars: {beat offset, length in beats, midi}.
using Phrase = std::vector<std::array<float, 3>>;
const Phrase kMelodyA[4] = {  // the main theme, over Am F C G
    {{0, 1.5f, 76}, {1.5f, 0.5f, 74}, {2, 1, 72}, {3, 1, 74}},
    {{0, 1.5f, 72}, {1.5f, 0.5f, 69}, {2, 2, 72}},
    {{0, 1.5f, 76}, {1.5f, 0.5f, 79}, {2, 1, 76}, {3, 1, 74}},
    {{0, 2, 74}, {2, 1, 71}, {3, 1, 67}}};
const Phrase kMelodyB[4] = {  // the slow theme, over Dm Am Bb E
    {{0, 3, 77}, {3, 1, 76}}, {{0, 4, 72}}, {{0, 2, 74}, {2, 2, 77}}, {{0, 4, 76}}};
const Phrase kMelodyC[4] = {  // scene 3, over F G Em Am
    {{0, 1, 72}, {1, 1, 74}, {2, 2, 76}}, {{0, 1, 74}, {1, 1, 71}, {2, 2, 67}},
    {{0, 2, 71}, {2, 2, 67}}, {{0, 3, 69}, {3, 1, 64}}};
const Phrase kMelodyD[4] = {  // the close, over Dm Am Bb and a three-beat bar of E
    {{0, 1, 77}, {1, 1, 76}, {2, 2, 74}}, {{0, 1.5f, 72}, {1.5f, 0.5f, 71}, {2, 2, 69}},
    {{0, 1.5f, 74}, {1.5f, 0.5f, 77}, {2, 2, 77}}, {{0, 1, 76}, {1, 1, 80}, {2, 1, 83}}};

// Drum lanes, 16 steps a bar: 'x' hit, 'o' soft, 'O' open hat, '-' rest.
const char* K_FULL = "x------x-x------";
const char* K_FOUR = "x---x---x---x---";
const char* K_HALF = "x-------x-------";
const char* K_DRIFT = "x-----x---x-----";
const char* K_BREAK = "x-----x---x--x--";
const char* S_BACK = "----x-------x---";
const char* S_GHOST = "----x--o-o--x--o";
const char* H_8 = "x-x-x-x-x-x-x-O-";
const char* H_16 = "xoxoxoxoxoxoxoOo";
const char* H_OPEN = "xoOoxoOoxoOoxoOo";
const char* C_THREE = "--------x-------";
const char* C_BACK = "----x-------x---";
const char* NONE = "----------------";

// How one section plays its bars: drums, bass, chords, arpeggio, lead.
struct Style {
    const char *kick, *snare, *hats, *claps;
    float drums;                     // hats and claps level
    const char *bassA, *bassB;       // alternate bars; per 8th: r root, o octave, f fifth, m minor third, '-' rest
    float bass;
    bool acid;                       // the squelchy bass instead
    float pad, padBright, arp;       // 0: none
    const Phrase* melody;            // none: nullptr
    float lead, transpose;
};

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

    // Four toms on the sixteenths from `beat`, falling in pitch, rising in level.
    void tomFill(double beat, float midi, float vel, float velStep) {
        for (int i = 0; i < 4; ++i) tom(mix, t(beat + i * 0.25), midi - 3 * i, vel + velStep * i);
    }

    // One bar of drums, or its first `steps` sixteenths.
    void drums(double bar, const Style& st, int steps = 16) {
        for (int i = 0; i < steps; ++i) {
            double b = bar + i * 0.25;
            // A touch of swing on the off-sixteenths.
            double sw = (i % 2) ? 0.03 : 0;
            const char k = st.kick[i], s = st.snare[i], h = st.hats[i], c = st.claps[i];
            if (k == 'x') kickAt(b, 0.95f);
            if (k == 'o') kickAt(b, 0.6f);
            if (s == 'x') snare(mix, t(b), 0.8f, rng);
            if (s == 'o') snare(mix, t(b + sw), 0.25f, rng);
            if (h == 'x') hat(mix, t(b + sw), 0.5f * st.drums, false, rng);
            if (h == 'o') hat(mix, t(b + sw), 0.25f * st.drums, false, rng);
            if (h == 'O') hat(mix, t(b + sw), 0.4f * st.drums, true, rng);
            if (c == 'x') clap(mix, t(b), 0.7f * st.drums, rng);
        }
    }

    void bassBar(double bar, const Harmony& h, const Style& st, bool second) {
        const char* pattern = second ? st.bassB : st.bassA;
        for (int i = 0; i < 8; ++i) {
            char c = pattern[i];
            if (c == '-') continue;
            float note = h.root + (c == 'o' ? 12 : c == 'f' ? 7 : c == 'm' ? 3 : 0);
            double b = bar + i * 0.5;
            if (st.acid)
                acid(mix, t(b), len(b, 0.3), note + 12, st.bass, i % 3 == 0, &duck);
            else
                bass(mix, t(b), len(b, 0.42), note, st.bass, &duck);
        }
    }

    void padBar(double bar, const Harmony& h, double beats, float vel, float bright) {
        pad(mix, t(bar), len(bar, beats) - 0.05, h.pad, vel, bright, &duck);
    }

    void arpBar(double bar, const Harmony& h, float vel) {
        for (int i = 0; i < 16; ++i) {
            float note = h.pad[(i * 3 + i / 4) % h.pad.size()] + 12;
            pluck(mix, t(bar + i * 0.25), note, vel * (i % 4 == 0 ? 1.0f : 0.7f), (i % 2) ? 0.5f : -0.5f, rng);
        }
    }

    void melody(double bar, const Phrase& notes, float vel, float transpose) {
        float prev = 0;
        for (const auto& n : notes) {
            float from = (prev > 0 && std::abs(prev - n[2]) <= 5) ? prev + transpose : 0;
            lead(mix, t(bar + n[0]), len(bar + n[0], n[1]) * 0.92, n[2] + transpose, from, vel, -0.15f);
            prev = n[2];
        }
    }

    // `bars` bars from `start` in one style over a four-chord progression.
    void play(double start, int bars, const Harmony* prog, const Style& st) {
        for (int bar = 0; bar < bars; ++bar) {
            double b = start + bar * 4;
            const Harmony& h = prog[bar % 4];
            drums(b, st);
            if (st.bass > 0) bassBar(b, h, st, bar % 2);
            if (st.pad > 0) padBar(b, h, 4, st.pad, st.padBright);
            if (st.arp > 0) arpBar(b, h, st.arp);
            if (st.melody) melody(b, st.melody[bar % 4], st.lead, st.transpose);
        }
    }

    // A noise riser from `from` that stops short of the beat `to`, leaving a
    // moment of air before the hit there.
    void riser(double from, double to, float vel) { sweep(mix, t(from), t(to) - 0.12, vel, true, rng); }

    // A hit on a section's first beat: chord stab, cymbal and, for the big
    // ones, a low boom.
    void hit(double time, const Chord& chord, float vel, float cymbal, float low) {
        stab(mix, time, chord, vel, rng);
        crash(mix, time, cymbal, rng);
        if (low > 0) boom(mix, time, low);
    }
};

const Harmony kProgA[4] = {Am, F, C, G}, kProgB[4] = {Dm, Am, Bb, E}, kProgC[4] = {F, G, Em, Am};

// Cues 1 to 4: the opening hit, then one layer more at each cue.
void intro(Song& s) {
    s.hit(s.t(0), {57, 64, 69, 72}, 0.8f, 0.6f, 0.5f);
    s.kickAt(0, 1.0f);
    s.padBar(0, Am, 4, 0.5f, 0.2f);
    s.riser(1.5, 4, 0.3f);
    const Harmony* chords[3] = {&Am, &F, &G};
    const Style layers[3] = {
        {K_HALF, NONE, NONE, NONE, 0.7f, "r-r-r-or", "r-r-r-or", 0.6f, false, 0.55f, 0.3f, 0, nullptr, 0, 0},
        {K_HALF, NONE, H_8, NONE, 0.75f, "r-r-r-or", "r-r-r-or", 0.65f, false, 0.6f, 0.45f, 0.25f, nullptr, 0, 0},
        {K_HALF, S_BACK, H_8, NONE, 0.85f, "r-r-r-or", "r-r-r-or", 0.7f, false, 0.65f, 0.6f, 0.3f, nullptr, 0, 0},
    };
    for (int bar = 0; bar < 3; ++bar) {
        double b = 4 + bar * 4;
        crash(s.mix, s.t(b), 0.35f + 0.1f * bar, s.rng);
        s.play(b, 1, chords[bar], layers[bar]);
    }
    // A tom fill into the interlude.
    s.tomFill(15, 50.0f, 0.45f, 0.1f);
}

// Cue 5: drums out; a wailing lead over Dm and E, quiet.
void interludeA(Song& s) {
    Mix& m = s.mix;
    s.hit(s.t(16), {50, 57, 62, 65}, 0.5f, 0.4f, 0);
    s.padBar(16, Dm, 4, 0.36f, 0.35f);
    s.padBar(20, E, 4, 0.36f, 0.45f);
    bass(m, s.t(16), s.len(16, 3.5), 26, 0.27f, nullptr);
    bass(m, s.t(20), s.len(20, 3.5), 28, 0.27f, nullptr);
    lead(m, s.t(16.5), s.len(16.5, 3), 81, 76, 0.42f, 0.1f);
    lead(m, s.t(19.5), s.len(19.5, 0.5), 79, 0, 0.34f, 0.1f);
    lead(m, s.t(20), s.len(20, 3), 80, 84, 0.42f, 0.1f);
    bell(m, s.t(18.5), 74, 0.3f, -0.4f);
    bell(m, s.t(22.5), 76, 0.3f, 0.4f);
    s.riser(22, 24, 0.25f);
}

// Cue 6: the tiles drift; a half-time groove of kick, claps, shaker-like hats,
// plucked arpeggios and a dotted bass over a dark pad, without lead.
void drift(Song& s) {
    const Style st = {K_DRIFT, NONE, H_16, C_THREE, 0.9f, "r--r--o-", "r--r--f-", 0.9f, false,
                      0.35f, 0.1f, 0.5f, nullptr, 0, 0};
    crash(s.mix, s.t(24), 0.5f, s.rng);
    s.play(24, 2, kProgA, st);
    // A tom fill into scene 2.
    s.tomFill(31, 47.0f, 0.35f, 0.08f);
}

// Cues 7 to 13: the full groove with the main theme; the zug hits.
void sceneTwo(Song& s) {
    Mix& m = s.mix;
    const Style st = {K_FULL, S_BACK, H_16, NONE, 1.0f, "r-rro-rm", "r-rrf-or", 0.9f, false,
                      0.75f, 0.6f, 0.28f, kMelodyA, 0.8f, 0};
    s.hit(s.t(32), {57, 64, 69}, 0.8f, 0.8f, 0.5f);
    s.play(32, 8, kProgA, st);
    // The zug beats (cues 8 to 11): a stab and a tom each.
    for (int c : {8, 9, 10, 11}) {
        stab(m, cueTime(c), c % 2 ? Chord{60, 64, 69, 72} : Chord{57, 64, 69, 76}, 1.0f, s.rng);
        tom(m, cueTime(c), c % 2 ? 45.0f : 40.0f, 0.8f);
    }
    // Cue 12: the picture flies at the viewer; cue 13: it is gone.
    stab(m, cueTime(12), {62, 65, 69, 74}, 0.9f, s.rng);
    tom(m, cueTime(12), 50, 0.9f);
    sweep(m, cueTime(12), cueTime(13) - 0.06, 0.45f, true, s.rng);
    s.hit(cueTime(13), {57, 64, 69, 76}, 0.7f, 0.6f, 0.3f);
    tom(m, cueTime(13), 38, 0.7f);
}

// Cue 14: the breakdown; no kick, the slow theme over Dm Am Bb E, bells.
void interludeB(Song& s) {
    Mix& m = s.mix;
    const Style st = {NONE, NONE, "--o---o---o---o-", NONE, 0.5f, "r-------", "r-------", 0, false,
                      0.48f, 0.35f, 0, kMelodyB, 0.45f, 0};
    s.hit(s.t(64), {50, 57, 62, 65}, 0.5f, 0.45f, 0);
    s.play(64, 4, kProgB, st);
    for (int bar = 0; bar < 4; ++bar) {
        double b = 64 + bar * 4;
        bass(m, s.t(b), s.len(b, 3.8), kProgB[bar].root, 0.32f, nullptr);
        bell(m, s.t(b + 2.5), kProgB[bar].pad[2] + 12, 0.3f, 0.4f);
    }
    s.riser(76, 80, 0.4f);
    for (int i = 0; i < 7; ++i) snare(m, s.t(78 + i * 0.25), 0.15f + 0.06f * i, s.rng);
}

// Cue 15: the groove comes back harder: claps on the backbeat, open hats.
void groove(Song& s) {
    const Style st = {K_FULL, S_BACK, H_OPEN, C_BACK, 1.0f, "r-rro-rm", "r-rrf-or", 0.9f, false,
                      0.75f, 0.7f, 0.3f, kMelodyA, 0.85f, 0};
    s.hit(s.t(80), {57, 64, 69, 72}, 0.9f, 0.85f, 0.5f);
    s.play(80, 4, kProgA, st);
    s.tomFill(95, 50.0f, 0.4f, 0.08f);
}

// Cues 16 to 24: scene 3, a broken beat with an acid bass over F G Em Am;
// four bars bare, then pad, arpeggio and theme. Tiles appear (bells) and
// fade away (a falling sweep and toms).
void sceneThree(Song& s) {
    Mix& m = s.mix;
    const Style bare = {K_BREAK, S_GHOST, H_8, NONE, 0.6f, "r-rr-o-r", "r-r-or-f", 0.45f, true,
                        0, 0, 0, nullptr, 0, 0};
    Style full = bare;
    full.hats = H_16;
    full.drums = 0.9f;
    full.bass = 0.55f;
    full.pad = 0.6f;
    full.padBright = 0.5f;
    full.arp = 0.22f;
    full.melody = kMelodyC;
    full.lead = 0.75f;
    crash(m, s.t(96), 0.5f, s.rng);
    s.play(96, 4, kProgC, bare);
    for (int bar = 0; bar < 4; ++bar) bell(m, s.t(96 + bar * 4 + 2.5), kProgC[bar].pad[3] + 24, 0.3f, -0.3f);
    s.play(112, 7, kProgC, full);
    // Half a bar on E, the climax's dominant: cue 24 at beat 142 ends the groove.
    s.drums(140, full, 8);
    s.bassBar(140, E, full, true);
    s.padBar(140, E, 4, 0.5f, 0.4f);
    // The bells climb A B C D, each with a note of its chord (F Em F Em) above.
    const std::pair<int, std::array<float, 2>> tiles[4] = {{17, {81, 84}}, {19, {83, 86}}, {21, {84, 89}}, {23, {86, 91}}};
    for (const auto& [c, notes] : tiles) {
        bell(m, cueTime(c), notes[0], 0.7f, -0.3f);
        bell(m, cueTime(c), notes[1], 0.4f, 0.3f);
    }
    for (int c : {18, 20, 22, 24}) {
        sweep(m, cueTime(c), cueTime(c) + 1.0, 0.5f, false, s.rng);
        tom(m, cueTime(c), 47, 0.7f);
        tom(m, cueTime(c), 40, 0.45f);
        snare(m, cueTime(c), 0.6f, s.rng);
    }
    // The break into the climax: a snare roll.
    for (int i = 0; i < 6; ++i) snare(m, s.t(142.5 + i * 0.25), 0.2f + 0.08f * i, s.rng);
}

// Cues 25 and 26: the climax, four to the floor with claps, the theme an
// octave up; then the close over Dm Am Bb E with double-time hats, and a
// three-beat bar that builds into the finale.
void climax(Song& s) {
    Mix& m = s.mix;
    const Style st = {K_FOUR, S_BACK, H_OPEN, C_BACK, 1.2f, "r-rro-rm", "r-rrf-or", 1.0f, false,
                      0.9f, 0.8f, 0.35f, kMelodyA, 0.9f, 12};
    s.hit(s.t(144), {57, 64, 69, 72, 76}, 1.0f, 0.9f, 0.6f);
    s.play(144, 4, kProgA, st);
    crash(m, s.t(152), 0.7f, s.rng);
    Style close = st;
    close.hats = H_16;
    close.drums = 1.3f;
    close.melody = kMelodyD;
    close.transpose = 0;
    s.hit(s.t(160), {53, 60, 65, 69}, 0.9f, 0.9f, 0);
    s.play(160, 3, kProgB, close);
    // The three-beat bar on E: drums out, the lead climbing, a snare roll and
    // a riser, then air.
    s.padBar(172, E, 3, 0.4f, 0.6f);
    s.melody(172, kMelodyD[3], 0.6f, 0);
    bass(m, s.t(172), s.len(172, 2.5), 40, 0.4f, nullptr);
    s.kickAt(172, 0.8f);
    for (int i = 0; i < 10; ++i) snare(m, s.t(172 + i * 0.25), 0.1f + 0.045f * i, s.rng);
    s.riser(172, 175, 0.4f);
}

// Cue 27: the last and biggest hit, an A minor (add 9) chord and bells dying
// away within three seconds, while the show slows the music to a stop.
void finale(Song& s) {
    Mix& m = s.mix;
    double fin = s.t(175);
    s.hit(fin, {45, 57, 64, 69, 71, 72, 76}, 1.2f, 1.0f, 0.5f);
    stab(m, fin, {81, 84, 88}, 1.0f, s.rng);
    crash(m, fin, 0.9f, s.rng);
    s.kickAt(175, 1.0f);
    clap(m, fin, 0.9f, s.rng);
    snare(m, fin, 0.9f, s.rng);
    pad(m, fin, 0.2, {57, 60, 64, 69, 71}, 1.8f, 0.7f, nullptr, 1.5f);
    bass(m, fin, 1.2, 33, 0.7f, nullptr);
    const float bells[4] = {81, 76, 72, 69};
    for (int i = 0; i < 4; ++i) bell(m, fin + 0.35 * (i + 1), bells[i], 0.45f - 0.05f * i, i % 2 ? 0.4f : -0.4f);
}

std::vector<float> composeMusic(std::vector<float>& right, double seconds) {
    Song s(static_cast<size_t>(seconds * kRate));
    intro(s);
    interludeA(s);
    drift(s);
    sceneTwo(s);
    interludeB(s);
    groove(s);
    sceneThree(s);
    climax(s);
    finale(s);
    Mix& m = s.mix;
    applyEffects(m, static_cast<float>(0.75 * 60 / 89), 1.0f);
    // Fade the last tail to true silence before the end of the file.
    size_t end = m.frames(), fadeStart = static_cast<size_t>((s.t(175) + 6.0) * kRate);
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
