// modeler serve through its HTTP API, as the page uses it: the real module
// on an in-process server, a client on the loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include <nlohmann/json.hpp>

#include "modeler/library/profile_words.h"
#include "modeler/page/view_mesh.h"
#include "modeler/page/workspace.h"
#include "modeler/serve/web_server.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing_support::readFile;

struct Frame {
    json state;
    std::string mesh;
};

Frame readFrame(const std::string &body) {
    Frame frame;
    if (body.size() < 4) {
        ADD_FAILURE() << "a frame of " << body.size() << " bytes";
        return frame;
    }
    uint32_t length = 0;
    std::memcpy(&length, body.data(), 4);
    frame.state = json::parse(body.substr(4, length));
    frame.mesh = body.substr(4 + length);
    return frame;
}

// An image folder with the sample covers in "covers", a text file, and
// links that lead out of it.
std::string makeImageRoot() {
    const fs::path root = testing_support::freshFolder("serve-images");
    fs::copy(SOURCE_DIR "/examples/covers", root / "covers");
    std::ofstream(root / "notes.txt") << "not an image\n";
    fs::create_directory(root / "quote\"d");
    fs::create_symlink(SOURCE_DIR "/examples/covers", root / "linked");
    fs::create_symlink(SOURCE_DIR "/README.md", root / "covers" / "escape.png");
    return root.string();
}

// A build configured without the page's three.js has no page to serve (a
// plain offline build): the tests that serve it say so and skip, but in CI.
#define SKIP_WITHOUT_PAGE()                                                  \
    if (!fs::exists(BINARY_DIR "/bin/web/index.html") && !std::getenv("CI")) \
    GTEST_SKIP() << "the page was not built (scripts/web.sh installs its three.js)"

// The module as the host library opens it, closed at the end.
struct LibraryModule {
    VarlobooksModule *module = nullptr;
    LibraryModule() {
        EXPECT_EQ(varlobooks_module_open(VARLOBOOKS_MODULE_PATH, &module), VARLOBOOKS_OK)
            << varlobooks_module_error(module);
    }
    ~LibraryModule() { varlobooks_module_close(module); }
    LibraryModule(const LibraryModule &) = delete;
    LibraryModule &operator=(const LibraryModule &) = delete;
};

// The server on a free port, serving on a thread of its own until the end.
struct Served {
    LibraryModule library;
    std::unique_ptr<modeler::WebServer> server;
    std::thread thread;
    std::unique_ptr<httplib::Client> client;
    std::string token;
    std::string images = makeImageRoot();

    Served() {
        modeler::ServeOptions options;
        options.port = 0;
        options.images = images;
        options.webFolder = BINARY_DIR "/bin/web";
        options.objectName = "bookshelf";
        server = std::make_unique<modeler::WebServer>(library.module, options);
        if (auto error = server->bind()) {
            ADD_FAILURE() << *error;
            return;
        }
        thread = std::thread([this] { server->run(); });
        client = std::make_unique<httplib::Client>("127.0.0.1", server->port());
        client->set_url_encode(false);
    }
    ~Served() {
        client.reset();
        server->stop();
        if (thread.joinable()) thread.join();
        server.reset();
    }

    httplib::Headers headers() const { return {{"X-Workspace", token}}; }

    Frame start() {
        auto res = client->Post("/api/start", "", "text/plain");
        EXPECT_TRUE(res && res->status == 200) << (res ? res->body : "no answer");
        Frame frame = readFrame(res->body);
        token = frame.state["workspace"];
        return frame;
    }
    // One session line; expects it taken.
    Frame act(const std::string &line, bool begins = false, const std::string &have = "") {
        std::string path = "/api/action?have=" + have;
        if (begins) path += "&gesture=begin";
        auto res = client->Post(path.c_str(), headers(), line, "text/plain");
        EXPECT_TRUE(res && res->status == 200) << line << ": " << (res ? res->body : "no answer");
        return res && res->status == 200 ? readFrame(res->body) : Frame{};
    }
    Frame state() {
        auto res = client->Get("/api/state", headers());
        EXPECT_TRUE(res && res->status == 200);
        return readFrame(res->body);
    }
    httplib::Result get(const std::string &path) { return client->Get(path.c_str(), headers()); }
};

std::string writeTemp(const std::string &name, const std::string &bytes) {
    const fs::path path = fs::path(testing_support::freshFolder("serve-" + name)) / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
}

