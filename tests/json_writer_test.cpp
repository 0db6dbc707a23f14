// The host's JSON writer: every number reads back to the same bits in its
// own type, the nesting is valid JSON in every layout, text that is not
// UTF-8 still makes valid JSON, and a streamed document equals a kept one.
#include "modeler/export/json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <vector>

namespace {

using modeler::JsonWriter;
using Layout = JsonWriter::Layout;

template <typename Number>
std::string numberText(Number value) {
    JsonWriter out;
    out.beginArray().value(value).endArray();
    const std::string text = out.take();
    return text.substr(1, text.size() - 2);
}

TEST(JsonWriter, NumbersAreTheShortestTextOfTheirOwnType) {
    EXPECT_EQ(numberText(1.0), "1");
    EXPECT_EQ(numberText(-0.0), "-0");
    EXPECT_EQ(numberText(0.85), "0.85");
    EXPECT_EQ(numberText(0.1f), "0.1") << "a float is not widened to a double's digits";
    EXPECT_EQ(numberText(1e-05), "1e-05");
    EXPECT_EQ(numberText(-7), "-7");
    EXPECT_EQ(numberText(uint64_t(18446744073709551615u)), "18446744073709551615");
    EXPECT_EQ(numberText(std::numeric_limits<double>::infinity()), "null");
    EXPECT_EQ(numberText(std::nanf("")), "null");
    EXPECT_EQ(numberText(true), "true");

    // Many numbers in one document, past the point where the writer keeps
    // the text of recent ones: each reads back to its bits.
    std::mt19937_64 random(7);
    std::vector<double> wides;
    std::vector<float> narrows;
    for (int i = 0; i < 20000; ++i) {
        const uint64_t bits = random();
        double wide;
        float narrow;
        std::memcpy(&wide, &bits, sizeof wide);
        std::memcpy(&narrow, &bits, sizeof narrow);
        if (i % 2) {
            wide = std::ldexp(double(random() % 1000000) / 997, int(random() % 80) - 40);
            narrow = float(wide);
        }
        if (std::isfinite(wide)) wides.push_back(wide);
        if (std::isfinite(narrow)) narrows.push_back(narrow);
    }
    // Each number twice: the second time its text may come from the cache.
    JsonWriter out;
    out.beginArray();
    for (int pass = 0; pass < 2; ++pass) {
        for (const double wide : wides)
            out.value(wide);
        for (const float narrow : narrows)
            out.value(narrow);
    }
    out.endArray();
    const std::string text = out.take();
    const char *at = text.c_str() + 1;
    for (int pass = 0; pass < 2; ++pass) {
        for (const double wide : wides) {
            char *end;
            const double back = std::strtod(at, &end);
            ASSERT_EQ(std::memcmp(&back, &wide, sizeof wide), 0)
                << std::string_view(at, std::size_t(end - at));
            at = end + 1;
        }
        for (const float narrow : narrows) {
            char *end;
            const float back = std::strtof(at, &end);
            ASSERT_EQ(std::memcmp(&back, &narrow, sizeof narrow), 0)
                << std::string_view(at, std::size_t(end - at));
            at = end + 1;
        }
    }
}

// One document of every kind of node, in the layout given; with bytes that
// are not UTF-8 in a value and a key, or with U+FFFD in their place (which
// a reader prints back as it reads it).
void writeSample(JsonWriter &out, bool foreignBytes = true) {
    out.beginObject();
    out.key("empty").beginArray().endArray();
    out.key("none").beginObject().endObject();
    out.key("list").beginArray().value(1).value(2.5).value("a\"b\\c\x01").null().endArray();
    out.key("nested").beginArray().beginObject().key("k").value(-3).endObject();
    out.beginArray().endArray().endArray();
    out.key("bad_utf8").value(foreignBytes ? "\xff\xc3\xa9" : "\xef\xbf\xbd\xc3\xa9");
    // A key made at run time is escaped.
    const std::string quoted = foreignBytes ? "say\"hi\"\xfe" : "say\"hi\"\xef\xbf\xbd";
    out.key(quoted).value(false);
    out.endObject();
}

TEST(JsonWriter, EveryLayoutIsValidJsonAndEscapesWhatIsNotUtf8) {
    for (int indent : {0, 2}) {
        JsonWriter out(indent);
        writeSample(out, indent == 0);
        const std::string text = out.take();
        const auto json = nlohmann::json::parse(text);
        EXPECT_TRUE(json["empty"].is_array() && json["empty"].empty());
        EXPECT_TRUE(json["none"].is_object() && json["none"].empty());
        EXPECT_EQ(json["list"][1], 2.5);
        EXPECT_EQ(json["list"][2], "a\"b\\c\x01");
        EXPECT_TRUE(json["list"][3].is_null());
        EXPECT_EQ(json["nested"][0]["k"], -3);
        EXPECT_EQ(json["bad_utf8"], "\ufffd\u00e9") << "a stray byte reads as U+FFFD";
        EXPECT_EQ(json["say\"hi\"\ufffd"], false);
        if (indent == 0) {
            EXPECT_EQ(text.find_first_of(" \n"), std::string::npos) << text;
        } else {
            EXPECT_EQ(nlohmann::ordered_json::parse(text).dump(2), text)
                << "laid out as readers print it";
        }
    }
}

TEST(JsonWriter, InlineContainersKeepToOneLineAndLinesInsideThemIndentByTheirOwnDepth) {
    JsonWriter out(2);
    out.beginObject();
    out.key("rows").beginArray();
    out.beginArray(Layout::Inline).value(1).value(2).endArray();
    out.beginObject(Layout::Inline).key("a").value("x");
    out.key("values").beginArray(Layout::Lines).value(3).value(4).endArray();
    out.key("inner").beginArray().beginObject().key("b").null().endObject().endArray();
    out.endObject();
    out.endArray().endObject().endLine();
    EXPECT_EQ(out.take(),
              "{\n"
              "  \"rows\": [\n"
              "    [1, 2],\n"
              "    {\"a\": \"x\", \"values\": [\n"
              "      3,\n"
              "      4\n"
              "    ], \"inner\": [{\"b\": null}]}\n"
              "  ]\n"
              "}\n");
}

TEST(JsonWriter, AStreamedDocumentIsTheKeptOneInChunks) {
    // Long enough to pass through the sink many times.
    auto write = [](JsonWriter &out) {
        out.beginArray();
        for (int i = 0; i < 200000; ++i) {
            out.beginArray(Layout::Inline).value(float(i) / 7).value(i).endArray();
            if (i % 1000 == 0) writeSample(out);
        }
        out.endArray();
    };
    JsonWriter kept(2);
    write(kept);
    std::string streamed;
    int chunks = 0;
    JsonWriter out(
        [&](std::string_view chunk) {
            streamed.append(chunk);
            ++chunks;
        },
        2);
    write(out);
    out.finish();
    EXPECT_GT(chunks, 2);
    EXPECT_EQ(streamed, kept.take());
}

}  // namespace
