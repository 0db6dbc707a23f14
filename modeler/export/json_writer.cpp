#include "modeler/export/json_writer.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "modeler/model/utf8.h"

namespace modeler {

namespace {

// A small document's chunk: the page's state, an error reply.
constexpr std::size_t kKeptChunk = 16 * 1024;

bool isPlain(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c >= 0x20 && c < 0x80 && c != '"' && c != '\\';
    });
}

}  // namespace

JsonWriter::JsonWriter(int indent)
    : out_([this](std::string_view chunk) { text_.append(chunk); }, kKeptChunk), indent_(indent) {}

JsonWriter::JsonWriter(ChunkedText::Sink sink, int indent)
    : out_(std::move(sink)), indent_(indent) {}

JsonWriter &JsonWriter::open(char bracket, Layout layout) {
    beforeValue();
    out_.put(bracket);
    if (layout == Layout::Inherit) layout = levels_.empty() ? Layout::Lines : levels_.back().layout;
    if (indent_ == 0) layout = Layout::Inline;  // laid out as compact text below
    levels_.push_back({bracket == '{', layout});
    if (layout == Layout::Lines) ++linesDepth_;
    return *this;
}

JsonWriter &JsonWriter::close(char bracket) {
    assert(!levels_.empty() && levels_.back().object == (bracket == '}') && !afterKey_);
    const Level level = levels_.back();
    levels_.pop_back();
    if (level.layout == Layout::Lines) {
        --linesDepth_;
        if (!level.empty) newLine(linesDepth_);
    }
    out_.put(bracket);
    return *this;
}

void JsonWriter::newLine(int depth) {
    // A line break and its indent in one piece, as deep as documents go.
    static constexpr char kLine[] = "\n                                ";
    std::size_t spaces = std::size_t(depth) * std::size_t(indent_);
    const std::size_t first = std::min(spaces, sizeof kLine - 2);
    out_.raw(std::string_view(kLine, first + 1));
    for (spaces -= first; spaces > 0; --spaces)
        out_.put(' ');
}

void JsonWriter::beforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (levels_.empty()) return;
    Level &level = levels_.back();
    if (!level.empty) {
        if (level.layout == Layout::Lines || indent_ == 0)
            out_.put(',');
        else
            out_.raw(", ");
    }
    level.empty = false;
    if (level.layout == Layout::Lines) newLine(linesDepth_);
}

void JsonWriter::afterKey() {
    if (indent_)
        out_.raw(": ");
    else
        out_.put(':');
    afterKey_ = true;
}

JsonWriter &JsonWriter::key(std::string_view name) {
    assert(!levels_.empty() && levels_.back().object && !afterKey_);
    beforeValue();
    scratch_.clear();
    appendJsonString(scratch_, name);
    out_.raw(std::string_view(scratch_));
    afterKey();
    return *this;
}

JsonWriter &JsonWriter::plainKey(std::string_view name) {
    assert(isPlain(name));
    assert(!levels_.empty() && levels_.back().object && !afterKey_);
    beforeValue();
    out_.put('"');
    out_.raw(name);
    out_.put('"');
    afterKey();
    return *this;
}

JsonWriter &JsonWriter::value(std::string_view text) {
    beforeValue();
    if (isPlain(text)) {  // nearly every name: nothing to escape
        out_.put('"');
        out_.raw(text);
        out_.put('"');
    } else {
        scratch_.clear();
        appendJsonString(scratch_, text);
        out_.raw(std::string_view(scratch_));
    }
    return *this;
}

JsonWriter &JsonWriter::value(bool truth) {
    beforeValue();
    if (truth)
        out_.raw("true");
    else
        out_.raw("false");
    return *this;
}

JsonWriter &JsonWriter::endLine() {
    assert(levels_.empty());
    out_.put('\n');
    return *this;
}

JsonWriter &JsonWriter::null() {
    beforeValue();
    out_.raw("null");
    return *this;
}

JsonWriter &JsonWriter::value(float number) {
    if (!std::isfinite(number)) return null();
    beforeValue();
    out_.number(number);
    return *this;
}

JsonWriter &JsonWriter::value(double number) {
    if (!std::isfinite(number)) return null();
    beforeValue();
    out_.number(number);
    return *this;
}

namespace {

void appendEscape(std::string &out, unsigned char c) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
    out.append(buffer);
}

// Well-formed UTF-8, with the characters JSON must escape escaped.
void appendValid(std::string &out, std::string_view s) {
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(ch);
        } else if (c < 0x20) {
            appendEscape(out, c);
        } else {
            out.push_back(ch);
        }
    }
}

}  // namespace

void appendJsonString(std::string &out, std::string_view s) {
    // Nearly every name is plain ASCII with nothing to escape: one append.
    if (isPlain(s)) {
        const std::size_t at = out.size();
        out.resize(at + s.size() + 2);
        char *to = out.data() + at;
        to[0] = '"';
        std::memcpy(to + 1, s.data(), s.size());
        to[s.size() + 1] = '"';
        return;
    }
    out.push_back('"');
    if (findInvalidUtf8(s) == std::string_view::npos) {
        appendValid(out, s);
    } else {
        appendValid(out, readableUtf8(s));
    }
    out.push_back('"');
}

}  // namespace modeler
