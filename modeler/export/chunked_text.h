// Text written in chunks: each full chunk goes to the sink, so that a large
// file never sits whole in memory. Numbers and short pieces are written
// straight into the chunk's free space.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace modeler {

class ChunkedText {
  public:
    using Sink = std::function<void(std::string_view)>;
    explicit ChunkedText(Sink sink)
        : sink_(std::move(sink)), buffer_(new char[kCapacity]), at_(buffer_.get()) {}
    ChunkedText(const ChunkedText &) = delete;
    ChunkedText &operator=(const ChunkedText &) = delete;

    void raw(std::string_view s) {
        if (std::size_t(end() - at_) < s.size()) {
            flush();
            if (s.size() > kCapacity) {
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
    // Floats repeat in a model (a few UVs over and over): their text is
    // kept by bits, as making the shortest text of a float is the costly
    // part. The same conversion, so the same text.
    void number(float value) {
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        CachedFloat &cached = floatTexts_[(bits * 2654435761u) >> (32 - kFloatCacheBits)];
        if (cached.length == 0 || cached.bits != bits) {
            cached.bits = bits;
            cached.length =
                uint8_t(std::to_chars(cached.text, cached.text + sizeof cached.text, value).ptr -
                        cached.text);
        }
        room(sizeof cached.text);
        std::memcpy(at_, cached.text, sizeof cached.text);
        at_ += cached.length;
    }
    void flush() {
        sink_(std::string_view(buffer_.get(), std::size_t(at_ - buffer_.get())));
        at_ = buffer_.get();
    }

  private:
    static constexpr std::size_t kCapacity = 1 << 20;
    static constexpr std::size_t kNumberRoom = 32;  // the longest float, double or integer
    static constexpr int kFloatCacheBits = 10;
    struct CachedFloat {
        uint32_t bits = 0;
        uint8_t length = 0;  // 0: empty
        char text[27];       // the longest float text is 15 bytes
    };

    char *end() { return buffer_.get() + kCapacity; }
    void room(std::size_t size) {
        if (std::size_t(end() - at_) < size) flush();
    }

    Sink sink_;
    std::unique_ptr<char[]> buffer_;
    char *at_;
    std::vector<CachedFloat> floatTexts_ = std::vector<CachedFloat>(1u << kFloatCacheBits);
};

}  // namespace modeler
