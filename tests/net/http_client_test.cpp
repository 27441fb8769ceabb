#include "net/http_client.hpp"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <filesystem>
#include <thread>

#include "net/capture_server.hpp"

namespace vq {
namespace {

using test::CaptureServer;

const std::string kAccept =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
    "application/x-shockwave-flash, application/vnd.ms-excel, application/vnd.ms-powerpoint, "
    "application/msword, */*";
const std::string kAgent = "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// The request head after its Host and User-Agent lines.
std::string block_after_agent(const std::string& head) {
    const auto at = head.find(kAgent);
    return at == std::string::npos ? "<no agent>" : head.substr(at + kAgent.size());
}

TEST(UrlSplitters, Table) {
    struct Case {
        const char* url;
        const char* host;
        const char* host_port;
        int port;
        const char* path;
    } cases[] = {
        {"http://MyShop:8080/a/b?x=1", "myshop", "myshop:8080", 8080, "/a/b?x=1"},
        {"http://shop.example", "shop.example", "shop.example", 80, "/"},
        {"shop.example/list?p=2", "shop.example", "shop.example", 80, "/list?p=2"},
        // A host that also occurs inside the scheme is still found where it stands.
        {"http://h:81.6/", "h", "h:81.6", 82, "/"},
        {"http://h:x/", "h", "h:x", 0, "/"},
        // The secure scheme is not understood: the host is the scheme name, no port.
        {"https://secure.example/x", "https", "https:", 0, "//secure.example/x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(url_host(c.url, false), c.host);
        EXPECT_EQ(url_host(c.url, true), c.host_port);
        EXPECT_EQ(url_port(c.url), c.port);
        EXPECT_EQ(url_path(c.url), c.path);
    }
}

TEST(DirectClient, UrlOnlyGetSendsTheDefaultBlock) {
    clear_cookie_store();
    CaptureServer server(CaptureServer::ok("hello"));
    const std::string url = server.base() + "/a/b?x=1";
    EXPECT_EQ(fetch_with_timeout(url), "hello");
    EXPECT_EQ(server.head(),
              "GET /a/b?x=1 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) + "\r\n" +
                  kAgent + "\r\n" + kAccept + "\r\nReferer: " + url + "\r\nAccept-Language: zh-cn");
}

TEST(DirectClient, HeaderBlockRules) {
    clear_cookie_store();
    CaptureServer server(CaptureServer::ok("ok"));
    const std::string url = server.base() + "/p";
    const std::string referer = "\r\nReferer: " + url;
    struct Case {
        const char* name;
        const char* method;
        std::string body;
        std::string cookie;
        std::string extra;
        std::string block;
    } cases[] = {
        {"lower-case accept in extra headers", "GET", "", "", "accept: text/html\r\nX-A: 1\r\n",
         "\r\naccept: text/html\r\nX-A: 1" + referer + "\r\nAccept-Language: zh-cn"},
        {"extra referer and language win", "", "", "", "Referer: r\r\nACCEPT-LANGUAGE: en\r\n",
         "\r\nReferer: r\r\nACCEPT-LANGUAGE: en\r\n" + kAccept},
        {"post with body", "post", "k=v&w=\xB1\xA6", "", "",
         "\r\n" + kAccept + referer +
             "\r\nAccept-Language: zh-cn\r\nContent-Type: application/x-www-form-urlencoded"
             "\r\nContent-Length: 8"},
        {"post keeps the caller's content type", "POST", "{}", "", "content-type: text/json\r\n",
         "\r\ncontent-type: text/json\r\n" + kAccept + referer +
             "\r\nAccept-Language: zh-cn\r\nContent-Length: 2"},
        {"post without body", "POST", "", "", "",
         "\r\n" + kAccept + referer + "\r\nAccept-Language: zh-cn"},
        {"blank cookie", "GET", "", " \xA1\xA1 ", "",
         "\r\n" + kAccept + referer + "\r\nAccept-Language: zh-cn"},
        {"explicit cookie", "GET", "", "sid=1; u=2", "",
         "\r\n" + kAccept + referer + "\r\nAccept-Language: zh-cn\r\nCookie: sid=1; u=2"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(
            fetch_with_timeout(url, c.method, c.body, c.cookie, nullptr, "", 0, false, c.extra),
            "ok");
        const std::string request = server.requests().at(i);
        EXPECT_EQ(block_after_agent(server.head(i)), c.block);
        EXPECT_EQ(request.substr(request.find("\r\n\r\n") + 4), c.body);
    }
}

// An address from a page may hold line breaks: neither the request line nor any header
// line may carry them, or the page's author could add header lines of their own.
TEST(AllClients, AddressBytesThatCannotStandInALineAreEncodedEverywhere) {
    CaptureServer server(CaptureServer::ok("ok"));
    const std::string url = server.base() + "/a b\r\nX-Injected: 1\xB1\xA6";
    const std::string encoded = "/a%20b%0D%0AX-Injected:%201%B1%A6";
    EXPECT_EQ(fetch_with_timeout(url), "ok");
    EXPECT_EQ(fetch_via_request_object(url), "ok");
    EXPECT_EQ(fetch_with_timeout(server.base() + "/c", "", "", "a=1\r\nX-Injected: 2\x7F"), "ok");
    EXPECT_EQ(fetch_via_request_object(server.base() + "/d", "", "", "", nullptr, "", 0, "", "",
                                       "http://r/\nX-Injected: 3"),
              "ok");
    ASSERT_EQ(server.requests().size(), 4u);
    EXPECT_EQ(server.head(0).substr(0, 48), "GET " + encoded + " HTTP/1.1\r\n");
    EXPECT_NE(server.head(0).find("\r\nReferer: " + server.base() + encoded + "\r\n"),
              std::string::npos);
    EXPECT_NE(server.head(1).find("\r\nReferrer: " + server.base() + encoded + "\r\n"),
              std::string::npos);
    EXPECT_NE(server.head(2).find("\r\nCookie: a=1%0D%0AX-Injected: 2%7F"), std::string::npos);
    EXPECT_NE(server.head(3).find("\r\nReferrer: http://r/%0AX-Injected:%203\r\n"),
              std::string::npos);
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(server.head(i).find("\r\nX-Injected"), std::string::npos);
        for (const char c : server.head(i)) {
            const auto b = static_cast<unsigned char>(c);
            EXPECT_TRUE(c == '\r' || c == '\n' || (b >= 0x20 && b != 0x7F)) << int(b);
        }
    }
}

TEST(DirectClient, RefusesWhatItCannotSend) {
    CaptureServer server(CaptureServer::ok("ok"));
    EXPECT_EQ(fetch_with_timeout(server.base() + "/p", "PUT", "x"), "");
    EXPECT_EQ(fetch_with_timeout("https://127.0.0.1:" + std::to_string(server.port()) + "/p"), "");
    EXPECT_TRUE(server.requests().empty());
}

TEST(DirectClient, BodyIsByteExactWhateverTheStatus) {
    const std::string body("\0\x01\xFF\xB1\xA6\r\nend", 10);
    CaptureServer server("HTTP/1.1 404 Not Found\r\nContent-Length: 10\r\n\r\n" + body);
    EXPECT_EQ(fetch_with_timeout(server.base() + "/missing"), body);
    EXPECT_EQ(fetch_via_request_object(server.base() + "/missing"), body);
}

// An error page saved as a picture would pass for one in the package.
TEST(PictureClient, OnlyA2xxAnswerIsAPicture) {
    const std::string page = "<html><body>Not Found</body></html>";
    for (const std::string status : {"404 Not Found", "500 Internal Server Error",
                                     "403 Forbidden", "302 Found"}) {
        SCOPED_TRACE(status);
        CaptureServer server("HTTP/1.1 " + status + "\r\nContent-Length: " +
                             std::to_string(page.size()) + "\r\n\r\n" + page);
        EXPECT_EQ(fetch_picture(server.base() + "/p.jpg"), "");
    }
    CaptureServer accepted("HTTP/1.1 203 Non-Authoritative\r\nContent-Length: 3\r\n\r\nGIF");
    EXPECT_EQ(fetch_picture(accepted.base() + "/p.gif"), "GIF");
}

TEST(Cookies, CollectedFromResponsesAndKeptInTheProcessStore) {
    clear_cookie_store();
    CaptureServer server([](const std::string& request) {
        if (request.find(" /login ") == std::string::npos) return CaptureServer::ok("page");
        return CaptureServer::ok("in",
                                 "Set-Cookie: a=1; path=/\r\n"
                                 "Set-Cookie: b=; path=/\r\n"
                                 "Set-Cookie: novalue\r\n");
    });
    const std::string login = server.base() + "/login";

    std::string cookies = "stale", headers;
    EXPECT_EQ(fetch_with_timeout(login, "", "", "", &cookies, "", 0, false, "", "", "", &headers),
              "in");
    EXPECT_EQ(cookies, "a=1");
    EXPECT_EQ(headers.substr(0, 17), "HTTP/1.1 200 OK\r\n");
    EXPECT_NE(headers.find("Set-Cookie: a=1; path=/\r\n"), std::string::npos);

    // The scripted client appends to what the caller holds and keeps no store.
    std::string held = "x=9";
    EXPECT_EQ(fetch_via_request_object(login, "", "", "", &held), "in");
    EXPECT_EQ(held, "x=9; a=1");

    // The store sends what it kept; an explicit cookie keeps the store out.
    fetch_with_timeout(server.base() + "/next");
    fetch_with_timeout(server.base() + "/next", "", "", "mine=1");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_NE(requests[2].find("a=1"), std::string::npos);
    EXPECT_EQ(requests[3].find("a=1"), std::string::npos);
    EXPECT_NE(requests[3].find("\r\nCookie: mine=1\r\n"), std::string::npos);
    EXPECT_EQ(requests[1].find("Cookie"), std::string::npos);  // scripted: nothing stored
    clear_cookie_store();
}

TEST(ScriptedClient, RequestHead) {
    CaptureServer server(CaptureServer::ok("cfg"));
    const std::string url = server.base() + "/logo.xml";
    EXPECT_EQ(fetch_via_request_object(url), "cfg");
    EXPECT_EQ(
        fetch_via_request_object(url, "POST", "a=1", "c=2", nullptr, "", 20, "", "", "http://ref/"),
        "cfg");
    const std::string common = "\r\n" + kAccept +
                               "\r\nAccept-Language: zh-cn"
                               "\r\nContent-Type: application/x-www-form-urlencoded";
    EXPECT_EQ(server.head(0).substr(0, 25), "GET /logo.xml HTTP/1.1\r\nH");
    EXPECT_EQ(block_after_agent(server.head(0)), "\r\nReferrer: " + url + common);
    EXPECT_EQ(server.head(1).substr(0, 25), "POST /logo.xml HTTP/1.1\r\n");
    EXPECT_EQ(block_after_agent(server.head(1)),
              "\r\nReferrer: http://ref/" + common + "\r\nCookie: c=2\r\nContent-Length: 3");
}

TEST(PictureClient, Http10AcceptAllAndNoFragment) {
    CaptureServer server(CaptureServer::ok("GIF89a"));
    EXPECT_EQ(fetch_picture(server.base() + "/p/\xD6\xD0.gif?a=1&b=2#top"), "GIF89a");
    EXPECT_EQ(server.head(), "GET /p/%D6%D0.gif?a=1&b=2 HTTP/1.0\r\nHost: 127.0.0.1:" +
                                 std::to_string(server.port()) + "\r\n" + kAgent +
                                 "\r\nAccept: */*");
    // Raw and percent-encoded GBK bytes are one request on the wire.
    EXPECT_EQ(picture_wire_address("http://h/\xD6\xD0 a.gif#x"), "http://h/%D6%D0%20a.gif");
    EXPECT_EQ(picture_wire_address("http://h/%D6%D0%20a.gif"), "http://h/%D6%D0%20a.gif");
}

// A picture goes straight into a staged file beside where it will be kept: the bytes are
// all there, only the first ones in memory, and nothing is left behind by a failure.
TEST(PictureClient, FetchedIntoAStagedFile) {
    char tmpl[] = "/tmp/vq-staged-XXXXXX";
    const std::string folder = mkdtemp(tmpl);
    const auto entries = [&folder] {
        return std::distance(std::filesystem::directory_iterator(folder),
                             std::filesystem::directory_iterator());
    };
    std::string picture = "\x89PNG\r\n\x1A\n";
    while (picture.size() < 300000) picture += "picture bytes ";
    CaptureServer server([&picture](const std::string& request) {
        if (request.find(" /p.png ") != std::string::npos) return CaptureServer::ok(picture);
        return std::string("HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone");
    });

    PictureFetch got = fetch_picture_into(server.base() + "/p.png", folder);
    ASSERT_TRUE(got.fetched());
    EXPECT_EQ(got.head, picture.substr(0, 16));
    EXPECT_EQ(got.file.size(), picture.size());
    EXPECT_EQ(entries(), 1);  // staged beside its place
    ASSERT_TRUE(got.file.commit(folder + "/p.png"));
    EXPECT_EQ(read_file_bytes(folder + "/p.png"), picture);

    EXPECT_EQ(fetch_picture_into(server.base() + "/gone.png", folder).outcome,
              PictureFetch::Outcome::Failed);
    EXPECT_EQ(fetch_picture_into(folder + "/x", folder).outcome, PictureFetch::Outcome::Failed);
    EXPECT_EQ(fetch_picture_into(server.base() + "/p.png", folder + "/missing").outcome,
              PictureFetch::Outcome::Unwritable);
    EXPECT_EQ(entries(), 1);  // no staged file outlives its fetch

    const PictureFetch bytes = staged_picture("GIF89a", folder);
    EXPECT_TRUE(bytes.fetched());
    EXPECT_EQ(bytes.head, "GIF89a");
    EXPECT_FALSE(staged_picture("", folder).fetched());
    std::filesystem::remove_all(folder);
}

TEST(Redirects, FollowedOnlyToHttp) {
    CaptureServer server([](const std::string& request) {
        if (request.find(" /old ") != std::string::npos)
            return std::string("HTTP/1.1 302 Found\r\nLocation: /new\r\nContent-Length: 0\r\n\r\n");
        if (request.find(" /file ") != std::string::npos)
            return std::string(
                "HTTP/1.1 302 Found\r\nLocation: file:///etc/passwd\r\nContent-Length: 0\r\n\r\n");
        return CaptureServer::ok("moved here");
    });
    EXPECT_EQ(fetch_with_timeout(server.base() + "/old"), "moved here");
    EXPECT_EQ(fetch_picture(server.base() + "/old"), "moved here");
    EXPECT_EQ(fetch_via_request_object(server.base() + "/old"), "moved here");
    EXPECT_EQ(fetch_with_timeout(server.base() + "/file"), "");
    EXPECT_EQ(fetch_picture(server.base() + "/file"), "");
}

TEST(Limits, ASilentServerCostsOnlyTheTimeOut) {
    CaptureServer server("", CaptureServer::Mode::Hang);
    const std::string url = server.base() + "/p";
    init_http();
    // 0 means the configured default.
    set_default_timeout_seconds(1);
    EXPECT_EQ(default_timeout_seconds(), 1);
    // Side by side, so the test waits out one second, not four.
    std::string results[4] = {"x", "x", "x", "x"};
    std::thread calls[] = {
        std::thread([&] { results[0] = fetch_with_timeout(url, "", "", "", nullptr, "", 1); }),
        std::thread([&] { results[1] = fetch_via_request_object(url, "", "", "", nullptr, "", 1); }),
        std::thread([&] { results[2] = fetch_with_timeout(url); }),
        std::thread([&] { results[3] = fetch_picture(url); }),
    };
    for (std::thread& call : calls) call.join();
    for (const std::string& result : results) EXPECT_EQ(result, "");
    set_default_timeout_seconds(0);
    EXPECT_EQ(default_timeout_seconds(), 90);
    EXPECT_EQ(server.requests().size(), 4u);
}

TEST(Limits, AnEndlessBodyFailsAtTheCap) {
    CaptureServer server("", CaptureServer::Mode::Endless);
    EXPECT_EQ(fetch_with_timeout(server.base() + "/big"), "");
    EXPECT_EQ(fetch_picture(server.base() + "/big.jpg"), "");
    // Into a file the cap holds too, and the part already written goes.
    char tmpl[] = "/tmp/vq-endless-XXXXXX";
    const std::string folder = mkdtemp(tmpl);
    EXPECT_EQ(fetch_picture_into(server.base() + "/big.jpg", folder).outcome,
              PictureFetch::Outcome::Failed);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    std::filesystem::remove_all(folder);
}

// A batch gives each picture exactly as a single fetch would, in whatever order they are
// taken, with never more than its limit on the wire; a hold starts nothing, a stop ends all.
TEST(PictureBatch, SideBySideWithinTheLimitAndObeysHoldAndStop) {
    char tmpl[] = "/tmp/vq-batch-XXXXXX";
    const std::string folder = mkdtemp(tmpl);
    std::mutex mutex;
    std::condition_variable changed;
    int inFlight = 0, most = 0;
    bool open = false;
    CaptureServer server([&](const std::string& request) {
        std::unique_lock lock(mutex);
        most = std::max(most, ++inFlight);
        changed.notify_all();
        changed.wait(lock, [&] { return open; });
        --inFlight;
        const std::string path = request.substr(4, request.find(' ', 4) - 4);
        if (path == "/gone.jpg") return std::string("HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone");
        return CaptureServer::ok("\xFF\xD8 picture " + path);
    });
    const auto open_gate = [&] {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    };

    {
        PictureBatch batch(4);
        const char* paths[] = {"/1.jpg", "/2.jpg", "/gone.jpg", "/4.jpg", "/5.jpg", "/6.jpg"};
        for (const char* path : paths) batch.add(server.base() + path, folder);
        std::thread opener([&] {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return inFlight == 4; });
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));  // room for a fifth
            open_gate();
        });
        for (const int i : {5, 0, 2, 1, 3, 4}) {
            PictureFetch got = batch.take(i);
            const std::string path = paths[i];
            if (path == "/gone.jpg") {
                EXPECT_EQ(got.outcome, PictureFetch::Outcome::Failed);
                continue;
            }
            ASSERT_TRUE(got.fetched()) << path;
            EXPECT_EQ(got.address, server.base() + path);
            ASSERT_TRUE(got.file.commit(folder + path));
            EXPECT_EQ(read_file_bytes(folder + path), "\xFF\xD8 picture " + path);
        }
        opener.join();
        EXPECT_EQ(most, 4);
    }

    // Held: nothing starts. Stopped: the transfers under way end and nothing is a picture.
    {
        std::lock_guard lock(mutex);
        open = false;
    }
    CancelToken token;
    token.set_held(true);
    PictureBatch batch(2);
    batch.add(server.base() + "/7.jpg", folder);
    batch.add(server.base() + "/8.jpg", folder);
    PictureFetch held;
    std::thread taker([&] {
        CancelScope scope(token);
        held = batch.take(1);
    });
    while (token.held_waiters() == 0) std::this_thread::yield();
    const std::size_t before = server.requests().size();
    EXPECT_EQ(before, 6u);  // the hold let none out
    token.set_held(false);
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return inFlight == 2; });
    }
    token.cancel();
    taker.join();
    EXPECT_FALSE(held.fetched());
    open_gate();
    EXPECT_EQ(server.requests().size(), before + 2);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                            std::filesystem::directory_iterator()),
              5);  // the five committed pictures, no staged file left
    std::filesystem::remove_all(folder);
}

