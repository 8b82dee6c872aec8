/* Decodes media the way the show does and writes the raw results, so that a
 * native build (Debian's shared libraries) and a wasm build (the libraries of
 * build-deps.sh, run under node) can be compared byte for byte.
 *
 *   check-decoders OUT_DIR FONT MP3_SECONDS WAV MP3 JPEG...
 *
 * Writes into OUT_DIR:
 *   <jpeg>.rgb     TurboJPEG, TJPF_RGB + TJFLAG_ACCURATEDCT (the show's pictures)
 *   <jpeg>.bgrx    TurboJPEG, TJPF_BGRX, default flags
 *   <mp3>.s16      mpg123, gapless, stereo signed 16-bit, first MP3_SECONDS
 *                  seconds (0: whole file)
 *   <wav>.s16      libsndfile, sf_readf_short
 *   <wav>.f32      libsndfile, sf_readf_float
 *   glyphs96.bin, glyphs192.bin
 *                  FreeType, the font at 8 pt and 96 (192) dpi,
 *                  FT_LOAD_TARGET_LIGHT | FT_LOAD_RENDER: for each character
 *                  its metrics then its bitmap rows
 * and prints one line per output with its size and a checksum.
 *
 *   check-decoders --compare A B
 *
 * Compares two such outputs: prints "identical", or how many bytes (for
 * *.s16, 16-bit samples) differ and by how much at most; exits 1 if any. */
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include <mpg123.h>
#include <sndfile.h>
#include <turbojpeg.h>

static const char* g_out;

/* FNV-1a, enough to tell outputs apart at a glance. */
static uint64_t fnv(const void* data, size_t n) {
    const unsigned char* p = data;
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < n; i++) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

static const char* baseName(const char* path) {
    const char* s = strrchr(path, '/');
    return s ? s + 1 : path;
}

static int save(const char* name, const char* suffix, const void* data, size_t n) {
    char path[4096];
    snprintf(path, sizeof path, "%s/%s%s", g_out, name, suffix);
    FILE* f = fopen(path, "wb");
    if (!f || fwrite(data, 1, n, f) != n || fclose(f) != 0) {
        fprintf(stderr, "%s: cannot write (%s)\n", path, strerror(errno));
        return 1;
    }
    printf("%-22s %10zu bytes  fnv %016llx\n", path + strlen(g_out) + 1, n, (unsigned long long)fnv(data, n));
    fflush(stdout);
    return 0;
}

static unsigned char* readFile(const char* path, size_t* size) {
    FILE* f = fopen(path, "rb");
    if (!f) return NULL;
    size_t cap = 1 << 16, n = 0;
    unsigned char* data = malloc(cap);
    for (size_t got; data && (got = fread(data + n, 1, cap - n, f)) > 0;) {
        n += got;
        if (n == cap) data = realloc(data, cap *= 2);
    }
    fclose(f);
    *size = n;
    return data;
}

static int jpeg(const char* path) {
    size_t size = 0;
    unsigned char* bytes = readFile(path, &size);
    if (!bytes) { fprintf(stderr, "%s: cannot read\n", path); return 1; }
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0, subsampling = 0, colorspace = 0, failed = 1;
    if (tj && tjDecompressHeader3(tj, bytes, (unsigned long)size, &w, &h, &subsampling, &colorspace) == 0) {
        unsigned char* pixels = malloc((size_t)w * h * 4);
        failed = tjDecompress2(tj, bytes, (unsigned long)size, pixels, w, 0, h, TJPF_RGB, TJFLAG_ACCURATEDCT) != 0 ||
                 save(baseName(path), ".rgb", pixels, (size_t)w * h * 3) ||
                 tjDecompress2(tj, bytes, (unsigned long)size, pixels, w, 0, h, TJPF_BGRX, 0) != 0 ||
                 save(baseName(path), ".bgrx", pixels, (size_t)w * h * 4);
        free(pixels);
    }
    if (failed) fprintf(stderr, "%s: cannot decode (%s)\n", path, tjGetErrorStr2(tj));
    if (tj) tjDestroy(tj);
    free(bytes);
    return failed;
}

