// The two fast memory paths: a copy and a clear in blocks of 64 bytes.
#include <cstring>

#include "display/display.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

void copyBlocks64(void* destination, const void* source, uint32_t count) {
    uint8_t* d = (uint8_t*)destination;
    const uint8_t* s = (const uint8_t*)source;
    for (uint32_t blocks = count / 64; blocks != 0; blocks--, d += 64, s += 64) {
#if defined(__SSE2__)
        // Four 16-byte loads, then four stores; no alignment is assumed.
        __m128i a = _mm_loadu_si128((const __m128i*)(s + 0));
        __m128i b = _mm_loadu_si128((const __m128i*)(s + 16));
        __m128i c = _mm_loadu_si128((const __m128i*)(s + 32));
        __m128i e = _mm_loadu_si128((const __m128i*)(s + 48));
        _mm_storeu_si128((__m128i*)(d + 0), a);
        _mm_storeu_si128((__m128i*)(d + 16), b);
        _mm_storeu_si128((__m128i*)(d + 32), c);
        _mm_storeu_si128((__m128i*)(d + 48), e);
#else
        uint64_t w[8];
        memcpy(w, s, 64);
        memcpy(d, w, 64);
#endif
    }
}

void clearBuffer(void* destination, uint32_t count) {
    uint8_t* d = (uint8_t*)destination;
    for (uint32_t blocks = count / 64; blocks != 0; blocks--, d += 64) {
#if defined(__SSE2__)
        __m128i z = _mm_setzero_si128();
        _mm_storeu_si128((__m128i*)(d + 0), z);
        _mm_storeu_si128((__m128i*)(d + 16), z);
        _mm_storeu_si128((__m128i*)(d + 32), z);
        _mm_storeu_si128((__m128i*)(d + 48), z);
#else
        memset(d, 0, 64);
#endif
    }
}
