// Sessions: parsing, checking against the tool's panel, and running through
// the real module; and the modeler command's fill and run.

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "modeler/drive/session_run.h"
#include "modeler/export/json_export.h"
#include "support.h"

using modeler::Session;

namespace {

std::string parseError(const std::string &text) {
    auto parsed = modeler::parseSession(text, "s.session", "");
    auto *error = std::get_if<std::string>(&parsed);
    return error ? *error : "parsed";
}

std::optional<std::vector<modeler::PanelControl>> toolPanel() {
    testing_support::ToolSession s;
    modeler::Panel *panel = s.driver.numericPanel();
    EXPECT_NE(panel, nullptr);
    return panel ? std::optional(panel->controls) : std::nullopt;
}

std::string checkError(const std::string &text) {
    auto parsed = modeler::parseSession(text, "s.session", "");
    if (auto *error = std::get_if<std::string>(&parsed)) return *error;
    auto error = modeler::checkSession(std::get<Session>(parsed), toolPanel());
    return error ? *error : "checked";
}

// Runs session text on a fresh host and returns the JSON export.
std::string runToJson(const std::string &text) {
    auto parsed = modeler::parseSession(text, "s.session", "");
    EXPECT_TRUE(std::holds_alternative<Session>(parsed)) << std::get<std::string>(parsed);
    auto module = testing_support::loadModule();
    modeler::Host host;
    modeler::Host::Serving serving{host};
    auto error = modeler::runSession(host, *module, testing_support::bookServer(*module),
                                     std::get<Session>(parsed));
    EXPECT_FALSE(error) << *error;
    return modeler::sceneToJson(host.scene());
}

int runCommand(const std::string &arguments, std::string *output = nullptr) {
    const testing_support::CommandResult result = testing_support::runModeler(arguments);
    if (output) *output = result.output;
    return result.status;
}

}  // namespace

TEST(Session, ParseErrorsNameFileAndLine) {
    EXPECT_EQ(parseError("activate\n\n  jump 1 2 3\n"),
              "s.session:3: expected an action (object, surface, clock, activate, event, press, "
              "move, drag, set, end, done), found \"jump\"");
    EXPECT_EQ(parseError("press 1 2\n"),
              "s.session:1: expected three numbers for the pointer's X Y Z");
    EXPECT_EQ(parseError("# comment\nmove 1 two 3"),
              "s.session:2: expected a finite number for the pointer's X Y Z, found \"two\"");
    EXPECT_EQ(parseError("press 1 2 3 4"),
              "s.session:1: expected nothing after X Y Z, found \"4\"");
    EXPECT_EQ(parseError("end maybe"),
              "s.session:1: expected keep or discard after end, found \"maybe\"");
    EXPECT_EQ(parseError("drag 7 1 1 1 view W"),
              "s.session:1: expected X, Y, Z or none after view, found \"W\"");
    EXPECT_EQ(parseError("clock soon"),
              "s.session:1: expected whole seconds after clock, found \"soon\"");
    EXPECT_EQ(parseError("set \"Random Front 0.3"),
              "s.session:1: expected a closing \" for the text that opens here");
    EXPECT_EQ(parseError("done cancel\npress 0 0 0"),
              "s.session:2: expected nothing after done: the tool was left");
    EXPECT_EQ(parseError("press inf 0 0"),
              "s.session:1: expected a finite number for the pointer's X Y Z, found \"inf\"");
}

// Names go into the scene and its files byte for byte, so they must be
// UTF-8: anything else is refused where it is typed.
TEST(Session, TextMustBeUtf8) {
    EXPECT_EQ(parseError("activate\nobject \"caf\xe9\""),
              "s.session:2: expected text in UTF-8, found the byte 0xE9 at column 12");
    struct Case {
        const char *bytes;
        bool valid;
    } cases[] = {
        {"plain", true},
        {"\xc3\xa9tag\xc3\xa8re", true},
        {"\xf0\x9f\x93\x9a", true},
        {"\xc0\x80", false},          // an overlong NUL
        {"\xed\xa0\x80", false},      // a surrogate
        {"\xf4\x90\x80\x80", false},  // past U+10FFFF
        {"\xe2\x82", false},          // cut inside a character
        {"\x80", false},              // a continuation byte alone
    };
    for (const Case &c : cases) {
        const std::string line = std::string("object \"") + c.bytes + "\"";
        EXPECT_EQ(parseError(line) == "parsed", c.valid) << line;
    }
    std::string output;
    EXPECT_EQ(runCommand("fill --box 0,0,0:1,1,1 -o x.json --set 'Surface Prefix=\xff'", &output),
              2);
    EXPECT_EQ(output, "modeler: --set: expected text in UTF-8, found \"Surface Prefix=\xff\"\n");
}

