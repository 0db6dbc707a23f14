#include "modeler/serve/web_server.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <sys/socket.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string_view>
#include <thread>

#include "modeler/page/image_folders.h"
#include "modeler/serve/file_bytes.h"
#include "modeler/serve/gated_http_server.h"
#include "modeler/serve/zip_files.h"

namespace modeler {
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr std::size_t kLargestRequest = 64 * 1024;
// A page's session, played again on a reload: a long drag is many lines.
constexpr std::size_t kLargestSession = 8 << 20;
constexpr std::uintmax_t kLargestImage = 64u << 20;
constexpr const char *kWorkspaceHeader = "X-Workspace";

struct StaticFile {
    std::string bytes;
    std::string type;
};

std::string contentTypeFor(const std::string &extension) {
    static const std::map<std::string, std::string> kTypes = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".png", "image/png"},
        {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},
        {".gif", "image/gif"},
        {".bmp", "image/bmp"},
        {".webp", "image/webp"},
        {".svg", "image/svg+xml"},
    };
    std::string lower = extension;
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto it = kTypes.find(lower);
    return it == kTypes.end() ? "" : it->second;
}

bool isImageType(const std::string &type) {
    return type.rfind("image/", 0) == 0 && type != "image/svg+xml";
}

std::string newToken() {
    std::random_device device;
    std::string token;
    static const char kDigits[] = "0123456789abcdef";
    for (int i = 0; i < 32; ++i)
        token += kDigits[device() % 16];
    return token;
}

void fail(httplib::Response &res, int status, const std::string &reason) {
    res.status = status;
    // A reason may quote what was sent (a word of an action line): never
    // more than a short piece of it.
    constexpr std::size_t kLongestReason = 400;
    std::string shown = reason;
    if (shown.size() > kLongestReason) shown = shown.substr(0, kLongestReason) + " ...";
    // A reason may hold a name that is not UTF-8: such bytes are written
    // as U+FFFD, as every JSON of the host writes them.
    const json body = {{"error", shown}};
    res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

// The library reads a body whole before any handler runs, and reads a
// chunked body or one of no stated length whatever its size: such a
// request is refused here, before its body is read. The status and reason,
// or nullopt for a request whose body may be read.
std::size_t largestBodyFor(std::string_view path) {
    return path == "/api/start" ? kLargestSession : kLargestRequest;
}

std::optional<std::pair<int, std::string>> bodyRefused(const httplib::Request &req) {
    const std::size_t largest = largestBodyFor(req.path);
    if (req.has_header("Transfer-Encoding"))
        return std::pair{411, std::string("send the body with its Content-Length, not in chunks")};
    const bool hasBody = req.method == "POST" || req.method == "PUT" || req.method == "PATCH";
    if (!req.has_header("Content-Length")) {
        if (!hasBody) return std::nullopt;
        return std::pair{411, std::string("send the body with its Content-Length")};
    }
    const std::string length = req.get_header_value("Content-Length");
    if (length.empty() || length.size() > 18 ||
        length.find_first_not_of("0123456789") != std::string::npos)
        return std::pair{400, std::string("the Content-Length is not a number")};
    if (std::stoull(length) > largest)
        return std::pair{413, std::string("the request is too large")};
    return std::nullopt;
}

// The mesh version the page holds, from ?have=N; nullopt: none.
std::optional<uint64_t> heldVersion(const httplib::Request &req) {
    if (!req.has_param("have")) return std::nullopt;
    const std::string text = req.get_param_value("have");
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoull(text);
}

}  // namespace

// The library's page, freed when it goes.
struct PageFree {
    void operator()(VarlobooksPage *page) const { varlobooks_page_free(page); }
};
struct FilesFree {
    void operator()(VarlobooksFiles *files) const { varlobooks_files_free(files); }
};

struct WebServer::State {
    VarlobooksModule *module;
    ServeOptions options;
    ImageRoot images;
    GatedHttpServer http;
    std::map<std::string, StaticFile> files;
    std::set<std::string> allowedHosts;
    int port = 0;

