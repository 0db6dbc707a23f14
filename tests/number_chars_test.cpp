// Numbers as the exports and sessions write and read them: the way used
// where the C++ library cannot (fmt's digits laid out as std::to_chars lays
// them out; strtod after from_chars's syntax check) gives the same bytes as
// the library on this system, for every kind of value.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "modeler/model/number_chars.h"

using modeler::readNumber;
using modeler::readNumberByStrtod;

namespace {

template <typename Number, typename Bits>
Number fromBits(Bits bits) {
    Number value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

struct XorShift {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    uint64_t operator()() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
};

// Finite values of every exponent, the edges, and what a model holds:
// short decimals, integers around 2^24 and 2^53, powers of ten.
template <typename Number, typename Bits>
std::vector<Number> sampleValues(int randomCount) {
    using Limits = std::numeric_limits<Number>;
    std::vector<Number> values = {0,
                                  -Number(0),
                                  Limits::min(),
                                  Limits::denorm_min(),
                                  -Limits::denorm_min(),
                                  Limits::max(),
                                  Limits::lowest(),
                                  Limits::epsilon(),
                                  Number(0.1),
                                  Number(0.3),
                                  Number(1) / 3,
                                  Number(16777216),
                                  Number(16777217),
                                  Number(9007199254740992.0),
                                  Number(123456789012345680.0)};
    for (int e = -45; e <= 40; ++e) {
        const auto power = static_cast<Number>(std::pow(10.0, e));
        if (std::isfinite(power)) values.push_back(power);
    }
    for (int i = -2000; i <= 2000; ++i)
        values.push_back(static_cast<Number>(i) / 1000);
    XorShift next;
    while (static_cast<int>(values.size()) < randomCount) {
        const auto bits = static_cast<Bits>(next());
        const Number value = fromBits<Number>(bits);
        if (std::isfinite(value)) values.push_back(value);
    }
    return values;
}

template <typename Number, typename Bits>
void expectSameText(int count) {
    for (const Number value : sampleValues<Number, Bits>(count)) {
        char library[64], byDigits[64];
        const auto libraryEnd = std::to_chars(library, library + sizeof library, value).ptr;
        char *digitsEnd = modeler::writeShortestByDigits(byDigits, value);
        ASSERT_EQ(std::string(library, libraryEnd), std::string(byDigits, digitsEnd)) << value;
        ASSERT_LE(std::size_t(digitsEnd - byDigits), modeler::kShortestRoom);
    }
}

void expectSameReading(const std::string &text) {
    double byLibrary = -7, byStrtod = -7;
    const char *first = text.data();
    const auto library = std::from_chars(first, first + text.size(), byLibrary);
    const auto strtod = readNumberByStrtod(first, first + text.size(), byStrtod);
    EXPECT_EQ(library.ec, strtod.ec) << '"' << text << '"';
    if (library.ec == std::errc::invalid_argument) return;
    EXPECT_EQ(library.ptr - first, strtod.ptr - first) << '"' << text << '"';
    uint64_t a, b;
    std::memcpy(&a, &byLibrary, sizeof a);
    std::memcpy(&b, &byStrtod, sizeof b);
    EXPECT_EQ(a, b) << '"' << text << '"';
}

}  // namespace

TEST(NumberChars, DoublesFromDigitsAreTheLibrarysText) {
    expectSameText<double, uint64_t>(300000);
}

TEST(NumberChars, FloatsFromDigitsAreTheLibrarysText) {
    expectSameText<float, uint32_t>(300000);
}

TEST(NumberChars, StrtodReadsWhatFromCharsReads) {
    for (const char *text : {"0",
                             "-0",
                             "1",
                             "1.",
                             ".5",
                             "-.5",
                             "1e",
                             "1e+",
                             "1e-",
                             "1E5",
                             "2.5e-3x",
                             "12abc",
                             "00012",
                             "0.000",
                             "1e400",
                             "-1e400",
                             "1e-400",
                             "5e-324",
                             "2.4703282292062328e-324",
                             "2.2250738585072011e-308",
                             "0x10",
                             "1.7976931348623157e308",
                             "1.7976931348623159e308",
                             "9007199254740993",
                             "0.1000000000000000055511151231257827021181583404541015625",
                             "123456789012345678901234567890",
                             "3.14159265358979323846264338327950288"})
        expectSameReading(text);
    // Not numbers to either.
    for (const char *text : {"", "-", ".", "-.", "+1", " 1", "e5", "abc", "--1"})
        expectSameReading(text);
    // Every shortest text reads back to its value.
    for (const double value : sampleValues<double, uint64_t>(20000)) {
        char text[64];
        expectSameReading(std::string(text, std::to_chars(text, text + sizeof text, value).ptr));
    }
}

TEST(NumberChars, InfinityAndNanAreNoDecimalNumbers) {
    // std::from_chars reads these; the host never takes them (the callers
    // refuse what is not finite), so the other way need not.
    for (const char *text : {"inf", "-infinity", "nan", "nan(1)"}) {
        double value = 5;
        EXPECT_EQ(readNumberByStrtod(text, text + std::strlen(text), value).ec,
                  std::errc::invalid_argument);
        EXPECT_EQ(value, 5);
    }
    double value = 0;
    const char text[] = "1.25e1";
    EXPECT_EQ(readNumber(text, text + 6, value).ec, std::errc());
    EXPECT_EQ(value, 12.5);
}
