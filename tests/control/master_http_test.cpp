#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "control/http_response_reader.h"
#include "control/master_http.h"
#include "support/temp_dir.h"

extern char** environ;

using control::CMasterHttp;
using control::HttpExchange;
using control::HttpLimits;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// A listening loopback socket (port 0 = any), closed on destruction.
class Listener {
public:
    explicit Listener(int backlog = 8) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd_, backlog);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~Listener() { ::close(fd_); }
    int Port() const { return port_; }
    // The next connection, or -1 after five seconds.
    int Accept() {
        pollfd waiting{fd_, POLLIN, 0};
        if (::poll(&waiting, 1, 5000) != 1) return -1;
        return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

// Serves one connection: reads the request (up to the blank line plus `bodyBytes`),
// answers with `response`, then closes, or keeps the connection open until the
// client leaves when `keepOpen` is set.
class ScriptedServer {
public:
    struct Script {
        std::string response;
        std::size_t bodyBytes = 0;
        bool keepOpen = false;
        bool resetAtOnce = false;  // close with a reset before reading anything
        bool resetAfterResponse = false;  // close with a reset once the response is out
        // After the response, one more body byte at this interval until the client
        // leaves or `dripFor` has passed.
        std::chrono::milliseconds dripEvery{0};
        std::chrono::milliseconds dripFor{3000};
    };
    explicit ScriptedServer(Script script) : script_(std::move(script)) {
        thread_ = std::thread([this] { Serve(); });
    }
    ~ScriptedServer() {
        if (thread_.joinable()) thread_.join();
    }
    int Port() const { return listener_.Port(); }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(Port()) + path; }
    // What arrived; waits for the connection to finish.
    std::string Received() {
        if (thread_.joinable()) thread_.join();
        return received_;
    }

private:
    void Serve() {
        int fd = listener_.Accept();
        if (fd < 0) return;
        if (script_.resetAtOnce) {
            linger hard{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            ::close(fd);
            return;
        }
        char buffer[4096];
        while (true) {
            std::size_t end = received_.find("\r\n\r\n");
            if (end != std::string::npos && received_.size() >= end + 4 + script_.bodyBytes) break;
            pollfd waiting{fd, POLLIN, 0};
            if (::poll(&waiting, 1, 5000) != 1) break;
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            received_.append(buffer, static_cast<std::size_t>(n));
        }
        ::send(fd, script_.response.data(), script_.response.size(), MSG_NOSIGNAL);
        if (script_.dripEvery.count() > 0) {
            const auto until = Clock::now() + script_.dripFor;
            while (Clock::now() < until && ::send(fd, "x", 1, MSG_NOSIGNAL) == 1)
                std::this_thread::sleep_for(script_.dripEvery);
        }
        if (script_.resetAfterResponse) {
            std::this_thread::sleep_for(50ms);  // the bytes sent are read before the reset
            linger hard{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        }
        if (script_.keepOpen) {
            pollfd waiting{fd, POLLIN, 0};
            ::poll(&waiting, 1, 5000);  // until the client gives up and closes
        }
        ::close(fd);
    }

    Script script_;
    Listener listener_;
    std::string received_;
    std::thread thread_;
};

const std::string kFixedHeaders =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/vnd.ms-excel, application/msword, "
    "application/vnd.ms-powerpoint, */*\r\n"
    "Accept-Language: en-us\r\n"
    "Accept-Encoding: gzip, default\r\n"
    "User-Agent: Plover/4.0\r\n";

// Time-outs a passing exchange never waits for; the tests of a time-out shorten theirs.
HttpLimits Limits() {
    HttpLimits limits;
    limits.connectTimeoutMs = 5000;
    limits.readTimeoutMs = 5000;
    return limits;
}

CMasterHttp::ParsedUrl Parse(const std::string& url, bool expectOk = true) {
    CMasterHttp::ParsedUrl parsed;
    EXPECT_EQ(CMasterHttp::ParseUrl(url, parsed), expectOk) << url;
    return parsed;
}

}  // namespace

TEST(HttpUrl, SchemeAndHostAreUpperCasedThePathKeepsItsCase) {
    auto p = Parse("http://www.Example.com/Master/Lookup_Demo");
    EXPECT_EQ(p.scheme, "HTTP");
    EXPECT_EQ(p.host, "WWW.EXAMPLE.COM");
    EXPECT_EQ(p.port, 80);
    EXPECT_EQ(p.path, "/Master/Lookup_Demo");

    p = Parse("HtTp://Host-1.lan:8080/a_B?x=Y");
    EXPECT_EQ(p.host, "HOST-1.LAN");
    EXPECT_EQ(p.port, 8080);
    EXPECT_EQ(p.path, "/a_B?x=Y");
}

TEST(HttpUrl, PathPortAndSchemeRules) {
    EXPECT_EQ(Parse("http://host").path, "/") << "no path requests /";
    EXPECT_EQ(Parse("http://10.0.0.1:81").port, 81);

    auto p = Parse("host/x");  // no ':' at all: the scheme is HTTP
    EXPECT_EQ(p.scheme, "HTTP");
    EXPECT_EQ(p.host, "HOST");
    EXPECT_EQ(p.path, "/x");

    p = Parse("http:host/x");  // "//" is skipped only when present
    EXPECT_EQ(p.host, "HOST");
    EXPECT_EQ(p.path, "/x");

    p = Parse("http://10.0.0.1:81?q=1");  // the path starts at the first non-host character
    EXPECT_EQ(p.host, "10.0.0.1");
    EXPECT_EQ(p.path, "?q=1");

    p = Parse("http://user@Host/");
    EXPECT_EQ(p.host, "USER");
    EXPECT_EQ(p.path, "@Host/");

    p = Parse("http://host:8080:90/");  // the port is the text after the first ':'
    EXPECT_EQ(p.host, "HOST");
    EXPECT_EQ(p.port, 8080);
    EXPECT_EQ(Parse("http://host:99999999999999999999/").port, INT_MAX) << "no overflow";
    EXPECT_EQ(Parse("http://host:/").port, 0);

    Parse("https://host/", false);
    Parse("ftp://host/", false);
    Parse("host:8080/x", false);  // the text before the first ":" is the scheme
    Parse("", true);
}

TEST(HttpResponseReader, HeaderEndsAtTheBlankLineAndCarriageReturnsDoNotCount) {
    struct Case {
        std::string header;
        std::string body;
    };
    const std::vector<Case> cases = {
        {"HTTP/1.0 200 OK\r\nA: 1\r\n\r\n", "body\r\n\r\nmore"},
        {"HTTP/1.0 200 OK\nA: 1\n\n", "x"},
        {"HTTP/1.0 200 OK\r\n\r\r\n", "cr-only line is blank"},
        {"\n", "an empty first line ends at once"},
    };
    for (const Case& c : cases) {
        control::BufferSource source(c.header + c.body, 3);
        std::string header, body;
        EXPECT_EQ(control::ReadHttpResponse(source, HttpLimits{}, header, body), control::ResponseEnd::Closed);
        EXPECT_EQ(header, c.header);
        EXPECT_EQ(body, c.body);
    }
}

TEST(HttpResponseReader, ReadsHeaderByteByByteAndBodyIn511BytePieces) {
    struct Recorder : control::ByteSource {
        std::string data;
        std::size_t at = 0;
        std::vector<std::size_t> asked;
        long Receive(char* buffer, std::size_t capacity) override {
            asked.push_back(capacity);
            std::size_t n = std::min(capacity, data.size() - at);
            std::memcpy(buffer, data.data() + at, n);
            at += n;
            return static_cast<long>(n);
        }
    } source;
    const std::string header = "HTTP/1.0 200 OK\r\n\r\n";
    source.data = header + std::string(2000, 'b');
    std::string h, b;
    EXPECT_EQ(control::ReadHttpResponse(source, HttpLimits{}, h, b), control::ResponseEnd::Closed);
    EXPECT_EQ(b.size(), 2000u);
    ASSERT_EQ(source.asked.size(), header.size() + 4 + 1);  // 2000 = 3 × 511 + 467, then the close
    for (std::size_t i = 0; i < header.size(); ++i) EXPECT_EQ(source.asked[i], 1u);
    for (std::size_t i = header.size(); i < source.asked.size(); ++i) EXPECT_EQ(source.asked[i], 511u);
}

TEST(HttpResponseReader, LimitsAndTimeOutsEndTheRead) {
    HttpLimits limits;
    limits.maxHeaderBytes = 32;
    limits.maxBodyBytes = 100;
    std::string header, body;
    control::BufferSource longHeader("HTTP/1.0 200 OK\r\nX-Padding: " + std::string(100, 'p') + "\r\n\r\n");
    EXPECT_EQ(control::ReadHttpResponse(longHeader, limits, header, body), control::ResponseEnd::HeaderTooLarge);
    control::BufferSource exactBody("HTTP/1.0 200\r\n\r\n" + std::string(100, 'b'));
    EXPECT_EQ(control::ReadHttpResponse(exactBody, limits, header, body), control::ResponseEnd::Closed);
    EXPECT_EQ(body.size(), 100u);
    control::BufferSource longBody("HTTP/1.0 200\r\n\r\n" + std::string(101, 'b'));
    EXPECT_EQ(control::ReadHttpResponse(longBody, limits, header, body), control::ResponseEnd::BodyTooLarge);
    control::BufferSource cut("HTTP/1.0 200 OK\r\nA: ");
    EXPECT_EQ(control::ReadHttpResponse(cut, limits, header, body), control::ResponseEnd::Closed);
    EXPECT_EQ(header, "HTTP/1.0 200 OK\r\nA: ");
    EXPECT_TRUE(body.empty());

    struct Silent : control::ByteSource {
        long Receive(char*, std::size_t) override { return kTimedOut; }
    } silent;
    EXPECT_EQ(control::ReadHttpResponse(silent, limits, header, body), control::ResponseEnd::TimedOut);

    // A connection that breaks is no end of the response, in the body or the headers.
    struct Broken : control::ByteSource {
        control::BufferSource first;
        explicit Broken(std::string data) : first(std::move(data)) {}
        long Receive(char* buffer, std::size_t capacity) override {
            long n = first.Receive(buffer, capacity);
            return n > 0 ? n : kError;
        }
    };
    Broken inBody("HTTP/1.0 200 OK\r\n\r\n{\"ip\":");
    EXPECT_EQ(control::ReadHttpResponse(inBody, limits, header, body), control::ResponseEnd::Failed);
    EXPECT_EQ(body, "{\"ip\":") << "what was read stays available";
    Broken inHeader("HTTP/1.0 200 OK\r\n");
    EXPECT_EQ(control::ReadHttpResponse(inHeader, limits, header, body), control::ResponseEnd::Failed);
}

// Golden request bytes, written out by hand.
TEST(HttpRequest, GetRequestBytesInOrder) {
    ScriptedServer server({"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nhello"});
    CMasterHttp http(Limits());
    HttpExchange exchange;
    ASSERT_EQ(http.Request("http://localhost:" + std::to_string(server.Port()) + "/Master/Lookup_Demo", nullptr, 0,
                           nullptr, exchange),
              CMasterHttp::kOk);
    const std::string expected = "GET /Master/Lookup_Demo HTTP/1.0\r\n" + kFixedHeaders + "Host: LOCALHOST\r\n\r\n";
    EXPECT_EQ(server.Received(), expected);
    EXPECT_EQ(exchange.request, expected);
    EXPECT_EQ(exchange.responseHeader, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n");
    EXPECT_EQ(exchange.body, "hello");
}

TEST(HttpRequest, PostCarriesLengthExtraHeadersAndBody) {
    ScriptedServer server({"HTTP/1.0 201 Created\r\n\r\n", 5});
    CMasterHttp http(Limits());
    HttpExchange exchange;
    ASSERT_EQ(http.Request(server.Url("/up"), "a=1&b", 5, "X-One: 1\r\nX-Two: 2\r\n", exchange), CMasterHttp::kOk);
    const std::string expected = "POST /up HTTP/1.0\r\n" + kFixedHeaders +
                                 "Content-Length: 5\r\nHost: 127.0.0.1\r\nX-One: 1\r\nX-Two: 2\r\n\r\na=1&b";
    EXPECT_EQ(server.Received(), expected);
    EXPECT_EQ(exchange.request, expected);
    EXPECT_TRUE(exchange.body.empty());

    ScriptedServer empty({"HTTP/1.0 200 OK\r\n\r\n"});  // a body of length 0: POST without a length
    ASSERT_EQ(http.Request(empty.Url(""), "", 0, "", exchange), CMasterHttp::kOk);
    EXPECT_EQ(empty.Received(), "POST / HTTP/1.0\r\n" + kFixedHeaders + "Host: 127.0.0.1\r\n\r\n");
}

TEST(HttpRequest, BasicAuthorisationGet) {
    ScriptedServer server({"HTTP/1.0 200 OK\r\n\r\nreboot..."});
    CMasterHttp http(Limits());
    HttpExchange exchange;
    ASSERT_TRUE(http.Get(server.Url("/web/cgi-bin/hi3510/param.cgi?cmd=sysreboot"), "YWRtaW46MTIzNDU2", exchange));
    EXPECT_EQ(server.Received(), "GET /web/cgi-bin/hi3510/param.cgi?cmd=sysreboot HTTP/1.0\r\n" + kFixedHeaders +
                                     "Host: 127.0.0.1\r\nAuthorization: Basic YWRtaW46MTIzNDU2\r\n\r\n");
    EXPECT_EQ(exchange.body, "reboot...");
    EXPECT_FALSE(http.Get("http://127.0.0.1:1/", "abc\r\nX-Evil: 1", exchange)) << "no header injection";
}

TEST(HttpRequest, RequestTextIsCappedAndUnsafePathBytesAreEscaped) {
    const std::string longPath = "/" + std::string(2000, 'p');
    ScriptedServer server({"HTTP/1.0 200 OK\r\n\r\n"});
    CMasterHttp http(Limits());
    HttpExchange exchange;
    ASSERT_EQ(http.Request(server.Url(longPath), nullptr, 0, nullptr, exchange), CMasterHttp::kOk);
    EXPECT_EQ(exchange.request.size(), 1024u);
    EXPECT_EQ(server.Received().substr(0, 2006), "GET " + longPath + " ") << "the server got all of it";

    ScriptedServer second({"HTTP/1.0 200 OK\r\n\r\n"});
    ASSERT_EQ(http.Request(second.Url("/path_user name\r\nX: y"), nullptr, 0, nullptr, exchange), CMasterHttp::kOk);
    EXPECT_EQ(second.Received().substr(0, 40), "GET /path_user%20name%0D%0AX:%20y HTTP/1");
}

TEST(HttpRequest, ServerClosingDuringHeadersGivesWhatArrived) {
    ScriptedServer server({"HTTP/1.0 200 OK\r\nContent-Le"});
    CMasterHttp http(Limits());
    HttpExchange exchange;
    EXPECT_EQ(http.Request(server.Url("/"), nullptr, 0, nullptr, exchange), CMasterHttp::kOk);
    EXPECT_EQ(exchange.responseHeader, "HTTP/1.0 200 OK\r\nContent-Le");
    EXPECT_TRUE(exchange.body.empty());
}

TEST(HttpRequest, ServerThatNeverClosesEndsAfterTheReadTimeOut) {
    ScriptedServer server({"HTTP/1.0 200 OK\r\n\r\n{\"ip\":\"1.2.3.4\"}", 0, true});
    HttpLimits limits = Limits();
    limits.readTimeoutMs = 300;
    CMasterHttp http(limits);
    HttpExchange exchange;
    auto start = Clock::now();
    EXPECT_EQ(http.Request(server.Url("/"), nullptr, 0, nullptr, exchange), CMasterHttp::kTransferFailed);
    auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 250ms);
    EXPECT_LT(elapsed, 3s);
    EXPECT_EQ(exchange.body, "{\"ip\":\"1.2.3.4\"}") << "what was read stays available";

    ScriptedServer silent({"", 0, true});  // not even a status line
    EXPECT_EQ(http.Request(silent.Url("/"), nullptr, 0, nullptr, exchange), CMasterHttp::kTransferFailed);
}

// A byte just inside every read time-out, or a reset half-way through the body: the
// exchange fails, and within its deadline.
TEST(HttpRequest, DrippingServerAndResetBodyFailWithinTheDeadline) {
    HttpLimits limits = Limits();
    limits.exchangeTimeoutMs = 600;
    CMasterHttp http(limits);
    HttpExchange exchange;

    ScriptedServer dripping({"HTTP/1.0 200 OK\r\n\r\n", 0, false, false, false, 100ms});
    auto start = Clock::now();
    EXPECT_EQ(http.Request(dripping.Url("/"), nullptr, 0, nullptr, exchange), CMasterHttp::kTransferFailed);
    auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 550ms);
    // The server drips for 3 s: a deadline of each read would run that long.
    EXPECT_LT(elapsed, 2500ms) << "the deadline covers the whole exchange, not each read";
    EXPECT_FALSE(exchange.body.empty());

    ScriptedServer dripHeader({"HTTP/1.0 200 OK\r\nX-Slow: ", 0, false, false, false, 100ms});
    start = Clock::now();
    EXPECT_EQ(http.Request(dripHeader.Url("/"), nullptr, 0, nullptr, exchange), CMasterHttp::kTransferFailed);
    EXPECT_LT(Clock::now() - start, 2500ms) << "a header block that never ends";

    ScriptedServer reset({"HTTP/1.0 200 OK\r\n\r\n{\"ip\":\"10.0.0.1\",\"po", 0, false, false, true});
    EXPECT_EQ(http.Request(reset.Url("/"), nullptr, 0, nullptr, exchange), CMasterHttp::kTransferFailed);
    EXPECT_EQ(exchange.body, "{\"ip\":\"10.0.0.1\",\"po");
    std::map<std::string, std::string> values;
    ScriptedServer resetLookup({"HTTP/1.0 200 OK\r\n\r\n{\"ip\":\"1.2.3.4\",\"port\":\"7\",\"status\":\"IDEL\"}", 0,
                                false, false, true});
    EXPECT_FALSE(http.MasterLookup(resetLookup.Url("/"), values)) << "a cut answer is never a lookup answer";
}

