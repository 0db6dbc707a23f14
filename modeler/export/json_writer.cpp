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

JsonWriter &JsonWriter::open(char bracket, bool object) {
    beforeValue();
    text_.push_back(bracket);
    levels_.push_back({object});
    return *this;
}

JsonWriter &JsonWriter::close(char bracket) {
    const bool empty = levels_.back().empty;
    levels_.pop_back();
    if (!empty) newLine();
    text_.push_back(bracket);
    return *this;
}

void JsonWriter::newLine() {
    if (indent_ == 0) return;
    text_.push_back('\n');
    text_.append(levels_.size() * std::size_t(indent_), ' ');
}

void JsonWriter::beforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (levels_.empty()) return;
    Level &level = levels_.back();
    if (!level.empty) text_.push_back(',');
    level.empty = false;
    newLine();
}

JsonWriter &JsonWriter::key(std::string_view name) {
    beforeValue();
    appendJsonString(text_, name);
    if (indent_)
        text_.append(": ", 2);
    else
        text_.push_back(':');
    afterKey_ = true;
    return *this;
}

namespace {
bool isPlain(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return c >= 0x20 && c < 0x80 && c != '"' && c != '\\';
    });
}
}  // namespace

JsonWriter &JsonWriter::plainKey(std::string_view name) {
    assert(isPlain(name));
    char piece[48];  // "name": in one append
    if (name.size() + 4 > sizeof piece) return key(name);
    beforeValue();
    piece[0] = '"';
    std::memcpy(piece + 1, name.data(), name.size());
    std::size_t length = name.size() + 1;
    piece[length++] = '"';
    piece[length++] = ':';
    if (indent_) piece[length++] = ' ';
    text_.append(piece, length);
    afterKey_ = true;
    return *this;
}

JsonWriter &JsonWriter::value(std::string_view text) {
    beforeValue();
    appendJsonString(text_, text);
    return *this;
}

JsonWriter &JsonWriter::value(double number) {
    beforeValue();
    appendJsonDouble(text_, number);
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
    while (!s.empty()) {
        const std::size_t bad = std::min(findInvalidUtf8(s), s.size());
        appendValid(out, s.substr(0, bad));
        if (bad == s.size()) break;
        appendEscape(out, static_cast<unsigned char>(s[bad]));
        s.remove_prefix(bad + 1);
    }
    out.push_back('"');
}

void appendJsonDouble(std::string &out, double value) {
    if (!std::isfinite(value)) {
        out.append("null");  // JSON has no infinity or NaN
        return;
    }
    if (value == 0) {
        out.append(std::signbit(value) ? "-0.0" : "0.0");
        return;
    }
    // The shortest digits and their exponent: d.ddde±x.
    char scientific[32];
    const auto [end, ec] = std::to_chars(scientific, scientific + sizeof scientific, value,
                                         std::chars_format::scientific);
    const char *at = scientific;
    if (*at == '-') {
        out.push_back('-');
        ++at;
    }
    const char *e = std::find(at, static_cast<const char *>(end), 'e');
    char digits[24];
    int k = 0;
    for (const char *d = at; d < e; ++d) {
        if (*d != '.') digits[k++] = *d;
    }
    int exponent = 0;
    std::from_chars(e + 1 + (e[1] == '+'), end, exponent);
    const int n = exponent + 1;  // where the decimal point falls among the digits
    const std::string_view all(digits, std::size_t(k));
    if (k <= n && n <= 15) {
        out.append(all).append(std::size_t(n - k), '0').append(".0");
    } else if (0 < n && n <= 15) {
        out.append(all.substr(0, std::size_t(n))).push_back('.');
        out.append(all.substr(std::size_t(n)));
    } else if (-4 < n && n <= 0) {
        out.append("0.").append(std::size_t(-n), '0').append(all);
    } else {
        out.push_back(digits[0]);
        if (k > 1) out.append(".").append(all.substr(1));
        char power[16];
        std::snprintf(power, sizeof power, "e%c%02d", n - 1 < 0 ? '-' : '+', std::abs(n - 1));
        out.append(power);
    }
}

}  // namespace modeler