TEST(Session, Utf8NamesReachTheJsonByteForByte) {
    const std::string object = "\xc3\x89tag\xc3\xa8re \xf0\x9f\x93\x9a";
    const std::string prefix = "\xe6\x9b\xb8_";
    const std::string json =
        runToJson("object \"" + object + "\"\nclock 3\nactivate\nset \"Surface Prefix\" " + prefix +
                  "\npress 0 0 0\nmove 0.2 0.4 0.3\nend keep\n");
    EXPECT_NE(json.find("\"object\": \"" + object + "\""), std::string::npos);
    EXPECT_NE(json.find("{\"name\": \"" + prefix + "0\""), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(json)["object"].get<std::string>(), object);
}

// Every prefix of a long line, cut anywhere (inside a word, a number, a
// quoted label or a character), parses or gives one clear error.
TEST(Session, EveryTruncatedLineParsesOrIsAClearError) {
    const std::string lines[] = {
        "drag 3 1.5 -2 3e-1 delta 1 1 1 view Z constrain hold first # a comment",
        "set \"Surface Prefix\" \"\xe6\x9b\xb8 shelf\"",
        "done folder \"covers/new ones\"",
    };
    for (const std::string &line : lines) {
        for (std::size_t length = 0; length <= line.size(); ++length) {
            const std::string error = parseError(line.substr(0, length));
            if (error != "parsed") {
                EXPECT_EQ(error.rfind("s.session:1: expected ", 0), 0u) << error;
                EXPECT_EQ(error.find('\n'), std::string::npos) << error;
            }
        }
    }
}

TEST(Session, PanelEditsAreCheckedAgainstTheToolsPanel) {
    EXPECT_EQ(
        checkError("set \"Random Front\" 0.3\nset Type Softcover\nset Axis Y\nset Rotation 15"),
        "checked");
    EXPECT_EQ(checkError("activate\nset Colour red"),
              "s.session:2: expected a panel label (\"Axis\", \"Type\", \"MinSize\", \"MaxSize\", "
              "\"Rotation\", \"Book Segments\", \"Surface Prefix\", \"Random Front\", \"Random "
              "Back\", \"Random Top\", \"Random Bottom\"), found \"Colour\"");
    EXPECT_EQ(checkError("set Type Paperback"),
              "s.session:1: expected one of \"Hardcover\", \"Softcover\", \"Both\" for \"Type\", "
              "found \"Paperback\"");
    EXPECT_EQ(checkError("set Axis W"),
              "s.session:1: expected an axis (X, Y or Z) for \"Axis\", found \"W\"");
    EXPECT_EQ(checkError("set \"Book Segments\" 2.5"),
              "s.session:1: expected a whole number for \"Book Segments\", found \"2.5\"");
    EXPECT_EQ(checkError("set MinSize nan"),
              "s.session:1: expected a finite number for \"MinSize\", found \"nan\"");
    EXPECT_EQ(checkError("set --hidden-- 1").find("expected a panel label"), 13u);
}

TEST(Session, CrossedCornerGivesTheShelfOfTheOrderedBox) {
    const std::string crossed = runToJson(
        "clock 1234\nactivate\npress 1 0 0\nmove 2 0.5 0.3\n"
        "drag 7 0.2 0.5 0.3\nset \"Random Front\" 0.3\nset Rotation 10\nend keep\n");
    const std::string ordered = runToJson(
        "clock 1234\nactivate\npress 0.2 0 0\nmove 1 0.5 0.3\n"
        "set \"Random Front\" 0.3\nset Rotation 10\nend keep\n");
    EXPECT_EQ(crossed, ordered);
    EXPECT_GT(crossed.size(), 1000u);
}