TEST(HttpRequest, BodyOverTheLimitFails) {
    ScriptedServer server({"HTTP/1.0 200 OK\r\n\r\n" + std::string(5000, 'x')});
    HttpLimits limits = Limits();
    limits.maxBodyBytes = 4096;
    CMasterHttp http(limits);
    HttpExchange exchange;
    EXPECT_EQ(http.Request(server.Url("/"), nullptr, 0, nullptr, exchange), CMasterHttp::kTransferFailed);
    EXPECT_LE(exchange.body.size(), 4096u);
}

TEST(HttpRequest, ConnectFailuresGive255AndBadSchemeGives1) {
    CMasterHttp http(Limits());
    HttpExchange exchange;
    int closedPort;
    {
        Listener gone;
        closedPort = gone.Port();
    }
    EXPECT_EQ(http.Request("http://127.0.0.1:" + std::to_string(closedPort) + "/", nullptr, 0, nullptr, exchange),
              CMasterHttp::kConnectFailed);
    EXPECT_EQ(http.Request("http://no-such-host.invalid/", nullptr, 0, nullptr, exchange), CMasterHttp::kConnectFailed);
    EXPECT_EQ(http.Request("http://127.0.0.1:0/", nullptr, 0, nullptr, exchange), CMasterHttp::kConnectFailed);
    EXPECT_EQ(http.Request("http://127.0.0.1:70000/", nullptr, 0, nullptr, exchange), CMasterHttp::kConnectFailed);
    EXPECT_EQ(http.Request("https://127.0.0.1/", nullptr, 0, nullptr, exchange), CMasterHttp::kBadSchemeOrSocket);
    EXPECT_FALSE(http.Get("ftp://127.0.0.1/", nullptr, exchange));
}