// The page draws the per-book model the downloads are made from, in one
// group per material: the same triangles, at the same places, as the
// whole shelf merged into one mesh.
TEST(ViewMesh, OneGroupPerMaterialDrawsEveryBooksTriangles) {
    testing_support::ToolSession s;
    s.buildBox({0, 0, 0}, {3, 0.3f, 0.2f});
    ASSERT_FALSE(s.driver.setPanelValue("Rotation", "12"));
    const auto look = modeler::profileLook();
    const auto books = modeler::buildAssetModel(s.host.scene(), {false, "shelf", look});
    const auto merged = modeler::buildAssetModel(s.host.scene(), {true, "shelf", look});
    ASSERT_GT(books.meshes.size(), 20u);
    ASSERT_GE(books.materials.size(), 2u);

    const std::string frame = modeler::encodeViewMesh(books);
    auto word = [&](std::size_t at) {
        uint32_t w;
        std::memcpy(&w, frame.data() + 4 * at, 4);
        return w;
    };
    const uint32_t vertices = word(0), groups = word(1);
    ASSERT_EQ(groups, books.materials.size());
    const std::size_t floats = 2 + 3 * std::size_t(groups);
    const std::size_t indexWords = (frame.size() / 4) - floats - 8 * std::size_t(vertices);
    auto position = [&](uint32_t v) {
        std::array<float, 3> p;
        std::memcpy(p.data(), frame.data() + 4 * (floats + 3 * std::size_t(v)), 12);
        return p;
    };
    // Each triangle as its corners' positions, per material.
    using Triangle = std::array<float, 9>;
    std::map<uint32_t, std::vector<Triangle>> drawn, expected;
    std::size_t next = 0;
    for (uint32_t g = 0; g < groups; ++g) {
        const uint32_t material = word(2 + 3 * g), first = word(3 + 3 * g), count = word(4 + 3 * g);
        EXPECT_EQ(first, next) << "groups follow one another";
        EXPECT_FALSE(drawn.count(material)) << "one group per material";
        next = first + count;
        for (uint32_t i = first; i < first + count; i += 3) {
            Triangle t;
            for (int k = 0; k < 3; ++k) {
                const uint32_t v = word(floats + 8 * std::size_t(vertices) + i + k);
                ASSERT_LT(v, vertices);
                std::copy_n(position(v).begin(), 3, t.begin() + 3 * k);
            }
            drawn[material].push_back(t);
        }
    }
    EXPECT_EQ(next, indexWords);
    const auto &mesh = merged.meshes.at(0);
    for (const auto &primitive : mesh.primitives) {
        for (std::size_t i = 0; i < primitive.indices.size(); i += 3) {
            Triangle t;
            for (int k = 0; k < 3; ++k)
                std::copy_n(mesh.positions.begin() + 3 * primitive.indices[i + k], 3,
                            t.begin() + 3 * k);
            expected[uint32_t(primitive.material)].push_back(t);
        }
    }
    for (auto *triangles : {&drawn, &expected}) {
        for (auto &[material, list] : *triangles)
            std::sort(list.begin(), list.end());
    }
    EXPECT_TRUE(drawn == expected);
}