    // run() and stop() may meet in any order, on any threads.
    std::atomic<bool> running{false}, stopping{false}, ended{false};

    std::mutex mutex;  // one request at a time drives the page
    std::unique_ptr<VarlobooksPage, PageFree> page;
    std::string token;

    State(VarlobooksModule *m, ServeOptions o)
        : module(m),
          options(std::move(o)),
          // The gate sees the raw target: its path is what precedes any query.
          http(
              options.limits,
              [](std::string_view target) {
                  return largestBodyFor(target.substr(0, target.find('?')));
              },
              [](std::string_view target) { return target.rfind("/api/", 0) == 0; }) {}

    // What the page shows next: the state as JSON, then the mesh when the
    // page does not hold the current one.
    void sendFrame(httplib::Response &res, std::optional<uint64_t> have) {
        VarlobooksPage *p = page.get();
        std::string text = varlobooks_page_state(p);
        const bool withMesh =
            varlobooks_page_shows_tool(p) && (!have || *have != varlobooks_page_mesh_version(p));
        const unsigned char *meshBytes = nullptr;
        std::size_t meshSize = 0;
        if (withMesh && varlobooks_page_mesh(p, &meshBytes, &meshSize) != VARLOBOOKS_OK)
            return fail(res, 500, varlobooks_page_error(p));
        // The state's members, then the frame's own (the token is hex).
        text.pop_back();
        if (text.size() > 1) text += ',';
        text += std::string("\"mesh\":") + (withMesh ? "true" : "false") + ",\"workspace\":\"" +
                token + "\"}";
        text.append((4 - text.size() % 4) % 4, ' ');
        std::string body;
        body.reserve(4 + text.size() + meshSize);
        const auto length = static_cast<uint32_t>(text.size());
        body.append(reinterpret_cast<const char *>(&length), 4).append(text);
        body.append(reinterpret_cast<const char *>(meshBytes), meshSize);
        res.set_header("Cache-Control", "no-store");
        // Moved in, not copied as set_content would: a frame is megabytes.
        res.set_header("Content-Type", "application/octet-stream");
        res.body = std::move(body);
    }

    // The page's workspace, or a reason it has none.
    VarlobooksPage *pageOf(const httplib::Request &req, httplib::Response &res) {
        std::string given = req.get_header_value(kWorkspaceHeader);
        if (given.empty()) given = req.get_param_value("w");
        if (!page) {
            fail(res, 409, "no page is using the tool: start one");
            return nullptr;
        }
        if (given != token) {
            fail(res, 409, "another page has taken over the tool: reload to use it here");
            return nullptr;
        }
        return page.get();
    }

    // Requests must name this server: a page of another site that a
    // rebinding DNS points here names its own host, and a form posted from
    // another site carries that site's origin.
    bool fromOurOwn(const httplib::Request &req, std::string &why) const {
        const std::string host = req.get_header_value("Host");
        if (!allowedHosts.count(host)) {
            why = "the Host header \"" + host + "\" is not this server's";
            return false;
        }
        if (req.has_header("Origin")) {
            const std::string origin = req.get_header_value("Origin");
            if (origin.rfind("http://", 0) != 0 || !allowedHosts.count(origin.substr(7))) {
                why = "the Origin \"" + origin + "\" is not this server's";
                return false;
            }
        }
        return true;
    }

    void route();
    void setUpConnections();
    void guardEveryRequest();
    void routeFiles();
    void routeTool();
    void routeResults();
    std::optional<std::string> loadFiles();

    // A handler of the page's workspace: one request at a time, refused
    // when the request is not the current page's.
    template <typename Handler>
    httplib::Server::Handler forPage(Handler handler) {
        return [this, handler](const httplib::Request &req, httplib::Response &res) {
            std::lock_guard lock(mutex);
            if (VarlobooksPage *p = pageOf(req, res)) handler(p, req, res);
        };
    }
};