TEST(HttpRequest, ConnectGivesUpAfterItsTimeOut) {
    // A backlog of one, filled by a first connection the listener never accepts:
    // further connection requests are dropped, so the connect only waits.
    Listener full(0);
    int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(full.Port()));
    ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int filler2 = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ::connect(filler2, reinterpret_cast<sockaddr*>(&address), sizeof address);
    std::this_thread::sleep_for(20ms);

    HttpLimits limits = Limits();
    limits.connectTimeoutMs = 300;
    CMasterHttp http(limits);
    HttpExchange exchange;
    auto start = Clock::now();
    EXPECT_EQ(http.Request("http://127.0.0.1:" + std::to_string(full.Port()) + "/", nullptr, 0, nullptr, exchange),
              CMasterHttp::kConnectFailed);
    auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 250ms);
    EXPECT_LT(elapsed, 3s);
    ::close(filler);
    ::close(filler2);
}

TEST(HttpRequest, PeerResetDuringTheRequestDoesNotRaiseSigpipe) {
    // Without MSG_NOSIGNAL the first send after the reset would end this process.
    for (int round = 0; round < 5; ++round) {
        ScriptedServer server({"", 0, false, true});
        CMasterHttp http(Limits());
        HttpExchange exchange;
        std::this_thread::sleep_for(1ms);
        int result = http.Request(server.Url("/" + std::string(100000, 'x')), nullptr, 0, nullptr, exchange);
        EXPECT_NE(result, CMasterHttp::kBadSchemeOrSocket) << "any other ending is fine, as long as we are alive";
    }
}

