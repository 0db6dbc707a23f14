// The shortest text that reads back to the same float or double, and
// decimal numbers read back, exactly as std::to_chars and std::from_chars
// write and read them: the exports and sessions depend on these bytes.
// Where the C++ library lacks them for floating point (the WebAssembly
// build's libc++), the text is laid out from fmt's shortest digits and
// numbers are read with strtod after the same syntax check; tests prove
// both ways give the same bytes.
#pragma once

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <string>

namespace modeler {

// The longest text writeShortest makes ("-2.2250738585072014e-308").
inline constexpr std::size_t kShortestRoom = 32;

// Writes value at first (room for kShortestRoom bytes); the end.
char *writeShortest(char *first, double value);
char *writeShortest(char *first, float value);

// The length of the decimal number at first as std::from_chars takes one
// in its general format (an optional '-', digits with an optional point,
// an optional exponent); 0 when there is none.
inline std::size_t decimalLength(const char *first, const char *last) {
    const char *at = first;
    if (at != last && *at == '-') ++at;
    std::size_t digits = 0;
    while (at != last && *at >= '0' && *at <= '9') {
        ++at;
        ++digits;
    }
    if (at != last && *at == '.') {
        ++at;
        while (at != last && *at >= '0' && *at <= '9') {
            ++at;
            ++digits;
        }
    }
    if (digits == 0) return 0;
    if (at != last && (*at == 'e' || *at == 'E')) {
        const char *exponent = at + 1;
        if (exponent != last && (*exponent == '+' || *exponent == '-')) ++exponent;
        if (exponent != last && *exponent >= '0' && *exponent <= '9') {
            at = exponent;
            while (at != last && *at >= '0' && *at <= '9')
                ++at;
        }
    }
    return static_cast<std::size_t>(at - first);
}

// The decimal number at first, read with strtod. ec is
// std::errc::invalid_argument when no number starts at first, and
// std::errc::result_out_of_range when it does not fit a double (value is
// then unchanged).
inline std::from_chars_result readNumberByStrtod(const char *first, const char *last,
                                                 double &value) {
    const std::size_t length = decimalLength(first, last);
    if (length == 0) return {first, std::errc::invalid_argument};
    // strtod reads more forms (hexadecimal, "inf", spaces): it is handed
    // only the decimal number checked above.
    const std::string text(first, length);
    errno = 0;
    const double read = std::strtod(text.c_str(), nullptr);
    if (errno == ERANGE && (std::isinf(read) || read == 0))
        return {first + length, std::errc::result_out_of_range};
    value = read;
    return {first + length, std::errc()};
}

// A decimal number as std::from_chars reads one (see readNumberByStrtod).
inline std::from_chars_result readNumber(const char *first, const char *last, double &value) {
#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L
    return std::from_chars(first, last, value);
#else
    return readNumberByStrtod(first, last, value);
#endif
}

#ifdef VARLOBOOKS_HAVE_FMT
char *writeShortestByDigits(char *first, double value);
char *writeShortestByDigits(char *first, float value);
#endif

}  // namespace modeler