TEST(Cancel, StopsRequestsInFlightAndRefusesNewOnes) {
    CaptureServer server("", CaptureServer::Mode::Hang);
    CancelToken token;
    std::string results[3] = {"x", "x", "x"};
    auto request = [&](int which) {
        CancelScope scope(token);
        const std::string url = server.base() + "/p" + std::to_string(which);
        if (which == 0) results[0] = fetch_with_timeout(url, "", "", "", nullptr, "", 60);
        if (which == 1) results[1] = fetch_via_request_object(url, "", "", "", nullptr, "", 60);
        if (which == 2) results[2] = fetch_picture(url);
    };
    std::thread a(request, 0), b(request, 1), c(request, 2);
    while (server.requests().size() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    token.cancel();
    a.join();
    b.join();
    c.join();
    for (const std::string& r : results) EXPECT_EQ(r, "");

    // Once cancelled, nothing more leaves this thread under that token.
    CancelScope scope(token);
    EXPECT_EQ(fetch_with_timeout(server.base() + "/late"), "");
    EXPECT_EQ(server.requests().size(), 3u);
}

// The pause before a retry ends with the stop, however long it was meant to be.
TEST(Cancel, EndsThePauseBeforeARetry) {
    CancelToken token;
    bool paused = true;
    std::thread waiter([&] {
        CancelScope scope(token);
        paused = pause_unless_cancelled(std::chrono::hours(1));
    });
    token.cancel();
    waiter.join();
    EXPECT_FALSE(paused);
    EXPECT_TRUE(pause_unless_cancelled(std::chrono::milliseconds(0)));  // no token: just waits
}

}  // namespace
}  // namespace vq
