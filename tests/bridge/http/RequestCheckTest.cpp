#include "bridge/http/RequestCheck.h"
#include "bridge/http/HeadReader.h"

#include <gtest/gtest.h>

namespace trv::http {
namespace {

using Status = HeadReader::Status;

TEST(HeadReader, ReadsWholeHeadsStrictlyAndWithinTheLimit) {
    const struct {
        const char* name;
        std::string bytes;
        std::size_t limit;
        Status status;
        std::size_t size;
    } rows[] = {
        {"whole", "GET /ping HTTP/1.1\r\nHost: a\r\n\r\nBODY", 100, Status::Complete, 31},
        {"blank lines first", "\r\n\r\nGET / HTTP/1.0\r\n\r\n", 100, Status::Complete, 22},
        {"not yet", "GET / HTTP/1.1\r\nHost: a\r\n", 100, Status::Incomplete, 0},
        {"at the limit", "GET / HTTP/1.1\r\nHost: a\r\n\r\n", 27, Status::Complete, 27},
        {"past the limit", "GET / HTTP/1.1\r\nHost: a\r\n\r\n", 26, Status::TooLarge, 0},
        {"unfinished past the limit", std::string(64, 'A'), 64, Status::TooLarge, 0},
        {"bare line feed", "GET / HTTP/1.1\nHost: a\n\n", 100, Status::Malformed, 0},
        {"bare line feed inside", "GET / HTTP/1.1\r\nHost: a\nX: b\r\n\r\n", 100, Status::Malformed,
         0},
        {"folded line", "GET / HTTP/1.1\r\nA: b\r\n c\r\n\r\n", 100, Status::Malformed, 0},
        {"blank before the colon", "GET / HTTP/1.1\r\nHost : a\r\n\r\n", 100, Status::Malformed, 0},
        {"control character", std::string("GET / HTTP/1.1\r\nA: \x01\r\n\r\n"), 100,
         Status::Malformed, 0},
        {"two blanks", "GET  / HTTP/1.1\r\n\r\n", 100, Status::Malformed, 0},
        {"lower-case method", "get / HTTP/1.1\r\n\r\n", 100, Status::Malformed, 0},
        {"absolute target", "GET http://a/ HTTP/1.1\r\n\r\n", 100, Status::Malformed, 0},
        {"other version", "GET / HTTP/2.0\r\n\r\n", 100, Status::Malformed, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        RequestHead head;
        EXPECT_EQ(HeadReader::read(row.bytes, row.limit, head), row.status);
        if (row.status == Status::Complete) {
            EXPECT_EQ(head.size, row.size);
        }
    }
    RequestHead head;
    ASSERT_EQ(
        HeadReader::read("POST /x?y HTTP/1.1\r\nhOsT:  a:1 \r\nX: 1\r\nx: 2\r\n\r\n", 200, head),
        Status::Complete);
    EXPECT_EQ(head.method, "POST");
    EXPECT_EQ(head.target, "/x?y");
    EXPECT_EQ(head.values("host"), std::vector<std::string_view>{"a:1"});
    EXPECT_EQ(head.values("X"), (std::vector<std::string_view>{"1", "2"}));
}

TEST(RequestCheck, LetsThroughOnlyKnownHostsSameOriginsAndBoundedBodies) {
    RequestCheck::Site site;
    site.own = "127.0.0.1:8080";
    site.names = {"panel.lan", "proxy.lan:80"};
    const struct {
        const char* name;
        std::string head;
        int status;
        bool upgrade;
    } rows[] = {
        {"own address", "GET / HTTP/1.1\r\nHost: 127.0.0.1:8080", 0, false},
        {"own address, other port", "GET / HTTP/1.1\r\nHost: 127.0.0.1:9090", 403, false},
        {"own address without its port", "GET / HTTP/1.1\r\nHost: 127.0.0.1", 403, false},
        {"a name on any port", "GET / HTTP/1.1\r\nHost: PANEL.lan:8080", 0, false},
        {"a name without a port", "GET / HTTP/1.1\r\nHost: panel.lan", 0, false},
        {"a name with its port", "GET / HTTP/1.1\r\nHost: proxy.lan", 0, false},
        {"a name, other port", "GET / HTTP/1.1\r\nHost: proxy.lan:8080", 403, false},
        {"rebound name", "GET / HTTP/1.1\r\nHost: evil.example:8080", 403, false},
        {"no Host", "GET / HTTP/1.1", 400, false},
        {"two Hosts", "GET / HTTP/1.1\r\nHost: panel.lan\r\nHost: evil", 400, false},
        {"bad Host", "GET / HTTP/1.1\r\nHost: 127.0.0.1:80x", 400, false},
        {"same-origin post",
         "POST /api HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n"
         "Origin: http://127.0.0.1:8080\r\nContent-Length: 2",
         0, false},
        {"post without Origin (a script)", "POST /api HTTP/1.1\r\nHost: panel.lan", 0, false},
        {"cross-site post",
         "POST /api HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n"
         "Origin: http://evil.example",
         403, false},
        {"post from another allowed origin",
         "POST /api HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n"
         "Origin: http://panel.lan",
         403, false},
        {"post from the other scheme",
         "DELETE /x HTTP/1.1\r\nHost: panel.lan\r\n"
         "Origin: https://panel.lan",
         403, false},
        {"post from a sandboxed page", "PUT /x HTTP/1.1\r\nHost: panel.lan\r\nOrigin: null", 403,
         false},
        {"default port in the Origin",
         "POST / HTTP/1.1\r\nHost: panel.lan:80\r\n"
         "Origin: http://panel.lan",
         0, false},
        {"cross-site get is read-only",
         "GET / HTTP/1.1\r\nHost: panel.lan\r\n"
         "Origin: http://evil.example",
         0, false},
        {"same-origin upgrade",
         "GET /api/events HTTP/1.1\r\nHost: panel.lan\r\n"
         "Connection: keep-alive, Upgrade\r\nUpgrade: websocket\r\n"
         "Origin: http://panel.lan",
         0, true},
        {"cross-site upgrade",
         "GET /api/events HTTP/1.1\r\nHost: panel.lan\r\n"
         "Connection: Upgrade\r\nUpgrade: websocket\r\n"
         "Origin: http://evil.example",
         403, true},
        {"cross-site upgrade, case aside",
         "GET / HTTP/1.1\r\nHost: panel.lan\r\n"
         "Connection: UPGRADE\r\nUpgrade: WebSocket\r\nOrigin: http://evil.example",
         403, true},
        {"upgrade without Origin (a script)",
         "GET / HTTP/1.1\r\nHost: panel.lan\r\n"
         "Connection: Upgrade\r\nUpgrade: websocket",
         0, true},
        {"other upgrade",
         "GET / HTTP/1.1\r\nHost: panel.lan\r\nConnection: Upgrade\r\n"
         "Upgrade: h2c",
         400, true},
        {"upgrade without Upgrade", "GET / HTTP/1.1\r\nHost: panel.lan\r\nConnection: Upgrade", 400,
         true},
        {"upgrade not named in Connection",
         "GET / HTTP/1.1\r\nHost: panel.lan\r\n"
         "Connection: Upgrade-Later\r\nUpgrade: websocket",
         400, true},
        {"upgrade over two Connection fields",
         "GET / HTTP/1.1\r\nHost: panel.lan\r\n"
         "Connection: keep-alive\r\nConnection: Upgrade\r\n"
         "Upgrade: websocket",
         400, true},
        {"body at the limit", "POST / HTTP/1.1\r\nHost: panel.lan\r\nContent-Length: 100", 0,
         false},
        {"body over the limit", "POST / HTTP/1.1\r\nHost: panel.lan\r\nContent-Length: 101", 413,
         false},
        {"huge body", "POST / HTTP/1.1\r\nHost: panel.lan\r\nContent-Length: 99999999999999999999",
         400, false},
        {"signed length", "POST / HTTP/1.1\r\nHost: panel.lan\r\nContent-Length: +5", 400, false},
        {"two lengths",
         "POST / HTTP/1.1\r\nHost: panel.lan\r\nContent-Length: 1\r\n"
         "Content-Length: 1",
         400, false},
        {"chunked", "POST / HTTP/1.1\r\nHost: panel.lan\r\nTransfer-Encoding: chunked", 411, false},
        {"any transfer coding", "POST / HTTP/1.1\r\nHost: panel.lan\r\nTransfer-Encoding: gzip",
         411, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        RequestHead head;
        ASSERT_EQ(HeadReader::read(row.head + "\r\n\r\n", 4096, head),
                  HeadReader::Status::Complete);
        const RequestCheck::Verdict verdict = RequestCheck::judge(head, site, 100);
        EXPECT_EQ(verdict.status, row.status) << verdict.reason;
        EXPECT_EQ(verdict.upgrade, row.upgrade);
    }
}

} // namespace
} // namespace trv::http
