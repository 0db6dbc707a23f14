// JSON written straight into text, for documents whose shape the writer
// knows (a glTF's): objects and arrays opened and closed in turn, keys in
// the order given, numbers in their shortest exact form. No tree is built,
// so that a document of many thousand nodes costs little more than its
// bytes.
#pragma once

#include <concepts>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "modeler/export/number_text.h"

namespace modeler {

class JsonWriter {
  public:
    // indent 0: all on one line with no spaces; else that many spaces a
    // level, one member or element a line.
    explicit JsonWriter(int indent = 0) : indent_(indent) {}

    JsonWriter &beginObject() { return open('{', true); }
    JsonWriter &endObject() { return close('}'); }
    JsonWriter &beginArray() { return open('[', false); }
    JsonWriter &endArray() { return close(']'); }
    JsonWriter &key(std::string_view name);
    // A key spelled out in the code (a glTF's "bufferView", "min", ...):
    // plain ASCII with nothing to escape, so its characters are not looked
    // at. A debug build checks that.
    template <std::size_t N>
    JsonWriter &key(const char (&name)[N]) {
        return plainKey(std::string_view(name));
    }

    JsonWriter &value(std::string_view text);
    JsonWriter &value(const char *text) { return value(std::string_view(text)); }
    JsonWriter &value(double number);
    template <std::integral Integer>
    JsonWriter &value(Integer number) {
        beforeValue();
        appendNumber(text_, number);
        return *this;
    }

    // Room for about this many bytes, so that a large document is not
    // copied as it grows.
    void reserve(std::size_t bytes) { text_.reserve(bytes); }
    const std::string &text() const { return text_; }
    std::string take() { return std::move(text_); }

  private:
    struct Level {
        bool object;
        bool empty = true;
    };
    JsonWriter &plainKey(std::string_view name);
    JsonWriter &open(char bracket, bool object);
    JsonWriter &close(char bracket);
    // The comma and line break before a member or element.
    void beforeValue();
    void newLine();

    std::string text_;
    int indent_;
    std::vector<Level> levels_;
    bool afterKey_ = false;
};

// A JSON string of text: quotes, backslashes and control characters
// escaped; a byte that is not part of well-formed UTF-8 stands as the code
// point of the same value.
void appendJsonString(std::string &out, std::string_view text);

// A double as JSON: the shortest digits that read back to the same bits,
// in plain notation from 1e-4 up to 1e15 (with ".0" on whole numbers, so
// that a reader sees a number of the float kind) and in exponent notation
// outside.
void appendJsonDouble(std::string &out, double value);

}  // namespace modeler