TEST(Serve, EachActionIsASessionLineAndTheDownloadsReplayBitForBit) {
    SKIP_WITHOUT_PAGE();
    Served served;
    Frame frame = served.start();
    EXPECT_TRUE(frame.state["inUse"]);
    ASSERT_TRUE(frame.state["panel"].is_object());
    // The panel comes from the tool's own description: choices and axes as menus.
    bool sawType = false, sawAxis = false;
    for (const json &c : frame.state["panel"]["controls"]) {
        if (c["label"] == "Type") sawType = c["choices"].size() == 3 && c["value"] == "Both";
        if (c["label"] == "Axis") sawAxis = c["choices"] == json{"X", "Y", "Z"};
    }
    EXPECT_TRUE(sawType && sawAxis) << frame.state["panel"].dump();

    frame = served.act("press 0 0.4 0", true);
    frame = served.act("move 1.2 0.7 0.25");
    EXPECT_EQ(frame.state["handles"].size(), 9u);
    EXPECT_FALSE(frame.state["drawing"].empty());
    EXPECT_GT(frame.state["polygons"], 0);
    // The mesh comes with the frame while the page does not hold it yet.
    ASSERT_TRUE(frame.state["mesh"]);
    uint32_t vertices = 0;
    std::memcpy(&vertices, frame.mesh.data(), 4);
    EXPECT_GT(vertices, 0u);
    const std::string version = std::to_string(frame.state["meshVersion"].get<uint64_t>());
    auto held = served.client->Get(("/api/state?have=" + version).c_str(), served.headers());
    ASSERT_TRUE(held);
    EXPECT_FALSE(readFrame(held->body).state["mesh"]);
    EXPECT_TRUE(readFrame(held->body).mesh.empty());

    // A handle drag: the first step begins the gesture, later ones follow.
    served.act("drag 7 1.4 0.8 0.25 view Z", true);
    frame = served.act("drag 7 1.5 0.85 0.25 view Z");
    EXPECT_FLOAT_EQ(frame.state["handles"][7]["position"][0].get<double>(), 1.5);
    frame = served.act("set \"Type\" \"Softcover\"");
    for (const json &c : frame.state["panel"]["controls"]) {
        if (c["label"] == "Type") {
            EXPECT_EQ(c["value"], "Softcover");
        }
    }
    served.act("set Rotation 4");
    frame = served.act("end keep");
    const int kept = frame.state["polygons"];
    // A second edit taken back leaves the kept books as they were.
    frame = served.act("press 0 0 1", true);
    served.act("move 0.5 0.3 1.3");
    EXPECT_GT(served.state().state["polygons"].get<int>(), kept);
    frame = served.act("end discard");
    EXPECT_EQ(frame.state["polygons"], kept);

    // Leaving: the tool's form waits for the page's answer.
    auto left = served.client->Post("/api/leave", served.headers(), "", "text/plain");
    ASSERT_TRUE(left && left->status == 200) << left->body;
    frame = readFrame(left->body);
    ASSERT_TRUE(frame.state.contains("form")) << frame.state.dump();
    EXPECT_EQ(frame.state["form"]["title"], "book tool: Add ImageMaps to new surfaces");
    EXPECT_EQ(frame.state["form"]["folders"], (json{".", "covers"}));  // no link, no quote
    auto answered = served.client->Post("/api/form", served.headers(), R"({"folder":"covers"})",
                                        "application/json");
    ASSERT_TRUE(answered && answered->status == 200) << answered->body;
    frame = readFrame(answered->body);
    EXPECT_FALSE(frame.state["inUse"]);
    bool textured = false;
    for (const json &m : frame.state["materials"]) {
        if (!m["texture"].is_null()) {
            textured = true;
            auto image = served.get("/api/texture/" + std::to_string(m["texture"].get<int>()) +
                                    "?w=" + served.token);
            ASSERT_TRUE(image && image->status == 200);
            EXPECT_TRUE(image->body.rfind("\x89PNG", 0) == 0 ||
                        image->body.rfind("\xFF\xD8", 0) == 0);
        }
    }
    EXPECT_TRUE(textured);

    auto session = served.get("/api/session");
    ASSERT_TRUE(session && session->status == 200);
    // The folder is named relative to the image folder: no path of this
    // machine, and the session replays wherever the covers are.
    EXPECT_NE(session->body.find("\ndone folder \"covers\"\n"), std::string::npos) << session->body;
    EXPECT_EQ(session->body.find(served.images), std::string::npos) << session->body;
    EXPECT_NE(session->body.find("\nclock "), std::string::npos);
    const std::string sessionPath = writeTemp("replay.session", session->body);
    const std::string out = testing_support::freshFolder("serve-replay");
    const auto run =
        testing_support::runModeler("run '" + sessionPath + "' --images '" + served.images +
                                    "/covers' -q -o '" + out + "/r.json' -o '" + out + "/r.glb'");
    ASSERT_EQ(run.status, 0) << run.output;
    for (const char *format : {"json", "glb"}) {
        auto download = served.get(std::string("/api/download/") + format);
        ASSERT_TRUE(download && download->status == 200) << format;
        EXPECT_EQ(download->get_header_value("Content-Disposition"),
                  std::string("attachment; filename=\"bookshelf.") + format + "\"");
        EXPECT_TRUE(download->body == readFile(out + "/r." + format))
            << format << ": the page's download differs from modeler run of its session";
    }
    // Played again by a page (a reload), the relative folder is the one
    // offered: the same bytes.
    const std::string json = served.get("/api/download/json")->body;
    const nlohmann::json saved = {{"session", session->body},
                                  {"steps", served.state().state["steps"]}};
    auto again = served.client->Post("/api/start", saved.dump(), "application/json");
    ASSERT_EQ(again->status, 200) << again->body;
    served.token = readFrame(again->body).state["workspace"];
    EXPECT_EQ(served.get("/api/download/json")->body, json);
    for (const char *format : {"obj", "gltf"}) {
        auto zipped = served.get(std::string("/api/download/") + format);
        ASSERT_TRUE(zipped && zipped->status == 200) << format;
        EXPECT_EQ(zipped->body.substr(0, 4), std::string("PK\x03\x04", 4)) << format;
        EXPECT_NE(zipped->body.find(std::string("bookshelf.") + format), std::string::npos);
    }
    EXPECT_NE(served.get("/api/download/obj")->body.find("bookshelf_covers/"), std::string::npos);
}

TEST(Serve, BadRequestsAre4xxWithAReasonAndChangeNothing) {
    SKIP_WITHOUT_PAGE();
    Served served;
    served.start();
    served.act("press 0 0 0", true);
    const json before = served.state().state;
    struct Case {
        const char *what;
        std::string method, path, body;
        int status;
        const char *reason;
    };
    const std::string huge(100 * 1024, 'x');
    const std::vector<Case> cases = {
        {"an unknown action", "POST", "/api/action", "jump 1 2 3", 400, "an action"},
        {"a line the host writes itself", "POST", "/api/action", "object x", 400, "press, move"},
        {"a clock from the page", "POST", "/api/action", "clock 5", 400, "press, move"},
        {"leaving by a line", "POST", "/api/action", "done cancel", 400, "press, move"},
        {"two lines", "POST", "/api/action", "press 0 0 0\nmove 1 1 1", 400, "one line"},
        {"an empty line", "POST", "/api/action", "", 400, "one action"},
        {"a number that is not", "POST", "/api/action", "press 0 x 0", 400, "number"},
        {"an unknown panel label", "POST", "/api/action", "set Colour red", 400, "label"},
        {"a value of the wrong kind", "POST", "/api/action", "set Type Paperback", 400, "Type"},
        {"a handle the tool has not", "POST", "/api/action", "drag 12 0 0 0", 400, "handle"},
        {"an unknown gesture", "POST", "/api/action?gesture=end", "press 0 0 0", 400, "gesture"},
        {"an answer with no form asked", "POST", "/api/form", R"({"cancel":true})", 400, "no form"},
        {"a body too large", "POST", "/api/action", huge, 413, "too large"},
        {"an unknown page", "GET", "/api/nothing", "", 404, "no such"},
        {"a file outside the page", "GET", "/../CMakeCache.txt", "", 404, "no such"},
        {"an unknown format", "GET", "/api/download/fbx", "", 400, "format"},
        {"a texture that is not", "GET", "/api/texture/99999", "", 404, "texture"},
    };
    for (const Case &c : cases) {
        auto res = c.method == "GET" ? served.client->Get(c.path.c_str(), served.headers())
                                     : served.client->Post(c.path.c_str(), served.headers(), c.body,
                                                           "text/plain");
        ASSERT_TRUE(res) << c.what << ": no answer";
        EXPECT_EQ(res->status, c.status) << c.what << ": " << res->body;
        const json reason = json::parse(res->body, nullptr, false);
        EXPECT_TRUE(reason.is_object() &&
                    reason["error"].get<std::string>().find(c.reason) != std::string::npos)
            << c.what << ": " << res->body;
        const json now = served.state().state;
        EXPECT_EQ(now["actions"], before["actions"]) << c.what;
        EXPECT_EQ(now["meshVersion"], before["meshVersion"]) << c.what;
    }
    // Without the page's workspace, or with another's, nothing is done.
    auto none = served.client->Post("/api/action", "press 1 1 1", "text/plain");
    EXPECT_EQ(none->status, 409);
    auto other =
        served.client->Post("/api/action", {{"X-Workspace", "0123"}}, "press 1 1 1", "text/plain");
    EXPECT_EQ(other->status, 409);
    EXPECT_EQ(served.state().state["actions"], before["actions"]);
    // The server still serves.
    served.act("move 1 1 1");
}

