#include "platform/win/env.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

double envSetting(const char* name, double lo, double hi, bool whole, double fallback, const char* instead) {
    const char* text = std::getenv(name);
    if (!text || !*text) return fallback;
    // Digits and a point only: no spaces, signs, exponents or units.
    bool plain = true;
    for (const char* c = text; *c; c++) plain = plain && (std::isdigit((unsigned char)*c) || (*c == '.' && !whole));
    char* end = nullptr;
    const double v = plain ? std::strtod(text, &end) : NAN;
    if (plain && end && *end == '\0' && v >= lo && v <= hi) return v;
    if (whole && hi == lo + 1)
        std::fprintf(stderr, "%s=\"%s\" is not %g or %g; %s\n", name, text, lo, hi, instead);
    else
        std::fprintf(stderr, "%s=\"%s\" is not %s from %g to %g; %s\n", name, text,
                     whole ? "a whole number" : "a number", lo, hi, instead);
    return fallback;
}