TEST(HttpMasterLookup, ReadsIpPortAndStatusAsStrings) {
    std::map<std::string, std::string> values;
    ASSERT_TRUE(CMasterHttp::ParseLookupBody(
        "{\"ip\":\"10.1.2.3\",\"port\":9000,\"status\":\"IDEL\",\"other\":[1]}", values));
    EXPECT_EQ(values, (std::map<std::string, std::string>{{"ip", "10.1.2.3"}, {"port", "9000"}, {"status", "IDEL"}}));

    values.clear();
    ASSERT_TRUE(CMasterHttp::ParseLookupBody("{\"ip\":{\"a\":1},\"status\":true}", values));
    EXPECT_EQ(values["ip"], "") << "an object is no text";
    EXPECT_EQ(values["port"], "") << "missing";
    EXPECT_EQ(values["status"], "true");

    EXPECT_FALSE(CMasterHttp::ParseLookupBody("", values));
    EXPECT_FALSE(CMasterHttp::ParseLookupBody("<html>busy</html>", values));
    EXPECT_FALSE(CMasterHttp::ParseLookupBody("[1,2]", values)) << "not an object";
    EXPECT_FALSE(CMasterHttp::ParseLookupBody(std::string(100000, '['), values)) << "deep nesting";
}

TEST(HttpMasterLookup, OverTheWire) {
    ScriptedServer server({"HTTP/1.0 200 OK\r\n\r\n{\"ip\":\"127.0.0.1\",\"port\":\"7000\",\"status\":\"IDEL\"}\n"});
    CMasterHttp http(Limits());
    std::map<std::string, std::string> values;
    ASSERT_TRUE(http.MasterLookup(server.Url("/lookup_demo"), values));
    EXPECT_EQ(values["port"], "7000");
    ScriptedServer again({"HTTP/1.0 200 OK\r\n\r\n{\"ip\":\"127.0.0.1\",\"port\":\"7000\",\"status\":\"IDEL\"}"});
    HttpLimits zero;
    zero.connectTimeoutMs = 0;
    zero.readTimeoutMs = 0;
    EXPECT_TRUE(CMasterHttp(zero).MasterLookup(again.Url("/x"), values)) << "zero time-outs mean the defaults";
    ScriptedServer notJson({"HTTP/1.0 503 Busy\r\n\r\nbusy"});
    EXPECT_FALSE(http.MasterLookup(notJson.Url("/lookup_demo"), values));
}