TEST(Session, PressesWithinOneSecondGiveTheSameBooks) {
    const std::string once =
        runToJson("clock 50\nactivate\npress 0 0 0\nmove 1 0.4 0.3\nend keep\n");
    const std::string twice =
        runToJson("clock 50\nactivate\npress 0 0 0\nmove 1 0.4 0.3\npress 5 5 5\nend keep\n");
    const std::string later = runToJson(
        "clock 50\nactivate\npress 0 0 0\nmove 1 0.4 0.3\nclock 51\npress 5 5 5\nend keep\n");
    EXPECT_EQ(once, twice);
    EXPECT_NE(once, later);
}

TEST(Session, DragPastTheHandleCountIsReportedWithItsLine) {
    auto parsed =
        modeler::parseSession("activate\npress 0 0 0\nend keep\ndrag 3 1 1 1\n", "s.session", "");
    auto module = testing_support::loadModule();
    modeler::Host host;
    modeler::Host::Serving serving{host};
    auto error = modeler::runSession(host, *module, testing_support::bookServer(*module),
                                     std::get<Session>(parsed));
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, "s.session:4: plug-in fault: drag: handle 3 is not below the tool's count 0");

    // At the edge: a box has nine handles, 0 to 8.
    for (const auto &[handle, expected] :
         {std::pair<std::string, std::string>{"8", ""},
          {"9", "s.session:4: plug-in fault: drag: handle 9 is not below the tool's count 9"}}) {
        auto edge = modeler::parseSession(
            "activate\npress 0 0 0\nmove 1 0.4 0.3\ndrag " + handle + " 1.2 0.5 0.3\nend keep\n",
            "s.session", "");
        modeler::Host edgeHost;
        auto edgeError = modeler::runSession(
            edgeHost, *module, testing_support::bookServer(*module), std::get<Session>(edge));
        EXPECT_EQ(edgeError.value_or(""), expected) << "handle " << handle;
    }
}

TEST(ModelerCommand, FillWritesTheWorkedExample) {
    const std::string folder = testing_support::freshFolder("fill");
    std::string output;
    ASSERT_EQ(runCommand("fill --box 0,0,0:1,0.5,0.3 --seed 0 -o '" + folder + "/new/shelf.json'",
                         &output),
              0)
        << output;
    EXPECT_EQ(output, "27 books, 456 points, 336 polygons, 0 textured covers\nwrote " + folder +
                          "/new/shelf.json\n");
    const auto json = nlohmann::json::parse(testing_support::readFile(folder + "/new/shelf.json"));
    EXPECT_EQ(json["points"].size(), 456u);
    EXPECT_EQ(json["polygons"].size(), 336u);
    // The same command writes the same file.
    ASSERT_EQ(runCommand("fill --box 0,0,0:1,0.5,0.3 -q -o '" + folder + "/again.json'", &output),
              0);
    EXPECT_EQ(output, "");
    EXPECT_EQ(testing_support::readFile(folder + "/again.json"),
              testing_support::readFile(folder + "/new/shelf.json"));
}

TEST(ModelerCommand, BadSessionsWriteNothing) {
    const std::string folder = testing_support::freshFolder("badrun");
    std::ofstream(folder + "/bad.session")
        << "activate\npress 0 0 0\nmove 1 1 1\nset Type Paperback\nend keep\n";
    std::string output;
    EXPECT_EQ(runCommand("run '" + folder + "/bad.session' -o '" + folder + "/out.json'", &output),
              1);
    EXPECT_EQ(output, "modeler: " + folder +
                          "/bad.session:4: expected one of \"Hardcover\", \"Softcover\", \"Both\" "
                          "for \"Type\", found \"Paperback\"\n");
    EXPECT_EQ(testing_support::readFile(folder + "/out.json"), "");
    EXPECT_EQ(runCommand("fill --box 0,0,0:1 -o x.json", &output), 2);
    EXPECT_EQ(runCommand("fill --box 0,0,0:1,1,1 --set Type=Paperback -o '" + folder + "/f.json'",
                         &output),
              2)
        << "a mistake in fill's options is wrong usage";
    EXPECT_EQ(runCommand("run '" + folder + "' -o '" + folder + "/f.json'", &output), 1);
    EXPECT_EQ(output, "modeler: " + folder + ": is a folder, not a session file\n");
    EXPECT_EQ(runCommand("fill --box 0,0,0:1,1,1 -o '" + folder + "/f.txt'", &output), 2);
    EXPECT_NE(output.find("cannot tell the format"), std::string::npos);
}

