// The JSON text the glTF writer makes without a tree: every double must
// read back to the same bits, and the nesting must be valid JSON in both
// the compact and the indented form.
#include "modeler/export/json_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <random>

namespace {

std::string doubleText(double value) {
    std::string text;
    modeler::appendJsonDouble(text, value);
    return text;
}

TEST(JsonWriter, DoublesReadBackToTheSameBitsAndReadAsFloats) {
    // Where plain notation gives way to exponents, whole numbers, signs.
    EXPECT_EQ(doubleText(1.0), "1.0");
    EXPECT_EQ(doubleText(-0.0), "-0.0");
    EXPECT_EQ(doubleText(0.85), "0.85");
    EXPECT_EQ(doubleText(0.0001), "0.0001");
    EXPECT_EQ(doubleText(0.00001), "1e-05");
    EXPECT_EQ(doubleText(-2.5e-7), "-2.5e-07");
    EXPECT_EQ(doubleText(123456.0), "123456.0");
    EXPECT_EQ(doubleText(1e14), "100000000000000.0");
    EXPECT_EQ(doubleText(1e15), "1e+15");
    EXPECT_EQ(doubleText(1e16), "1e+16");
    EXPECT_EQ(doubleText(1.25e300), "1.25e+300");
    EXPECT_EQ(doubleText(65.28369), "65.28369");
    EXPECT_EQ(doubleText(std::numeric_limits<double>::infinity()), "null");

    std::mt19937_64 random(7);
    for (int i = 0; i < 20000; ++i) {
        double value;
        const uint64_t bits = random();
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value)) continue;
        if (i % 2) value = std::ldexp(double(random() % 1000000) / 997, int(random() % 80) - 40);
        const std::string text = doubleText(value);
        const double back = std::strtod(text.c_str(), nullptr);
        ASSERT_EQ(std::memcmp(&back, &value, sizeof value), 0) << text;
        ASSERT_NE(text.find_first_of(".e"), std::string::npos) << text << " reads as an integer";
    }
}

TEST(JsonWriter, NestingIsValidJsonCompactAndIndented) {
    for (int indent : {0, 2}) {
        modeler::JsonWriter out(indent);
        out.beginObject();
        out.key("empty").beginArray().endArray();
        out.key("none").beginObject().endObject();
        out.key("list").beginArray().value(1).value(2.5).value("a\"b\\c\x01").endArray();
        out.key("nested").beginArray().beginObject().key("k").value(-3).endObject();
        out.beginArray().endArray().endArray();
        if (indent == 0) out.key("bad_utf8").value("\xff\xc3\xa9");
        const std::string quoted = "say\"hi\"";  // a key made at run time is escaped
        out.key(quoted).value(7);
        out.endObject();
        const auto json = nlohmann::json::parse(out.text());
        EXPECT_TRUE(json["empty"].is_array() && json["empty"].empty());
        EXPECT_TRUE(json["none"].is_object() && json["none"].empty());
        EXPECT_EQ(json["list"][1], 2.5);
        EXPECT_EQ(json["list"][2], "a\"b\\c\x01");
        EXPECT_EQ(json["nested"][0]["k"], -3);
        EXPECT_EQ(json["say\"hi\""], 7);
        if (indent == 0) {
            EXPECT_EQ(json["bad_utf8"], "\u00ff\u00e9");
            EXPECT_EQ(out.text().find_first_of(" \n"), std::string::npos) << out.text();
        } else {
            EXPECT_EQ(nlohmann::ordered_json::parse(out.text()).dump(2), out.text())
                << "laid out as readers print it";
        }
    }
}

}  // namespace
