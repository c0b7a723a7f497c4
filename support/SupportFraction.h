// The support threshold exactly as the user wrote it: a decimal fraction
// digits x 10^exponent, kept without rounding so that the absolute
// threshold (support x number of sequences) can be computed exactly.
// 0.07 of 100 sequences is 7, where the double 0.07 times 100 is
// 7.000000000000001 and would make 7 fall short.
#ifndef QUIVREL_SUPPORTFRACTION_H
#define QUIVREL_SUPPORTFRACTION_H

#include <string>

struct SupportFraction {
    std::string digits;  // significant decimal digits, no leading or trailing zeros
    long long exponent;  // value = digits x 10^exponent
    double approx;       // the nearest double, for display only
};

// Reads a decimal number in (0, 1], such as "0.05", ".5", "1", "5e-2", or a
// percentage in (0, 100] such as "5%" or "0.5%".  Signs, blanks, hex, inf,
// nan and trailing text are refused.  Returns false when `text` is not such
// a number; `out` is then unchanged.
bool ParseSupportFraction(const char* text, SupportFraction* out);

// The least whole count c with c >= fraction x sequences, computed exactly
// (0 when there are no sequences, and at least 1 otherwise).
long long LeastSupportCount(const SupportFraction& fraction, long long sequences);

#endif