// A raw connection to the server on the loopback; -1 when refused.
int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) return fd;
    ::close(fd);
    return -1;
}

// The first reply a raw connection gets to request, within a few seconds;
// the request's body need not be finished.
std::string rawAnswer(int port, const std::string &request) {
    const int fd = connectTo(port);
    if (fd < 0) return "no connection";
    timeval wait{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    // Up to the end of the first reply: its headers and the body they state.
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        answer.append(buffer, std::size_t(n));
        const std::size_t end = answer.find("\r\n\r\n");
        if (end == std::string::npos) continue;
        const std::size_t at = answer.find("Content-Length: ");
        if (at < end && answer.size() >= end + 4 + std::stoul(answer.substr(at + 16))) break;
    }
    ::close(fd);
    return answer;
}

// A body is read whole before a handler sees it: one sent in chunks or of
// no stated length (which could be any size), or one stated too large, is
// refused before it is read, and the reply does not echo it.
TEST(Serve, BodiesThatCouldBeLargeAreRefusedBeforeTheyAreRead) {
    SKIP_WITHOUT_PAGE();
    Served served;
    served.start();
    const std::string head =
        "POST /api/action HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(served.server->port()) +
        "\r\nX-Workspace: " + served.token + "\r\n";
    const std::string chunk = "1000\r\n" + std::string(4096, 'Q') + "\r\n";
    struct Case {
        const char *what;
        std::string request;
        const char *status;
    };
    const Case cases[] = {
        {"chunked", head + "Transfer-Encoding: chunked\r\n\r\n" + chunk + chunk, " 411 "},
        {"no length", head + "\r\n" + std::string(8192, 'Q'), " 411 "},
        {"too long", head + "Content-Length: 400000000\r\n\r\n" + std::string(8192, 'Q'), " 413 "},
    };
    for (const Case &c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const std::string answer = rawAnswer(served.server->port(), c.request);
        EXPECT_EQ(answer.rfind("HTTP/1.1", 0), 0u) << c.what << ": " << answer.substr(0, 200);
        EXPECT_NE(answer.substr(0, 16).find(c.status), std::string::npos)
            << c.what << ": " << answer;
        EXPECT_EQ(answer.find("QQQQ"), std::string::npos) << c.what << ": the body is echoed";
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4))
            << c.what << ": the server waited for the body";
    }
    // The page's own requests still pass.
    served.act("press 0 0 0", true);
}

// A request line or headers beyond bounds are refused as they arrive, not
// read whole first (a 200 MiB request line once cost 230 MB).
TEST(Serve, RequestHeadsOutOfBoundsAreRefusedBeforeTheyAreRead) {
    SKIP_WITHOUT_PAGE();
    Served served;
    const std::string host = "Host: 127.0.0.1:" + std::to_string(served.server->port()) + "\r\n";
    std::string manyHeaders = "GET / HTTP/1.1\r\n" + host;
    for (int i = 0; i < 150; ++i)
        manyHeaders += "X-Header-" + std::to_string(i) + ": b\r\n";
    const std::string bigHeader = "X-Big: " + std::string(8200, 'Q') + "\r\n";
    std::string largeHead = "GET / HTTP/1.1\r\n" + host;
    for (int i = 0; i < 20; ++i)
        largeHead += "X-Part-" + std::to_string(i) + ": " + std::string(4000, 'Q') + "\r\n";
    struct Case {
        const char *what;
        std::string request;
        const char *status;
    };
    const Case cases[] = {
        {"long request line", "GET /" + std::string(4 << 20, 'Q'), " 414 "},
        {"many headers", manyHeaders + "\r\n", " 431 "},
        {"long header", "GET / HTTP/1.1\r\n" + host + bigHeader + "\r\n", " 431 "},
        {"large head", largeHead + "\r\n", " 431 "},
    };
    for (const Case &c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const std::string answer = rawAnswer(served.server->port(), c.request);
        EXPECT_NE(answer.substr(0, 16).find(c.status), std::string::npos)
            << c.what << ": " << answer.substr(0, 200);
        EXPECT_EQ(answer.find("QQQQ"), std::string::npos) << c.what << ": the request is echoed";
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4)) << c.what;
    }
    EXPECT_EQ(served.client->Get("/")->status, 200);
}