static int mp3(const char* path, long seconds) {
#if MPG123_API_VERSION < 46
    mpg123_init();
#endif
    int err = MPG123_OK;
    mpg123_handle* mh = mpg123_new(NULL, &err);
    if (!mh) { fprintf(stderr, "mpg123: %s\n", mpg123_plain_strerror(err)); return 1; }
    /* The show's settings: gapless, stereo signed 16-bit at any rate. */
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0);
    /* A named synthesis (e.g. "generic") instead of the fastest one the CPU
     * allows, to tell the decoder's choice apart from the build's. */
    const char* decoder = getenv("CHECK_MP3_DECODER");
    if (decoder && *decoder && mpg123_decoder(mh, decoder) != MPG123_OK) {
        fprintf(stderr, "mpg123: no decoder %s (%s)\n", decoder, mpg123_strerror(mh));
        mpg123_delete(mh);
        return 1;
    }
    mpg123_format_none(mh);
    const long* rates = NULL;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; i++) mpg123_format(mh, rates[i], MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(mh, path) != MPG123_OK) {
        fprintf(stderr, "%s: %s\n", path, mpg123_strerror(mh));
        mpg123_delete(mh);
        return 1;
    }
    size_t cap = 1 << 20, n = 0, limit = (size_t)-1;
    unsigned char* pcm = malloc(cap);
    long rate = 0;
    for (;;) {
        if (n + 65536 > cap) pcm = realloc(pcm, cap *= 2);
        size_t want = 65536, done = 0;
        if (limit != (size_t)-1) want = limit - n < want ? limit - n : want;
        err = mpg123_read(mh, pcm + n, want, &done);
        n += done;
        if (err == MPG123_NEW_FORMAT) {
            int channels = 0, encoding = 0;
            mpg123_getformat(mh, &rate, &channels, &encoding);
            if (seconds > 0) limit = (size_t)rate * 4 * (size_t)seconds;
            continue;
        }
        if (err != MPG123_OK || n >= limit) break;
    }
    fprintf(stderr, "mpg123 decoder: %s, %ld Hz\n", mpg123_current_decoder(mh), rate);
    fflush(stderr);
    int failed = err != MPG123_OK && err != MPG123_DONE;
    if (failed) fprintf(stderr, "%s: %s\n", path, mpg123_strerror(mh));
    else failed = save(baseName(path), ".s16", pcm, n);
    free(pcm);
    mpg123_close(mh);
    mpg123_delete(mh);
    return failed;
}

static int wav(const char* path) {
    SF_INFO info;
    memset(&info, 0, sizeof info);
    SNDFILE* sf = sf_open(path, SFM_READ, &info);
    if (!sf) { fprintf(stderr, "%s: %s\n", path, sf_strerror(NULL)); return 1; }
    size_t samples = (size_t)info.frames * (size_t)info.channels;
    short* s16 = malloc(samples * sizeof *s16 + 1);
    float* f32 = malloc(samples * sizeof *f32 + 1);
    sf_count_t a = sf_readf_short(sf, s16, info.frames);
    sf_seek(sf, 0, SEEK_SET);
    sf_count_t b = sf_readf_float(sf, f32, info.frames);
    sf_close(sf);
    int failed = a != info.frames || b != info.frames || save(baseName(path), ".s16", s16, samples * sizeof *s16) ||
                 save(baseName(path), ".f32", f32, samples * sizeof *f32);
    if (a != info.frames || b != info.frames) fprintf(stderr, "%s: short read\n", path);
    free(s16);
    free(f32);
    return failed;
}

/* Each character's glyph: char index, advance, bitmap left/top/width/rows,
 * pixel mode, grays (32-bit little-endian each), then the rows top down. */
