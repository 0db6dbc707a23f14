#include "modeler/model/number_chars.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#ifdef VARLOBOOKS_HAVE_FMT
#include <fmt/format.h>
#endif

namespace modeler {

#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L
#define VARLOBOOKS_FLOAT_CHARCONV 1
#elif !defined(VARLOBOOKS_HAVE_FMT)
#error "this C++ library writes no floating point with std::to_chars: build with fmt"
#endif

#ifdef VARLOBOOKS_HAVE_FMT
namespace {

// The exact decimal digits of a whole value: beyond 2^53 (2^24 for a
// float) the shortest digits padded with zeros name another number, and
// the fixed form std::to_chars writes is the value's own.
template <typename Number>
std::string exactWholeDigits(Number value) {
    int exponent = 0;
    const Number fraction = std::frexp(std::fabs(value), &exponent);
    const int bits = std::numeric_limits<Number>::digits;
    auto mantissa = static_cast<uint64_t>(std::ldexp(fraction, bits));
    int shift = exponent - bits;
    if (shift <= 0) return std::to_string(mantissa >> -shift);
    std::string digits = std::to_string(mantissa);  // then doubled shift times
    for (; shift > 0; --shift) {
        int carry = 0;
        for (auto d = digits.rbegin(); d != digits.rend(); ++d) {
            const int twice = (*d - '0') * 2 + carry;
            *d = static_cast<char>('0' + twice % 10);
            carry = twice / 10;
        }
        if (carry) digits.insert(digits.begin(), static_cast<char>('0' + carry));
    }
    return digits;
}

// fmt's shortest text ("0.1", "1e+23", "1.2345678901234568e+17") as its
// digits, without leading or trailing zeros, and the power of ten of the
// first: value = d.ddd x 10^exponent.
template <typename Number>
char *layOut(char *first, Number value) {
    if (value == 0) {
        if (std::signbit(value)) *first++ = '-';
        *first++ = '0';
        return first;
    }
    const std::string text = fmt::format("{}", value);
    std::size_t at = 0;
    const bool negative = text[0] == '-';
    if (negative) ++at;
    std::string digits;
    int point = -1;  // digits before the point
    int exponent = 0;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '.') {
            point = static_cast<int>(digits.size());
        } else if (c == 'e') {
            exponent = std::atoi(text.c_str() + at + 1);
            break;
        } else {
            digits += c;
        }
    }
    if (point < 0) point = static_cast<int>(digits.size());
    // Leading zeros ("0.001") move the point.
    std::size_t lead = 0;
    while (lead + 1 < digits.size() && digits[lead] == '0')
        ++lead;
    digits.erase(0, lead);
    point -= static_cast<int>(lead);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    exponent += point - 1;

    // printf's %e with just these digits, and its %f: the shorter, fixed
    // on a tie, as std::to_chars chooses.
    const int n = static_cast<int>(digits.size());
    // Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) of
    // a literal added in front of a string.
    std::string scientific = digits.substr(0, 1);
    if (n > 1) scientific.append(1, '.').append(digits, 1);
    scientific += exponent < 0 ? "e-" : "e+";
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude < 10) scientific += '0';
    scientific += std::to_string(magnitude);
    std::string fixed;
    if (exponent >= 0) {
        if (n <= exponent + 1) {
            // Made only when it is the shorter: a large value's is long.
            if (exponent + 1 <= static_cast<int>(scientific.size()))
                fixed = exactWholeDigits(value);
            else
                fixed = std::string(static_cast<std::size_t>(exponent + 1), '0');
        } else {
            const auto whole = static_cast<std::size_t>(exponent + 1);
            fixed.append(digits, 0, whole).append(1, '.').append(digits, whole);
        }
    } else {
        fixed.append("0.").append(static_cast<std::size_t>(-exponent - 1), '0').append(digits);
    }
    const std::string &chosen = fixed.size() <= scientific.size() ? fixed : scientific;
    if (negative) *first++ = '-';
    std::memcpy(first, chosen.data(), chosen.size());
    return first + chosen.size();
}

}  // namespace

char *writeShortestByDigits(char *first, double value) {
    return layOut(first, value);
}

char *writeShortestByDigits(char *first, float value) {
    return layOut(first, value);
}
#endif

char *writeShortest(char *first, double value) {
#ifdef VARLOBOOKS_FLOAT_CHARCONV
    return std::to_chars(first, first + kShortestRoom, value).ptr;
#else
    return writeShortestByDigits(first, value);
#endif
}

char *writeShortest(char *first, float value) {
#ifdef VARLOBOOKS_FLOAT_CHARCONV
    return std::to_chars(first, first + kShortestRoom, value).ptr;
#else
    return writeShortestByDigits(first, value);
#endif
}

}  // namespace modeler
