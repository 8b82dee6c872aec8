// Walking a set-up triangle's edges down its rows: the columns each row
// covers, found exactly in integers.
#pragma once
#include <algorithm>
#include <cstdint>

#include "platform/rm/raster.h"
#include "platform/rm/raster_simd.h"

namespace rm::raster {

using Setup = RasterSetup;

// Floor of a / b for b > 0.
inline int64_t floorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return q - (a % b < 0 ? 1 : 0);
}

// A triangle's edges walked down its rows exactly, without a division per
// row. Each edge keeps the column where it bounds the current row (the first
// inside for a left edge, S > 0; the last for a right edge, S < 0) and the
// edge function there, e, which stays in [0, |S|): a row down, e grows by dV,
// and the column moves by the whole quotient of dV by |S| and at most one
// more. A triangle has one or two left and right edges, padded to two by
// repeating the first (the bound is the same), and at most one level edge
// (S == 0), which only rules rows in or out.
struct EdgeWalk {
    // Left, left, right, right.
    int64_t col[4], e[4], size[4], rem[4], step[4], carry[4];
    int64_t level = 0, levelStep = 0;  // a level edge's function; 0 and 0 when there is none

    explicit EdgeWalk(const Setup& s) {
        int left[2] = {0, 0}, right[2] = {0, 0}, nl = 0, nr = 0;
        for (int k = 0; k < 3; k++) {
            if (s.S[k] > 0)
                left[nl++] = k;
            else if (s.S[k] < 0)
                right[nr++] = k;
            else {
                level = s.V[k];
                levelStep = s.dV[k];
            }
        }
        if (!nl || !nr) {  // no area: set-up culls these; no rows, and no division by 0
            for (int i = 0; i < 4; i++) col[i] = e[i] = rem[i] = step[i] = carry[i] = 0, size[i] = 1;
            level = -1;
            levelStep = 0;
            return;
        }
        const int order[4] = {left[0], left[nl - 1], right[0], right[nr - 1]};
        for (int i = 0; i < 4; i++) {
            const int k = order[i];
            if ((i == 1 || i == 3) && k == order[i - 1]) {  // the padding: the edge before again
                col[i] = col[i - 1], e[i] = e[i - 1], size[i] = size[i - 1];
                rem[i] = rem[i - 1], step[i] = step[i - 1], carry[i] = carry[i - 1];
                continue;
            }
            const int64_t v = s.V[k];
            const bool isLeft = i < 2;
            size[i] = isLeft ? s.S[k] : -s.S[k];
            // The first column x with v + S x >= 0, or the last.
            col[i] = isLeft ? -floorDiv(v, size[i]) : floorDiv(v, size[i]);
            e[i] = v + s.S[k] * col[i];
            // The move a row down, from the set-up: dV over |S|, floored, and the rest.
            rem[i] = s.rowRem[k];
            step[i] = isLeft ? -s.rowStep[k] : s.rowStep[k];
            carry[i] = isLeft ? -1 : 1;
        }
    }
    // The current row's columns [xl, xr] within [x0, x1]; false when the row
    // has none. Moves on to the next row.
    __attribute__((always_inline)) bool row(int64_t x0, int64_t x1, int64_t& xl, int64_t& xr) {
        xl = std::max({x0, col[0], col[1]});
        xr = std::min({x1, col[2], col[3]});
        const bool inside = level >= 0;
        for (int i = 0; i < 4; i++) {
            const int64_t next = e[i] + rem[i];
            const int64_t over = -(int64_t)(next >= size[i]);  // all ones when e passes |S|
            e[i] = next - (size[i] & over);
            col[i] += step[i] + (carry[i] & over);
        }
        level += levelStep;
        return inside && xl <= xr;
    }
};

// The same walk with the four edges in one register, for the eight-pixel loop.
struct WideEdgeWalk {
    __m256i col, e, sizeLess1, size, rem, step, carry;
    int64_t level, levelStep;

    WIDE explicit WideEdgeWalk(const EdgeWalk& w) {
        col = _mm256_loadu_si256((const __m256i*)w.col);
        e = _mm256_loadu_si256((const __m256i*)w.e);
        size = _mm256_loadu_si256((const __m256i*)w.size);
        sizeLess1 = _mm256_sub_epi64(size, _mm256_set1_epi64x(1));
        rem = _mm256_loadu_si256((const __m256i*)w.rem);
        step = _mm256_loadu_si256((const __m256i*)w.step);
        carry = _mm256_loadu_si256((const __m256i*)w.carry);
        level = w.level;
        levelStep = w.levelStep;
    }
    WIDE __attribute__((always_inline)) bool row(int64_t x0, int64_t x1, int64_t& xl, int64_t& xr) {
        alignas(32) int64_t c[4];
        _mm256_store_si256((__m256i*)c, col);
        xl = std::max({x0, c[0], c[1]});
        xr = std::min({x1, c[2], c[3]});
        const bool inside = level >= 0;
        const __m256i next = _mm256_add_epi64(e, rem);
        const __m256i over = _mm256_cmpgt_epi64(next, sizeLess1);
        e = _mm256_sub_epi64(next, _mm256_and_si256(size, over));
        col = _mm256_add_epi64(_mm256_add_epi64(col, step), _mm256_and_si256(carry, over));
        level += levelStep;
        return inside && xl <= xr;
    }
};

}  // namespace rm::raster