TEST(ModelerCommand, FormatOptionOverridesTheName) {
    const std::string folder = testing_support::freshFolder("format");
    std::string output;
    ASSERT_EQ(runCommand("fill --box 0,0,0:1,0.5,0.3 -q --format obj -o '" + folder + "/shelf.txt'",
                         &output),
              0)
        << output;
    EXPECT_EQ(testing_support::readFile(folder + "/shelf.txt").rfind("# varlobooks", 0), 0u);
    EXPECT_NE(testing_support::readFile(folder + "/shelf.mtl").find("newmtl bookpages"),
              std::string::npos);
    ASSERT_EQ(
        runCommand("fill --box 0,0,0:1,0.5,0.3 -q --format glb -o '" + folder + "/shelf.bin3d'",
                   &output),
        0)
        << output;
    EXPECT_EQ(testing_support::readFile(folder + "/shelf.bin3d").substr(0, 4), "glTF");
    EXPECT_EQ(runCommand("fill --box 0,0,0:1,0.5,0.3 --format fbx -o x", &output), 2);
}

TEST(Session, ReportTellsEachBuildAndTheValueAnEditLeft) {
    auto parsed = modeler::parseSession(
        "clock 0\nactivate\npress 0 0 0\nmove 1 0.5 0.3\nset \"Random Front\" 0.7\n", "s.session",
        "");
    auto module = testing_support::loadModule();
    modeler::Host host;
    modeler::Host::Serving serving{host};
    modeler::RunOptions options;
    std::vector<std::string> lines;
    options.report = [&lines](const std::string &line) { lines.push_back(line); };
    options.shellNoun = "books";
    ASSERT_FALSE(modeler::runSession(host, *module, testing_support::bookServer(*module),
                                     std::get<Session>(parsed), options));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2], "s.session:4: build: 27 books, 456 points, 336 polygons, 1476 UV values");
    EXPECT_EQ(lines[3], "s.session:5: \"Random Front\" is 0.5");
}

TEST(ModelerCommand, EveryBundledExampleRuns) {
    const std::string folder = testing_support::freshFolder("examples");
    std::string output;
    for (const char *name : {"shelf", "stack"}) {
        const std::string session = std::string(SOURCE_DIR "/examples/") + name + ".session";
        ASSERT_EQ(
            runCommand("run '" + session + "' -o '" + folder + "/" + name + ".json'", &output), 0)
            << name << ": " << output;
        EXPECT_NE(output.find(" textured covers\n"), std::string::npos) << output;
        EXPECT_EQ(output.find(" 0 textured covers"), std::string::npos)
            << "covers from examples/covers";
    }
}

// A surface a build named goes when the build is taken back, as its
// polygons do; the object's own surfaces and those of kept builds stay.
TEST(Session, SurfacesGoWithTheBuildsThatMadeThem) {
    const std::string json = runToJson(
        "surface mine\nclock 9\nactivate\npress 0 0 0\nmove 1 0.5 0.3\n"
        "set MaxSize 0.002\nsurface added_during_the_edit\nset MaxSize 0.08\nend keep\n");
    const auto scene = nlohmann::json::parse(json);
    std::set<std::string> names;
    for (const auto &surface : scene["surfaces"])
        names.insert(surface["name"].get<std::string>());
    std::set<std::string> used;
    for (const auto &polygon : scene["polygons"])
        used.insert(polygon["surface"].get<std::string>());
    used.insert("mine");
    used.insert("added_during_the_edit");
    EXPECT_EQ(names, used) << "no surface of a build taken back is left";
    EXPECT_LT(names.size(), 40u);
}