// Far more slow and idle clients than the server has threads: the page is
// still served, and at once. Some send slowly, some ask for much and never
// read it.
TEST(Serve, SlowAndIdleClientsLeaveThePageServed) {
    SKIP_WITHOUT_PAGE();
    Served served;
    std::vector<int> idle, slow, unread;
    for (int i = 0; i < 300; ++i)
        idle.push_back(connectTo(served.server->port()));
    for (int i = 0; i < 40; ++i)
        slow.push_back(connectTo(served.server->port()));
    std::string asks;
    for (int i = 0; i < 30; ++i) {
        asks += "GET /three.module.min.js HTTP/1.1\r\nHost: 127.0.0.1:" +
                std::to_string(served.server->port()) + "\r\n\r\n";
    }
    for (int i = 0; i < 8; ++i) {
        unread.push_back(connectTo(served.server->port()));
        (void)!::send(unread.back(), asks.data(), asks.size(), MSG_NOSIGNAL);
    }
    std::atomic<bool> dripping{true};
    std::thread drip([&] {
        const std::string request = "GET / HTTP/1.1\r\nX-Slow: " + std::string(200, 's');
        for (std::size_t at = 0; dripping && at < request.size(); ++at) {
            for (int fd : slow)
                (void)!::send(fd, &request[at], 1, MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (int i = 0; i < 5; ++i) {
        httplib::Client fresh("127.0.0.1", served.server->port());
        fresh.set_read_timeout(std::chrono::seconds(3));
        const auto start = std::chrono::steady_clock::now();
        auto res = fresh.Get("/");
        ASSERT_TRUE(res) << "no answer while slow clients wait";
        EXPECT_EQ(res->status, 200);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    }
    served.start();
    served.act("press 0 0 0", true);
    dripping = false;
    drip.join();
    for (const auto *clients : {&idle, &slow, &unread}) {
        for (int fd : *clients)
            ::close(fd);
    }
}

TEST(Serve, ImagesComeOnlyFromUnderTheImageFolder) {
    SKIP_WITHOUT_PAGE();
    Served served;
    served.start();
    auto cover = served.client->Get("/images/covers/cover01.png");
    ASSERT_TRUE(cover);
    EXPECT_EQ(cover->status, 200);
    EXPECT_EQ(cover->get_header_value("Content-Type"), "image/png");
    const std::vector<std::pair<std::string, int>> refused = {
        {"/images/../serve-images/covers/cover01.png", 404},
        {"/images/covers/../../serve-replay/r.json", 404},
        {"/images/%2e%2e/serve-images/covers/cover01.png", 404},
        {"/images/covers%2f..%2f..%2fserve-images%2fcovers%2fcover01.png", 400},
        {"/images/covers%5ccover01.png", 400},
        {"/images/covers/cover01.png%00.txt", 400},
        {"/images/covers/escape.png", 404},   // a link out of the folder
        {"/images/linked/cover01.png", 404},  // through a linked folder
        {"/images/notes.txt", 404},           // not an image
        {"/images/covers", 404},              // a folder
        {"/images//etc/passwd", 404},
        {"/images/" + served.images + "/covers/cover01.png", 404},
        {"/images/covers/nothing.png", 404},
    };
    for (const auto &[path, status] : refused) {
        auto res = served.client->Get(path.c_str());
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, status) << path << ": " << res->body.substr(0, 80);
    }
    // The page's own files are served; nothing else of the program's folder.
    for (const char *page : {"/", "/app.js", "/three.module.min.js", "/style.css"})
        EXPECT_EQ(served.client->Get(page)->status, 200) << page;
    EXPECT_NE(served.client->Get("/")->body.find("<title>varlobooks " PROJECT_VERSION ":"),
              std::string::npos);
    EXPECT_EQ(served.client->Get("/package.json")->status, 404);
    EXPECT_EQ(served.client->Get("/appXjs")->status, 404);
    EXPECT_EQ(served.client->Get("/web/app.js")->status, 404);
}

// A folder swapped for a link to elsewhere while requests run: the file is
// opened beneath the image folder's own descriptor, so no request is ever
// answered with a file from outside (checking the name, then opening it
// again, served one now and then).
TEST(Serve, AFolderSwappedForALinkNeverServesAFileFromOutside) {
    SKIP_WITHOUT_PAGE();
    Served served;
    const fs::path root = served.images;
    const fs::path outside = testing_support::freshFolder("serve-outside");
    fs::create_directory(root / "race");
    std::ofstream(root / "race" / "cover.png", std::ios::binary) << "INSIDE";
    std::ofstream(outside / "cover.png", std::ios::binary) << "OUTSIDE";
    std::atomic<bool> racing{true};
    std::thread swapper([&] {
        std::error_code ec;
        while (racing) {
            fs::rename(root / "race", root / "race-real", ec);
            fs::create_directory_symlink(outside, root / "race", ec);
            fs::remove(root / "race", ec);
            fs::rename(root / "race-real", root / "race", ec);
        }
    });
    int served200 = 0, leaked = 0;
    for (int i = 0; i < 3000; ++i) {
        auto res = served.client->Get("/images/race/cover.png");
        ASSERT_TRUE(res);
        if (res->status == 200) ++served200;
        if (res->body.find("OUTSIDE") != std::string::npos) ++leaked;
    }
    racing = false;
    swapper.join();
    EXPECT_EQ(leaked, 0) << "of " << served200 << " answered";
    EXPECT_GT(served200, 0) << "the folder itself is served when it is there";
}

TEST(Serve, RequestsMustNameThisServer) {
    SKIP_WITHOUT_PAGE();
    Served served;
    const std::string port = std::to_string(served.server->port());
    const std::vector<std::pair<httplib::Headers, int>> cases = {
        {{{"Host", "evil.example:" + port}}, 403},   // a rebinding DNS name
        {{{"Host", "127.0.0.1:1"}}, 403},            // another port
        {{{"Origin", "http://evil.example"}}, 403},  // another site's page
        {{{"Origin", "null"}}, 403},
        {{{"Origin", "https://127.0.0.1:" + port}}, 403},
        {{{"Host", "localhost:" + port}}, 200},
        {{{"Origin", "http://localhost:" + port}}, 200},
        {{{"Origin", "http://127.0.0.1:" + port}}, 200},
    };
    for (const auto &[headers, status] : cases) {
        auto res = served.client->Post("/api/start", headers, "", "text/plain");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, status) << headers.begin()->first << ": " << headers.begin()->second;
        if (status == 403) {
            EXPECT_NE(res->body.find("not this server's"), std::string::npos) << res->body;
        }
    }
}

// The tool keeps 127 bytes of a Surface Prefix, which may end inside a
// character, and image files may have names in any encoding: every reply
// is still JSON, each stray byte shown as U+FFFD. A folder whose name a
// session cannot hold is not offered.
TEST(Serve, TextThatIsNotUtf8StillReachesThePage) {
    SKIP_WITHOUT_PAGE();
    Served served;
    const fs::path latin = fs::path(served.images) / "latin";
    fs::create_directory(latin);
    fs::copy_file(fs::path(SOURCE_DIR "/examples/covers") / "cover01.png", latin / "caf\xe9.png");
    fs::create_directory(fs::path(served.images) / "dir\xfe");
    served.start();
    std::string prefix;
    for (int i = 0; i < 64; ++i)
        prefix += "\xc3\xa9";  // é
    Frame frame = served.act("set \"Surface Prefix\" \"" + prefix + "\"");
    std::string shown;
    for (const json &c : frame.state["panel"]["controls"]) {
        if (c["label"] == "Surface Prefix") shown = c["value"];
    }
    EXPECT_EQ(shown, prefix.substr(0, 126) + "\xef\xbf\xbd") << "cut inside its last character";
    served.act("press 0 0 0", true);
    frame = served.act("move 0.5 0.3 0.2");
    ASSERT_FALSE(frame.state["materials"].empty());
    EXPECT_EQ(served.state().state["polygons"], frame.state["polygons"]);

    auto left = served.client->Post("/api/leave", served.headers(), "", "text/plain");
    ASSERT_TRUE(left && left->status == 200) << left->body;
    const json folders = readFrame(left->body).state["form"]["folders"];
    EXPECT_NE(std::find(folders.begin(), folders.end(), "latin"), folders.end()) << folders;
    for (const json &folder : folders)
        EXPECT_EQ(folder.get<std::string>().find("dir"), std::string::npos) << folders;
    auto answered = served.client->Post("/api/form", served.headers(), R"({"folder":"latin"})",
                                        "application/json");
    ASSERT_TRUE(answered && answered->status == 200) << answered->body;
    const json materials = readFrame(answered->body).state["materials"];
    bool named = false;
    for (const json &m : materials)
        named = named || m["name"] == "caf\xef\xbf\xbd";
    EXPECT_TRUE(named) << materials;
    for (const char *format : {"obj", "gltf", "glb", "json"}) {
        auto download = served.get(std::string("/api/download/") + format);
        EXPECT_TRUE(download && download->status == 200)
            << format << ": " << (download ? download->body.substr(0, 200) : "no answer");
    }
}

TEST(Serve, ANewPageTakesOverAndAFormLeftOpenIsCancelled) {
    SKIP_WITHOUT_PAGE();
    Served served;
    served.start();
    served.act("press 0 0 0", true);
    served.act("move 0.6 0.3 0.2");
    auto left = served.client->Post("/api/leave", served.headers(), "", "text/plain");
    ASSERT_TRUE(left && left->status == 200);
    ASSERT_TRUE(readFrame(left->body).state.contains("form"));
    // While the form waits, the tool takes no other action.
    auto busy = served.client->Post("/api/action", served.headers(), "move 1 1 1", "text/plain");
    EXPECT_EQ(busy->status, 400);
    EXPECT_NE(busy->body.find("being left"), std::string::npos);
    // A folder that was not offered is refused, and the form still waits.
    for (const char *folder : {R"({"folder":".."})", R"({"folder":"/etc"})",
                               R"({"folder":"linked"})", R"({"folder":3})", "not json"}) {
        auto bad = served.client->Post("/api/form", served.headers(), folder, "application/json");
        EXPECT_EQ(bad->status, 400) << folder;
    }
    EXPECT_TRUE(served.state().state.contains("form"));

    const std::string first = served.token;
    Frame fresh = served.start();  // another page
    EXPECT_NE(served.token, first);
    EXPECT_TRUE(fresh.state["inUse"]);
    EXPECT_EQ(fresh.state["polygons"], 0);
    auto old = served.client->Get("/api/state", {{"X-Workspace", first}});
    EXPECT_EQ(old->status, 409);
    EXPECT_NE(old->body.find("another page"), std::string::npos);
    served.act("press 0 0 0", true);
}

// Undo plays the session without its last step on a fresh host, redo plays
// the step again; a page's saved session, started again, is the same scene.
TEST(Serve, UndoRedoAndAReplayedSessionGiveTheSameBytes) {
    SKIP_WITHOUT_PAGE();
    Served served;
    served.start();
    served.act("press 0 0 0", true);
    served.act("move 1.2 0.4 0.3");
    const std::string afterPull = served.get("/api/download/json")->body;
    served.act("set MaxSize 0.05");
    served.act("drag 7 1.5 0.4 0.3 view Z", true);
    served.act("drag 7 1.6 0.45 0.3 view Z");
    Frame frame = served.state();
    EXPECT_EQ(frame.state["undo"], 3);
    const std::string full = served.get("/api/download/json")->body;
    const std::string session = served.get("/api/session")->body;
    const nlohmann::json steps = frame.state["steps"];

    for (const char *which : {"/api/undo", "/api/undo"})
        ASSERT_EQ(served.client->Post(which, served.headers(), "", "text/plain")->status, 200);
    EXPECT_EQ(served.get("/api/download/json")->body, afterPull) << "two steps undone";
    EXPECT_EQ(served.state().state["redo"], 2);
    for (const char *which : {"/api/redo", "/api/redo"})
        ASSERT_EQ(served.client->Post(which, served.headers(), "", "text/plain")->status, 200);
    EXPECT_EQ(served.get("/api/download/json")->body, full) << "both redone";
    auto none = served.client->Post("/api/redo", served.headers(), "", "text/plain");
    EXPECT_EQ(none->status, 409);
    EXPECT_NE(none->body.find("nothing to redo"), std::string::npos);

    // A new step drops what could be redone.
    ASSERT_EQ(served.client->Post("/api/undo", served.headers(), "", "text/plain")->status, 200);
    served.act("set MaxSize 0.06");
    EXPECT_EQ(served.state().state["redo"], 0);

    // A reload: the saved session and steps, played again.
    const nlohmann::json saved = {{"session", session}, {"steps", steps}};
    auto replayed = served.client->Post("/api/start", saved.dump(), "application/json");
    ASSERT_EQ(replayed->status, 200) << replayed->body;
    served.token = readFrame(replayed->body).state["workspace"];
    EXPECT_EQ(served.get("/api/download/json")->body, full);
    EXPECT_EQ(served.state().state["undo"], 3);
    EXPECT_EQ(served.get("/api/session")->body, session);

    // A session a page could not have made, or steps that do not fit it,
    // start an empty page and say why.
    for (const nlohmann::json &bad :
         {nlohmann::json{{"session", "activate\nsurface x\n"}},
          nlohmann::json{{"session", session}, {"steps", {1}}}, nlohmann::json{{"session", 3}},
          nlohmann::json{{"steps", {2}}}}) {
        auto refused = served.client->Post("/api/start", bad.dump(), "application/json");
        EXPECT_TRUE(refused->status == 422 || refused->status == 400) << bad.dump();
        EXPECT_NE(refused->body.find("error"), std::string::npos);
    }

    // A folder this server does not offer (another machine's, or one
    // outside the image folder) is never read: the shelf comes back
    // without covers, and the page says why.
    const nlohmann::json elsewhere = {
        {"session", "press 0 0 0\nmove 1 0.5 0.3\nend keep\ndone folder \"/etc\"\n"}};
    auto played = served.client->Post("/api/start", elsewhere.dump(), "application/json");
    ASSERT_EQ(played->status, 200) << played->body;
    const nlohmann::json there = readFrame(played->body).state;
    EXPECT_GT(there["polygons"].get<int>(), 0);
    for (const nlohmann::json &material : there["materials"])
        EXPECT_TRUE(material["texture"].is_null());
    ASSERT_EQ(there["warnings"].size(), 1u);
    EXPECT_NE(there["warnings"][0].get<std::string>().find("\"/etc\" the session left with is not "
                                                           "offered here"),
              std::string::npos);
    served.token = there["workspace"];
    const std::string text = served.get("/api/session")->body;
    EXPECT_NE(text.find("\ndone cancel\n"), std::string::npos) << text;
}

TEST(Serve, APortInUseIsRefusedNotShared) {
    SKIP_WITHOUT_PAGE();
    Served served;
    modeler::ServeOptions options;
    options.port = served.server->port();
    options.webFolder = BINARY_DIR "/bin/web";
    modeler::WebServer second(served.library.module, options);
    auto error = second.bind();
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("cannot listen on 127.0.0.1:" + std::to_string(options.port)),
              std::string::npos)
        << *error;
}

TEST(Serve, APageThatWasNotBuiltIsExplained) {
    LibraryModule library;
    modeler::ServeOptions options;
    options.port = 0;
    options.webFolder = testing_support::freshFolder("no-page") + "/web";
    modeler::WebServer server(library.module, options);
    auto error = server.bind();
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("the page was not built"), std::string::npos) << *error;
    EXPECT_NE(error->find("scripts/web.sh"), std::string::npos) << *error;
}