std::optional<std::string> WebServer::State::loadFiles() {
    std::error_code ec;
    if (!fs::is_directory(options.webFolder, ec)) {
        return options.webFolder +
               ": the page was not built with this program (its three.js was missing at "
               "build time): run scripts/web.sh, then configure and build again";
    }
    for (const auto &entry : fs::directory_iterator(options.webFolder, ec)) {
        if (!entry.is_regular_file()) continue;
        const std::string name = entry.path().filename().string();
        const std::string type = contentTypeFor(entry.path().extension().string());
        if (type.empty()) continue;
        auto bytes = readFileBytes(entry.path());
        if (!bytes) return entry.path().string() + ": cannot be read";
        files["/" + name] = {std::move(*bytes), type};
    }
    for (const char *needed : {"/index.html", "/app.js", "/three.module.min.js"}) {
        if (!files.count(needed)) {
            return options.webFolder + needed +
                   " is missing (three.js is bundled at build time: run scripts/web.sh, then "
                   "build)";
        }
    }
    files["/"] = files["/index.html"];
    return std::nullopt;
}

void WebServer::State::route() {
    setUpConnections();
    guardEveryRequest();
    routeFiles();
    routeTool();
    routeResults();
}

void WebServer::State::setUpConnections() {
    // Each route's limit is checked before its body is read (bodyRefused).
    http.set_payload_max_length(kLargestSession);
    // The library's default lets another process listen on the same port
    // and take half the page's requests: reuse the address only.
    http.set_socket_options([](int socket) {
        int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // A frame goes out as headers then body: without this the second write
    // waits for the page's delayed acknowledgement (40 ms on Linux).
    http.set_tcp_nodelay(true);
    // A drag is many requests on one connection: keep it open for them.
    http.set_keep_alive_max_count(100000);
}

void WebServer::State::guardEveryRequest() {
    http.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("Referrer-Policy", "no-referrer");
        res.set_header("Content-Security-Policy",
                       "default-src 'self'; img-src 'self' blob: data:; style-src 'self'; "
                       "frame-ancestors 'none'");
        std::string why;
        if (!fromOurOwn(req, why)) {
            fail(res, 403, why);
            return httplib::Server::HandlerResponse::Handled;
        }
        if (auto refused = bodyRefused(req)) {
            fail(res, refused->first, refused->second);
            res.set_header("Connection", "close");  // the body is never read
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    http.set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (!res.body.empty()) return;
        const char *reason = res.status == 404   ? "no such page or file"
                             : res.status == 413 ? "the request is too large"
                                                 : "the request cannot be served";
        fail(res, res.status, reason);
    });
    http.set_exception_handler(
        [](const httplib::Request &, httplib::Response &res, std::exception_ptr error) {
            std::string what = "the server failed";
            try {
                if (error) std::rethrow_exception(error);
            } catch (const std::exception &e) {
                what += std::string(": ") + e.what();
            } catch (...) {
            }
            fail(res, 500, what);
        });
}

void WebServer::State::routeFiles() {
    for (const auto &[path, file] : files) {
        // Routes are patterns: the dots of a file name must match dots only.
        std::string pattern;
        for (char c : path) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '/' && c != '_' && c != '-')
                pattern += '\\';
            pattern += c;
        }
        http.Get(pattern, [&file = file](const httplib::Request &, httplib::Response &res) {
            res.set_content(file.bytes, file.type);
        });
    }

    http.Get(R"(/images/(.+))", [this](const httplib::Request &req, httplib::Response &res) {
        // Encoded separators would let a name pass as one segment here and
        // as several to the file system.
        std::string raw = req.target.substr(0, req.target.find('?'));
        for (char &c : raw)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (const char *encoded : {"%2f", "%5c", "%00"}) {
            if (raw.find(encoded) != std::string::npos)
                return fail(res, 400, "encoded separators are not allowed in a path");
        }
        const std::string relative = req.matches[1];
        const std::string type = contentTypeFor(fs::path(relative).extension().string());
        if (!isImageType(type)) return fail(res, 404, "not an image the page can show");
        auto bytes = images.readFile(relative, kLargestImage);
        if (!bytes) return fail(res, 404, "no such image under the image folder");
        res.set_content(std::move(*bytes), type);
    });
}

