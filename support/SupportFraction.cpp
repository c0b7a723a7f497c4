// Exact decimal support thresholds.
#include "support/SupportFraction.h"

#include <cstdlib>
#include <vector>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Exponents beyond this size only say "far below 1" or "far above 1"; they
// are clamped so that adding the digit count cannot overflow.
const long long kExponentClamp = 1000000000000LL;

}  // namespace

bool ParseSupportFraction(const char* text, SupportFraction* out) {
    const char* p = text;
    std::string mantissa;          // every digit written, point removed
    long long pointShift = 0;      // digits after the point
    while (IsDigit(*p)) mantissa.push_back(*p++);
    if (*p == '.') {
        ++p;
        for (; IsDigit(*p); ++pointShift) mantissa.push_back(*p++);
    }
    if (mantissa.empty()) return false;

    long long exponent = 0;
    if (*p == 'e' || *p == 'E') {
        ++p;
        bool negative = false;
        if (*p == '+' || *p == '-') negative = *p++ == '-';
        if (!IsDigit(*p)) return false;
        while (IsDigit(*p)) {
            exponent = exponent * 10 + (*p++ - '0');
            if (exponent > kExponentClamp) exponent = kExponentClamp;
        }
        if (negative) exponent = -exponent;
    }
    const char* numberEnd = p;
    bool percent = *p == '%';
    if (percent) ++p;
    if (*p != '\0') return false;

    // Normal form: no leading zeros, trailing zeros moved into the exponent.
    size_t first = mantissa.find_first_not_of('0');
    if (first == std::string::npos) return false;  // zero
    size_t last = mantissa.find_last_not_of('0');
    std::string digits = mantissa.substr(first, last - first + 1);
    exponent += (long long)(mantissa.size() - 1 - last) - pointShift - (percent ? 2 : 0);

    // digits x 10^exponent lies in [10^(n+e-1), 10^(n+e)) for n digits: it is
    // at most 1 exactly when n+e <= 0, or when it is 1 itself.
    long long magnitude = (long long)digits.size() + exponent;
    if (magnitude > 0 && !(digits == "1" && exponent == 0)) return false;

    out->digits = digits;
    out->exponent = exponent;
    std::string numberText(text, numberEnd - text);
    out->approx = strtod(numberText.c_str(), nullptr) / (percent ? 100.0 : 1.0);
    return true;
}

long long LeastSupportCount(const SupportFraction& fraction, long long sequences) {
    if (sequences <= 0) return 0;
    // product = digits x sequences, in decimal digits, least significant first.
    std::vector<int> product;
    for (size_t i = fraction.digits.size(); i-- > 0;) product.push_back(fraction.digits[i] - '0');
    unsigned long long carry = 0;
    for (int& d : product) {
        unsigned long long v = (unsigned long long)d * (unsigned long long)sequences + carry;
        d = (int)(v % 10);
        carry = v / 10;
    }
    for (; carry > 0; carry /= 10) product.push_back((int)(carry % 10));

    // Divide by 10^shift, rounding up: the value is at most 1, so the
    // exponent is never positive.
    unsigned long long shift = (unsigned long long)(-fraction.exponent);
    if (shift >= product.size()) return 1;  // a positive amount below 1
    long long whole = 0;
    for (size_t i = product.size(); i-- > shift;) whole = whole * 10 + product[i];
    for (size_t i = 0; i < shift; i++) {
        if (product[i] != 0) return whole + 1;
    }
    return whole;
}