static int glyphs(FT_Library library, const char* font, unsigned dpi, const char* name) {
    static const char text[] =
        "Velkor: The quick brown fox jumps over the lazy dog. 0123456789 "
        "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG! ()[]{}<>?/\\|@#$%^&*-+=_~'\",.;: "
        "\xc3\xa4\xc3\xb6\xc3\xbc\xc3\x84\xc3\x96\xc3\x9c\xc3\x9f\xc3\xa9\xc3\xa8\xc3\xa7 "
        "\xe2\x80\x94\xe2\x80\x9c\xe2\x80\x9d\xe2\x80\xa6";
    FT_Face face = NULL;
    FT_Error error = FT_New_Face(library, font, 0, &face);
    if (!error) error = FT_Set_Char_Size(face, 0, 8 * 64, dpi, dpi);
    if (error) { fprintf(stderr, "%s: FreeType error %d\n", font, error); return 1; }
    size_t cap = 1 << 16, n = 0;
    unsigned char* out = malloc(cap);
    for (const unsigned char* p = (const unsigned char*)text; *p;) {
        /* UTF-8 to a code point (the text above is well formed). */
        uint32_t c = *p++;
        int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        c &= more == 3 ? 0x07 : more == 2 ? 0x0F : more == 1 ? 0x1F : 0x7F;
        while (more-- > 0 && *p) c = (c << 6) | (*p++ & 0x3F);
        FT_UInt index = FT_Get_Char_Index(face, c);
        if (FT_Load_Glyph(face, index, FT_LOAD_TARGET_LIGHT | FT_LOAD_RENDER) != 0) {
            fprintf(stderr, "U+%04X: cannot render\n", (unsigned)c);
            continue;
        }
        FT_GlyphSlot slot = face->glyph;
        FT_Bitmap* bm = &slot->bitmap;
        int32_t head[8] = {(int32_t)c, (int32_t)index, (int32_t)slot->advance.x, slot->bitmap_left, slot->bitmap_top,
                           (int32_t)bm->width, (int32_t)bm->rows, bm->pixel_mode | bm->num_grays << 8};
        while (n + sizeof head + (size_t)bm->width * bm->rows > cap) out = realloc(out, cap *= 2);
        for (int i = 0; i < 8; i++)
            for (int k = 0; k < 4; k++) out[n++] = (unsigned char)((uint32_t)head[i] >> (8 * k));
        for (unsigned row = 0; row < bm->rows; row++) {
            int at = bm->pitch >= 0 ? (int)row * bm->pitch : ((int)bm->rows - 1 - (int)row) * -bm->pitch;
            memcpy(out + n, bm->buffer + at, bm->width);
            n += bm->width;
        }
    }
    FT_Done_Face(face);
    int failed = save(name, "", out, n);
    free(out);
    return failed;
}

static int compare(const char* a, const char* b) {
    size_t na = 0, nb = 0;
    unsigned char* da = readFile(a, &na);
    unsigned char* db = readFile(b, &nb);
    if (!da || !db) { fprintf(stderr, "cannot read %s\n", da ? b : a); return 2; }
    size_t n = na < nb ? na : nb, bytes = 0, samples = 0;
    int most = 0;
    for (size_t i = 0; i < n; i++) bytes += da[i] != db[i];
    const size_t len = strlen(a);
    const int s16 = len > 4 && strcmp(a + len - 4, ".s16") == 0;
    for (size_t i = 0; s16 && i + 1 < n; i += 2) {
        int x = (int16_t)(da[i] | da[i + 1] << 8), y = (int16_t)(db[i] | db[i + 1] << 8);
        int d = x > y ? x - y : y - x;
        samples += d != 0;
        if (d > most) most = d;
    }
    if (na == nb && bytes == 0)
        printf("identical (%zu bytes)\n", na);
    else if (s16)
        printf("%zu of %zu samples differ, by %d at most%s\n", samples, n / 2, most, na != nb ? "; lengths differ" : "");
    else
        printf("%zu of %zu bytes differ%s\n", bytes, n, na != nb ? "; lengths differ" : "");
    free(da);
    free(db);
    return na != nb || bytes != 0;
}

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "--compare") == 0) return compare(argv[2], argv[3]);
    if (argc < 6) {
        fprintf(stderr, "usage: %s OUT_DIR FONT MP3_SECONDS WAV MP3 JPEG...\n", argv[0]);
        return 2;
    }
    g_out = argv[1];
    int failed = 0;
    FT_Library library = NULL;
    if (FT_Init_FreeType(&library) != 0) {
        fprintf(stderr, "FreeType cannot start\n");
        failed = 1;
    } else {
        failed |= glyphs(library, argv[2], 96, "glyphs96.bin");
        failed |= glyphs(library, argv[2], 192, "glyphs192.bin");
        FT_Done_FreeType(library);
    }
    failed |= wav(argv[4]);
    failed |= mp3(argv[5], atol(argv[3]));
    for (int i = 6; i < argc; i++) failed |= jpeg(argv[i]);
    return failed;
}