// Starting a page's workspace and the person's actions in it.
void WebServer::State::routeTool() {
    // A page starts the tool afresh, or with its own session played again
    // (a reload, or taking the tool back): {"session": TEXT, "steps": [...]}.
    http.Post("/api/start", [this](const httplib::Request &req, httplib::Response &res) {
        std::optional<std::string> session;
        std::vector<std::size_t> steps;
        if (!req.body.empty()) {
            const char *const expected = "expected {\"session\": TEXT, \"steps\": [N, ...]}";
            const json given = json::parse(req.body, nullptr, false);
            if (!given.is_object() || !given.contains("session") || !given["session"].is_string())
                return fail(res, 400, expected);
            session = given["session"].get<std::string>();
            if (session->find('\0') != std::string::npos) return fail(res, 400, expected);
            for (const json &step : given.value("steps", json::array())) {
                if (!step.is_number_unsigned()) return fail(res, 400, expected);
                steps.push_back(step.get<std::size_t>());
            }
        }
        std::lock_guard lock(mutex);
        // The old page's host ends before the new one starts: hosts end
        // newest first.
        page.reset();
        VarlobooksPage *made = nullptr;
        const VarlobooksStatus status =
            varlobooks_page_new(module, images.empty() ? nullptr : images.path().c_str(),
                                options.objectName.c_str(), &made);
        page.reset(made);
        token = newToken();
        if (status != VARLOBOOKS_OK) return fail(res, 500, varlobooks_page_error(made));
        if (session && varlobooks_page_replay(made, session->c_str(), steps.data(), steps.size()) !=
                           VARLOBOOKS_OK) {
            // The page starts empty, told why its session did not come back.
            return fail(res, 422,
                        "the page's session could not be played again: " +
                            std::string(varlobooks_page_error(made)));
        }
        sendFrame(res, heldVersion(req));
    });

    http.Post("/api/undo", forPage([this](VarlobooksPage *p, const httplib::Request &req,
                                          httplib::Response &res) {
                  if (varlobooks_page_undo(p) != VARLOBOOKS_OK)
                      return fail(res, 409, varlobooks_page_error(p));
                  sendFrame(res, heldVersion(req));
              }));

    http.Post("/api/redo", forPage([this](VarlobooksPage *p, const httplib::Request &req,
                                          httplib::Response &res) {
                  if (varlobooks_page_redo(p) != VARLOBOOKS_OK)
                      return fail(res, 409, varlobooks_page_error(p));
                  sendFrame(res, heldVersion(req));
              }));

    http.Get("/api/state",
             forPage([this](VarlobooksPage *, const httplib::Request &req, httplib::Response &res) {
                 sendFrame(res, heldVersion(req));
             }));

    http.Post("/api/action", forPage([this](VarlobooksPage *p, const httplib::Request &req,
                                            httplib::Response &res) {
                  const std::string gesture = req.get_param_value("gesture");
                  if (!gesture.empty() && gesture != "begin")
                      return fail(res, 400, "gesture is begin or absent, not \"" + gesture + "\"");
                  if (req.body.find('\0') != std::string::npos)
                      return fail(res, 400, "expected one line of text");
                  if (varlobooks_page_act(p, req.body.c_str(), gesture == "begin") != VARLOBOOKS_OK)
                      return fail(res, 400, varlobooks_page_error(p));
                  sendFrame(res, heldVersion(req));
              }));

    http.Post("/api/leave", forPage([this](VarlobooksPage *p, const httplib::Request &req,
                                           httplib::Response &res) {
                  if (varlobooks_page_leave(p) != VARLOBOOKS_OK)
                      return fail(res, 409, varlobooks_page_error(p));
                  sendFrame(res, heldVersion(req));
              }));

    http.Post(
        "/api/form",
        forPage([this](VarlobooksPage *p, const httplib::Request &req, httplib::Response &res) {
            const char *const expected = "expected {\"folder\": NAME} or {\"cancel\": true}";
            const json answer = json::parse(req.body, nullptr, false);
            if (!answer.is_object()) return fail(res, 400, expected);
            std::optional<std::string> folder;
            if (answer.contains("folder") && answer["folder"].is_string()) {
                folder = answer["folder"].get<std::string>();
            } else if (!(answer.contains("cancel") && answer["cancel"] == true)) {
                return fail(res, 400, expected);
            }
            if (folder && folder->find('\0') != std::string::npos)
                return fail(res, 400, "a folder name holds no NUL");
            if (varlobooks_page_answer_form(p, folder ? folder->c_str() : nullptr) != VARLOBOOKS_OK)
                return fail(res, 400, varlobooks_page_error(p));
            sendFrame(res, heldVersion(req));
        }));
}

