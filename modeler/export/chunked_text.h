// Text written in chunks: each full chunk goes to the sink, so that a large
// file never sits whole in memory. Numbers and short pieces are written
// straight into the chunk's free space.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string_view>
#include <system_error>
#include <vector>

#include "modeler/model/number_chars.h"

namespace modeler {

// A short piece of text made once and written many times (a vertex's part
// of a face line, a point's number): up to N - 1 bytes kept with their
// length in N bytes, so that it is copied into a chunk in one fixed-size
// step. What does not fit is cut.
template <std::size_t N>
struct ShortText {
    static_assert(N >= 2 && N <= 256, "the length is kept in one byte");
    char text[N - 1] = {};
    uint8_t length = 0;

    ShortText &append(std::string_view s) {
        const std::size_t n = std::min(s.size(), sizeof text - length);
        std::memcpy(text + length, s.data(), n);
        length = static_cast<uint8_t>(length + n);
        return *this;
    }
    template <typename Integer>
    ShortText &appendNumber(Integer value) {
        const auto [end, ec] = std::to_chars(text + length, text + sizeof text, value);
        if (ec == std::errc()) length = static_cast<uint8_t>(end - text);
        return *this;
    }
};

class ChunkedText {
  public:
    using Sink = std::function<void(std::string_view)>;
    // capacity: the bytes gathered before they go to the sink; a small
    // document wants little.
    explicit ChunkedText(Sink sink, std::size_t capacity = kLargeCapacity)
        : sink_(std::move(sink)),
          capacity_(std::max(capacity, kSmallestCapacity)),
          buffer_(new char[capacity_]),
          at_(buffer_.get()) {}
    ChunkedText(const ChunkedText &) = delete;
    ChunkedText &operator=(const ChunkedText &) = delete;

    void raw(std::string_view s) {
        if (std::size_t(end() - at_) < s.size()) {
            flush();
            if (s.size() > capacity_) {
                sink_(s);
                return;
            }
        }
        std::memcpy(at_, s.data(), s.size());
        at_ += s.size();
    }
    // A piece of text known when compiled: copied in one fixed-size step.
    template <std::size_t N>
    void raw(const char (&s)[N]) {
        room(N - 1);
        std::memcpy(at_, s, N - 1);
        at_ += N - 1;
    }
    // Copied whole; the bytes past its length land in free space the next
    // piece writes over.
    template <std::size_t N>
    void put(const ShortText<N> &piece) {
        room(N);
        std::memcpy(at_, piece.text, sizeof piece.text);
        at_ += piece.length;
    }
    void put(char c) {
        room(1);
        *at_++ = c;
    }
    // The shortest text that reads back to the same value.
    template <typename Number>
    void number(Number value) {
        room(kNumberRoom);
        at_ = std::to_chars(at_, at_ + kNumberRoom, value).ptr;
    }
    // Values repeat in a model (a few UVs over and over, the heights and
    // depths of a row of books): their text is kept by bits, as making the
    // shortest text of a float or double is the costly part. The same
    // conversion, so the same text. The caches are made on first use.
    void number(float value) { cachedNumber(floatTexts_, value); }
    void number(double value) { cachedNumber(doubleTexts_, value); }
    void flush() {
        sink_(std::string_view(buffer_.get(), std::size_t(at_ - buffer_.get())));
        at_ = buffer_.get();
    }

    static constexpr std::size_t kLargeCapacity = 1 << 20;
    // Room for any piece written in one step (a ShortText is at most 256).
    static constexpr std::size_t kSmallestCapacity = 256;

  private:
    static constexpr std::size_t kNumberRoom = 32;  // the longest float, double or integer
    static constexpr int kCacheBits = 12;
    static constexpr int kNumbersBeforeCache = 1024;
    template <typename Bits>
    struct CachedText {
        Bits bits = 0;
        uint8_t length = 0;  // 0: empty
        // The longest text: "-1.17549435e-38" (15 bytes) for a float,
        // "-2.2250738585072014e-308" (24) for a double.
        char text[sizeof(Bits) == 4 ? 16 : 24];
    };
    template <typename Value, typename Bits>
    void cachedNumber(std::vector<CachedText<Bits>> &texts, Value value) {
        if (texts.empty()) {
            // A small document is written without a cache.
            if (++uncachedNumbers_ < kNumbersBeforeCache) {
                room(kNumberRoom);
                at_ = writeShortest(at_, value);
                return;
            }
            texts.resize(std::size_t(1) << kCacheBits);
        }
        Bits bits;
        std::memcpy(&bits, &value, sizeof bits);
        const uint64_t mixed = uint64_t(bits) * 0x9E3779B97F4A7C15ull;
        CachedText<Bits> &cached = texts[mixed >> (64 - kCacheBits)];
        if (cached.length == 0 || cached.bits != bits) {
            cached.bits = bits;
            char text[kShortestRoom];
            const auto length = std::size_t(writeShortest(text, value) - text);
            std::memcpy(cached.text, text, length);
            cached.length = uint8_t(length);
        }
        room(sizeof cached.text);
        std::memcpy(at_, cached.text, sizeof cached.text);
        at_ += cached.length;
    }

    char *end() { return buffer_.get() + capacity_; }
    void room(std::size_t size) {
        if (std::size_t(end() - at_) < size) flush();
    }

    Sink sink_;
    std::size_t capacity_;
    std::unique_ptr<char[]> buffer_;
    char *at_;
    int uncachedNumbers_ = 0;
    std::vector<CachedText<uint32_t>> floatTexts_;
    std::vector<CachedText<uint64_t>> doubleTexts_;
};

}  // namespace modeler