// Against a real third-party server: Python's http.server on a free port.
class PythonHttpServer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!OnPath("python3")) GTEST_SKIP() << "python3 is not installed";
        dir_.Write("lookup.json", "{\"ip\":\"192.168.7.8\",\"port\":6001,\"status\":\"IDEL\"}");
        dir_.Write("Mixed Case.txt", std::string(3000, 'm'));

        int out[2];
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        std::string directory = dir_.Path();
        const char* argv[] = {"python3", "-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory",
                              directory.c_str(), nullptr};
        int spawned = posix_spawnp(&pid_, "python3", &actions, nullptr, const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (spawned != 0) {
            ::close(out[0]);
            pid_ = -1;
            GTEST_SKIP() << "python3 could not be started";
        }
        // "Serving HTTP on 127.0.0.1 port 12345 (http://127.0.0.1:12345/) ..."
        std::string banner;
        auto deadline = Clock::now() + 15s;
        while (banner.find('\n') == std::string::npos && Clock::now() < deadline) {
            pollfd waiting{out[0], POLLIN, 0};
            if (::poll(&waiting, 1, 200) != 1) continue;
            char buffer[256];
            ssize_t n = ::read(out[0], buffer, sizeof buffer);
            if (n <= 0) break;
            banner.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(out[0]);
        std::size_t at = banner.find(" port ");
        ASSERT_NE(at, std::string::npos) << "no banner from http.server: " << banner;
        port_ = std::atoi(banner.c_str() + at + 6);
        ASSERT_GT(port_, 0);
    }
    void TearDown() override {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    static bool OnPath(const char* program) {
        const char* path = std::getenv("PATH");
        if (path == nullptr) return false;
        std::string dirs(path);
        std::size_t start = 0;
        while (start <= dirs.size()) {
            std::size_t end = dirs.find(':', start);
            if (end == std::string::npos) end = dirs.size();
            std::string candidate = dirs.substr(start, end - start) + "/" + program;
            if (::access(candidate.c_str(), X_OK) == 0) return true;
            start = end + 1;
        }
        return false;
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

    testing_support::TempDir dir_;
    pid_t pid_ = -1;
    int port_ = 0;
};

TEST_F(PythonHttpServer, GetsFilesAndAnswersTheLookup) {
    CMasterHttp http(Limits());
    HttpExchange exchange;
    ASSERT_EQ(http.Request(Url("/Mixed%20Case.txt"), nullptr, 0, nullptr, exchange), CMasterHttp::kOk);
    EXPECT_EQ(exchange.responseHeader.rfind("HTTP/1.0 200", 0), 0u) << exchange.responseHeader;
    EXPECT_EQ(exchange.body, std::string(3000, 'm'));

    std::map<std::string, std::string> values;
    ASSERT_TRUE(http.MasterLookup(Url("/lookup.json"), values));
    EXPECT_EQ(values, (std::map<std::string, std::string>{{"ip", "192.168.7.8"}, {"port", "6001"}, {"status", "IDEL"}}));

    // The status is not interpreted: a 404 page is still a completed request...
    ASSERT_EQ(http.Request(Url("/missing.json"), nullptr, 0, nullptr, exchange), CMasterHttp::kOk);
    EXPECT_EQ(exchange.responseHeader.rfind("HTTP/1.0 404", 0), 0u);
    // ...but not a lookup answer.
    EXPECT_FALSE(http.MasterLookup(Url("/missing.json"), values));
}