// What the page fetches of the scene: covers, exports, the session.
void WebServer::State::routeResults() {
    http.Get(
        R"(/api/texture/(\d{1,6}))",
        forPage([](VarlobooksPage *p, const httplib::Request &req, httplib::Response &res) {
            VarlobooksImage image{};
            if (varlobooks_page_texture(p, std::stoul(req.matches[1]), &image) != VARLOBOOKS_OK)
                return fail(res, 404, "no such texture");
            res.set_content(reinterpret_cast<const char *>(image.bytes), image.size,
                            image.mime_type);
        }));

    http.Get(
        R"(/api/download/([a-z]+))",
        forPage([this](VarlobooksPage *p, const httplib::Request &req, httplib::Response &res) {
            const std::string format = req.matches[1];
            VarlobooksFiles *made = nullptr;
            if (varlobooks_page_download(p, format.c_str(), &made) != VARLOBOOKS_OK)
                return fail(res, 400, varlobooks_page_error(p));
            const std::unique_ptr<VarlobooksFiles, FilesFree> files(made);
            auto download = downloadOf(files.get(), options.objectName + "." + format);
            if (auto *error = std::get_if<std::string>(&download)) return fail(res, 500, *error);
            HttpDownload &file = std::get<HttpDownload>(download);
            res.set_header("Content-Disposition", "attachment; filename=\"" + file.name + "\"");
            res.set_content(std::move(file.bytes), file.contentType);
        }));

    http.Get("/api/session",
             forPage([this](VarlobooksPage *p, const httplib::Request &, httplib::Response &res) {
                 res.set_header("Content-Disposition",
                                "attachment; filename=\"" + options.objectName + ".session\"");
                 res.set_content(varlobooks_page_session_text(p), "text/plain; charset=utf-8");
             }));
}

WebServer::WebServer(VarlobooksModule *module, ServeOptions options)
    : state_(std::make_unique<State>(module, std::move(options))) {}

WebServer::~WebServer() {
    std::lock_guard lock(state_->mutex);
    state_->page.reset();
}

std::optional<std::string> WebServer::bind() {
    State &s = *state_;
    if (auto error = s.loadFiles()) return error;
    if (!s.options.images.empty()) {
        s.images = ImageRoot(s.options.images);
        if (s.images.empty()) return "--images: " + s.options.images + " cannot be opened";
    }
    s.route();
    if (s.options.port == 0) {
        s.port = s.http.bind_to_any_port(s.options.host);
    } else if (s.http.bind_to_port(s.options.host, s.options.port)) {
        s.port = s.options.port;
    } else {
        s.port = -1;
    }
    if (s.port <= 0) {
        return "cannot listen on " + s.options.host + ":" + std::to_string(s.options.port) +
               " (in use? try --port 0 for any free port)";
    }
    std::string port = ":";
    port += std::to_string(s.port);
    for (const std::string &name :
         {std::string("127.0.0.1"), std::string("localhost"), std::string("[::1]"), s.options.host})
        s.allowedHosts.insert(name + port);
    return std::nullopt;
}

int WebServer::port() const {
    return state_->port;
}

bool WebServer::run() {
    State &s = *state_;
    s.running = true;
    const bool ok = s.stopping ? true : s.http.serve();
    s.ended = true;
    return ok;
}

void WebServer::stop() {
    State &s = *state_;
    s.stopping = true;
    // The server may not be listening yet: a stop before then would be lost.
    while (s.running && !s.ended) {
        if (s.http.is_running()) s.http.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace modeler