TEST(ServeCommand, RefusesWhatItCannotServe) {
    SKIP_WITHOUT_PAGE();
    auto images = testing_support::runModeler("serve --images /nonexistent-folder --port 0");
    EXPECT_EQ(images.status, 2) << images.output;
    EXPECT_NE(images.output.find("is not a folder"), std::string::npos);
    auto port = testing_support::runModeler("serve --port 70000");
    EXPECT_EQ(port.status, 2) << port.output;
    // A termination request ends it cleanly, after a page has used it.
    const std::string script = writeTemp("stop.sh", R"(
        out=$(mktemp); "$1" serve --port 0 > "$out" 2>&1 & pid=$!
        for i in $(seq 1 100); do grep -q http "$out" && break; sleep 0.1; done
        port=$(sed -n 's|.*http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$out")
        exec 3<>"/dev/tcp/127.0.0.1/$port"
        printf 'POST /api/start HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nContent-Length: 0\r\nConnection: close\r\n\r\n' "$port" >&3
        head -c 12 <&3; echo
        kill -TERM $pid; timeout 60 tail --pid=$pid -f /dev/null || kill -KILL $pid; wait $pid
        echo "status=$?"; cat "$out"; rm -f "$out")");
    const auto stopped = testing_support::shell("bash '" + script + "' '" MODELER_PATH "'");
    EXPECT_NE(stopped.output.find("HTTP/1.1 200"), std::string::npos) << stopped.output;
    EXPECT_NE(stopped.output.find("status=0"), std::string::npos) << stopped.output;
    EXPECT_EQ(stopped.output.find("ERROR"), std::string::npos) << stopped.output;
    auto help = testing_support::runModeler("serve --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("--images"), std::string::npos);
}

// More slow clients than the server has threads, each sending a byte of
// its request now and then: a termination request still ends it promptly.
TEST(ServeCommand, StopsPromptlyWhileClientsDrip) {
    SKIP_WITHOUT_PAGE();
    const std::string script = writeTemp("drip.sh", R"SH(
        out=$(mktemp); "$1" serve --port 0 > "$out" 2>&1 & pid=$!
        for i in $(seq 1 100); do grep -q http "$out" && break; sleep 0.1; done
        port=$(sed -n 's|.*http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$out")
        for c in $(seq 1 12); do
          ( exec 3<>"/dev/tcp/127.0.0.1/$port"
            for b in G E T ' ' / ' ' H T T P; do printf '%s' "$b" >&3; sleep 1; done ) &
        done
        sleep 2
        start=$(date +%s%N)
        kill -TERM $pid; timeout 30 tail --pid=$pid -f /dev/null || kill -KILL $pid; wait $pid
        echo "status=$? ms=$(( ($(date +%s%N) - start) / 1000000 ))"
        kill $(jobs -p) 2>/dev/null; cat "$out"; rm -f "$out")SH");
    const auto stopped = testing_support::shell("bash '" + script + "' '" MODELER_PATH "'");
    EXPECT_NE(stopped.output.find("status=0"), std::string::npos) << stopped.output;
    const std::size_t at = stopped.output.find("ms=");
    ASSERT_NE(at, std::string::npos) << stopped.output;
    EXPECT_LT(std::stoi(stopped.output.substr(at + 3)), 6000) << stopped.output;
    // The connections are closed by the server, not cut by the stop.
    EXPECT_EQ(stopped.output.find("connections still open were cut"), std::string::npos)
        << stopped.output;
}

}  // namespace

namespace {

// Every gesture that reads the clock writes it down when it changed, so
// that the session replays each press with its own seed.
TEST(ServeWorkspace, EachPressInANewSecondWritesItsClock) {
    auto module = testing_support::loadModule();
    modeler::Workspace workspace(*module, testing_support::bookServer(*module),
                                 modeler::ImageRoot(), "shelf");
    ASSERT_FALSE(workspace.startError());
    int64_t now = 100;
    workspace.setWallClock([&now] { return now; });
    for (const char *line : {"press 0 0 0", "move 1 0.4 0.3", "end keep"})
        ASSERT_FALSE(workspace.act(line, std::string(line).starts_with("press")));
    ASSERT_FALSE(workspace.act("press 0 0 0", true));  // the same second: no new line
    now = 101;
    ASSERT_FALSE(workspace.act("press 0 0 0", true));
    ASSERT_FALSE(workspace.act("drag 7 1.2 0.4 0.3", true));  // a drag's first step reads it too
    now = 102;
    ASSERT_FALSE(workspace.act("drag 7 1.3 0.4 0.3", false));  // a drag's later steps do not
    const std::string text = workspace.sessionText();
    EXPECT_NE(text.find("clock 100\npress 0 0 0\nmove"), std::string::npos) << text;
    EXPECT_NE(text.find("end keep\npress 0 0 0\nclock 101\npress 0 0 0\ndrag 7 1.2"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("clock 102"), std::string::npos) << text;
}

}  // namespace
