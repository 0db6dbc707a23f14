// The host's one JSON writer: the scene's lossless JSON, the glTF's
// document and the page's state are all written with it. JSON goes
// straight into text, objects and arrays opened and closed in turn, keys in
// the order given; no tree is built, so that a document of millions of
// nodes costs little more than its bytes. A large document streams to a
// sink in chunks.
//
// One number format everywhere: the shortest text that reads back to the
// same value of the number's own type (a float as a float, a double as a
// double), as std::to_chars writes it; JSON has no infinity or NaN, so
// those are written as null. One string format: quotes, backslashes and
// control characters escaped, and a byte that is not part of well-formed
// UTF-8 written as U+FFFD (readableUtf8), so that any name makes valid
// JSON.
#pragma once

#include <concepts>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "modeler/export/chunked_text.h"

namespace modeler {

class JsonWriter {
  public:
    // How a container lays out its members or elements.
    enum class Layout {
        Inherit,  // as the container it is in (the outermost: Lines)
        Lines,    // one a line, indented
        Inline,   // on one line, after ", " and with ": " after keys
    };

    // indent 0: all on one line with no spaces (every Layout is ignored);
    // else that many spaces for each enclosing Lines container. The text
    // is kept, for text() or take().
    explicit JsonWriter(int indent = 0);
    // Streamed: the text goes to sink in chunks, the last at finish().
    JsonWriter(ChunkedText::Sink sink, int indent);
    JsonWriter(const JsonWriter &) = delete;
    JsonWriter &operator=(const JsonWriter &) = delete;

    JsonWriter &beginObject(Layout layout = Layout::Inherit) { return open('{', layout); }
    JsonWriter &endObject() { return close('}'); }
    JsonWriter &beginArray(Layout layout = Layout::Inherit) { return open('[', layout); }
    JsonWriter &endArray() { return close(']'); }
    JsonWriter &key(std::string_view name);
    // A key spelled out in the code ("bufferView", "points", ...): plain
    // ASCII with nothing to escape, so its characters are not looked at. A
    // debug build checks that.
    template <std::size_t N>
    JsonWriter &key(const char (&name)[N]) {
        return plainKey(std::string_view(name, N - 1));
    }

    JsonWriter &value(std::string_view text);
    JsonWriter &value(const char *text) { return value(std::string_view(text)); }
    JsonWriter &value(const std::string &text) { return value(std::string_view(text)); }
    JsonWriter &value(bool truth);
    JsonWriter &value(std::nullptr_t) { return null(); }
    JsonWriter &value(float number);
    JsonWriter &value(double number);
    template <std::integral Integer>
    requires(!std::same_as<Integer, bool>) JsonWriter &value(Integer number) {
        beforeValue();
        out_.number(number);
        return *this;
    }
    // An integer's text made earlier with ShortText::appendNumber (which
    // writes integers as value() does), for a number written many times.
    template <std::size_t N>
    JsonWriter &integerText(const ShortText<N> &text) {
        beforeValue();
        out_.put(text);
        return *this;
    }
    JsonWriter &null();
    // A line break after the document, as a text file ends.
    JsonWriter &endLine();

    // Room for about this many bytes in a kept writer's text, so that a
    // large document is not copied as it grows.
    void reserve(std::size_t bytes) { text_.reserve(bytes); }
    // Sends what is left to the sink (a streamed writer); the text of a
    // kept one is then whole.
    void finish() { out_.flush(); }
    // The text so far (a kept writer).
    const std::string &text() {
        finish();
        return text_;
    }
    std::string take() {
        finish();
        return std::move(text_);
    }

  private:
    struct Level {
        bool object;
        Layout layout;  // Lines or Inline; Inline when compact
        bool empty = true;
    };
    JsonWriter &plainKey(std::string_view name);
    JsonWriter &open(char bracket, Layout layout);
    JsonWriter &close(char bracket);
    // The comma and line break before a member or element.
    void beforeValue();
    void newLine(int depth);
    void afterKey();

    std::string text_;  // a kept writer's text
    ChunkedText out_;
    std::string scratch_;  // an escaped string
    int indent_;
    std::vector<Level> levels_;
    int linesDepth_ = 0;  // enclosing Lines containers
    bool afterKey_ = false;
};

// A JSON string of text, in the writer's string format.
void appendJsonString(std::string &out, std::string_view text);

}  // namespace modeler
