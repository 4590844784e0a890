// The front end as an attacker on the LAN meets it: replayed digest headers, password
// guessing, slow and greedy clients, hostile names.

#include <poll.h>
#include <sys/resource.h>

#include <atomic>
#include <thread>

#include "DigestNonces.h"
#include "LoginThrottle.h"
#include "ServerFixture.h"

namespace {

using httptest::HttpClient;
using httptest::roundTrip;
using httptest::ScriptedHandler;

std::string request(const std::string& method, const std::string& target,
                    const std::string& authorization) {
    return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
           (authorization.empty() ? "" : "Authorization: " + authorization + "\r\n") +
           "Content-Length: 0\r\n\r\n";
}

class Digest : public httptest::ServerTest {
protected:
    // A signer holding a fresh nonce of the server on port p.
    DigestSigner freshSigner(int p, const std::string& password = "740163",
                             const std::string& method = "GET",
                             const std::string& target = "/api/x") {
        DigestSigner s("admin", password);
        const auto reply = roundTrip(p, request(method, target, ""));
        EXPECT_TRUE(reply && reply->status == 401);
        EXPECT_TRUE(reply && s.challenge(reply->header("www-authenticate")));
        return s;
    }
};

// A header captured from one request is good for that request only, once.
TEST_F(Digest, CapturedHeadersCannotBeReplayed) {
    ScriptedHandler handler;
    startServer(handler, true);
    DigestSigner s = freshSigner(port, "740163", "POST", "/api/video");
    const std::string captured = s.sign("POST", "/api/video");
    EXPECT_EQ(roundTrip(port, request("POST", "/api/video", captured))->status, 200);
    struct Replay {
        const char* what;
        std::string method, target;
    };
    const Replay replays[] = {
        {"another URI", "POST", "/sys/password"},
        {"another URI, same path with a query", "POST", "/api/video?index=1"},
        {"another method", "GET", "/api/video"},
        {"the same request again (nc reused)", "POST", "/api/video"},
    };
    for (const Replay& r : replays) {
        const auto reply = roundTrip(port, request(r.method, r.target, captured));
        ASSERT_TRUE(reply) << r.what;
        EXPECT_EQ(reply->status, 401) << r.what;
    }
    // A lower count than one already seen is refused too; the next one is fine.
    const std::string third = s.sign("POST", "/api/video", 3);
    EXPECT_EQ(roundTrip(port, request("POST", "/api/video", third))->status, 200);
    EXPECT_EQ(roundTrip(port, request("POST", "/api/video", third))->status, 401);
    EXPECT_EQ(
        roundTrip(port, request("POST", "/api/video", s.sign("POST", "/api/video", 4)))->status,
        200);
    EXPECT_EQ(handler.api().size(), 3u);
    // A count already used, signed anew for another request, is still a count already used:
    // 401 with stale=true (the right password), so a client takes a fresh nonce without
    // asking its user again.
    const auto moved = roundTrip(port, request("GET", "/api/y", s.sign("GET", "/api/y", 4)));
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->status, 401);
    EXPECT_TRUE(s.challenge(moved->header("www-authenticate")));
    EXPECT_TRUE(s.stale());
    // One nonce serves every path with rising counts, as browsers use it.
    EXPECT_EQ(roundTrip(port, request("GET", "/api/y", s.sign("GET", "/api/y")))->status, 200);
    EXPECT_EQ(roundTrip(port, request("GET", "/api/z", s.sign("GET", "/api/z")))->status, 200);
    // Two clients that start at the same moment get nonces of their own.
    DigestSigner a = freshSigner(port);
    DigestSigner b = freshSigner(port);
    EXPECT_NE(a.nonce(), b.nonce());
    EXPECT_EQ(roundTrip(port, request("GET", "/api/x", a.sign("GET", "/api/x")))->status, 200);
    EXPECT_EQ(roundTrip(port, request("GET", "/api/x", b.sign("GET", "/api/x")))->status, 200);
    EXPECT_TRUE(handler.credentials().empty());
}

TEST_F(Digest, NoncesOfAnotherServerInstanceAreRefused) {
    ScriptedHandler handler;
    startServer(handler, true);
    CHttpServer other(authFile());
    other.setListenAddress("127.0.0.1");
    ASSERT_TRUE(other.start(0, &handler));
    DigestSigner foreign = freshSigner(other.boundPort());
    const auto reply = roundTrip(port, request("GET", "/api/x", foreign.sign("GET", "/api/x")));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 401);
    EXPECT_TRUE(handler.api().empty());
    other.stop();
}

// An expired nonce gets 401 with stale=true (the client retries with the new nonce and the
// user is not asked again); a wrong password with an expired nonce is not called stale.
TEST_F(Digest, ExpiredNoncesAreStale) {
    ScriptedHandler handler;
    startServer(handler, true, 1);
    DigestSigner s = freshSigner(port);
    std::optional<httptest::Reply> reply;
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            reply = roundTrip(port, request("GET", "/api/x", s.sign("GET", "/api/x")));
            return reply && reply->status == 401;
        },
        std::chrono::seconds(10)));
    const std::string challenge = reply->header("www-authenticate");
    DigestSigner renewed("admin", "740163");
    ASSERT_TRUE(renewed.challenge(challenge));
    EXPECT_TRUE(renewed.stale()) << challenge;
    DigestSigner bad("admin", "guess12");
    bad.challenge(challenge);  // the expired nonce again, with a wrong password
    const auto guessed = roundTrip(port, request("GET", "/api/x", bad.sign("GET", "/api/x")));
    ASSERT_TRUE(guessed);
    EXPECT_EQ(guessed->status, 401);
    EXPECT_EQ(guessed->header("www-authenticate").find("stale="), std::string::npos);
    ASSERT_TRUE(s.challenge(challenge));
    EXPECT_EQ(roundTrip(port, request("GET", "/api/x", s.sign("GET", "/api/x")))->status, 200);

    // curl asks for a fresh challenge for every transfer, so requests one a second, longer
    // than a nonce lives here, all get through. (Browsers keep a nonce across requests;
    // they take the stale answer above.)
    // One curl run, three transfers: the status of each one on its own line.
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/api/x";
    const testsupport::HttpAnswer answer =
        testsupport::curl(url,
                          "--rate 1/s -o /dev/null -o /dev/null -o /dev/null --digest -u "
                          "admin:740163 '" +
                              url + "' '" + url + "'");
    EXPECT_EQ(answer.body, "\n200 \n200 ");
    EXPECT_EQ(answer.status, 200);
}

TEST(DigestNonces, FreshSignedExpiringAndCountedOnce) {
    using http::DigestNonces;
    using std::chrono::seconds;
    using Use = DigestNonces::Use;
    DigestNonces nonces(seconds(300));
    const auto t0 = DigestNonces::Clock::now();
    const std::string n = nonces.issue(t0);
    EXPECT_NE(n, nonces.issue(t0)) << "every challenge its own nonce";
    EXPECT_EQ(nonces.use(n, "00000001", t0), Use::Fresh);
    EXPECT_EQ(nonces.use(n, "00000001", t0), Use::Replayed);
    EXPECT_EQ(nonces.use(n, "00000003", t0), Use::Fresh);
    EXPECT_EQ(nonces.use(n, "00000002", t0), Use::Replayed) << "lower than one seen";
    EXPECT_EQ(nonces.use(n, "0000000A", t0 + seconds(300)), Use::Fresh);
    EXPECT_EQ(nonces.use(n, "0000000b", t0 + seconds(301)), Use::Stale) << "expired";
    for (const char* nc : {"", "0", "xyz", "10000000000000000"}) {
        EXPECT_EQ(nonces.use(nonces.issue(t0), nc, t0), Use::Replayed) << nc;
    }
    std::string forged = nonces.issue(t0);
    forged[0] = forged[0] == '0' ? '1' : '0';  // another issue time
    EXPECT_EQ(nonces.use(forged, "1", t0), Use::Stale);
    EXPECT_EQ(nonces.use("abc", "1", t0), Use::Stale);
    DigestNonces other(seconds(300));
    EXPECT_EQ(nonces.use(other.issue(t0), "1", t0), Use::Stale) << "another instance";
}

TEST(DigestNonces, AFullTableNeverLetsACountRepeat) {
    using http::DigestNonces;
    using Use = DigestNonces::Use;
    DigestNonces nonces(std::chrono::seconds(300));
    auto t = DigestNonces::Clock::now();
    const std::string first = nonces.issue(t);
    ASSERT_EQ(nonces.use(first, "1", t), Use::Fresh);
    for (size_t i = 0; i < DigestNonces::kMaxTracked; ++i) {
        t += std::chrono::milliseconds(1);
        ASSERT_EQ(nonces.use(nonces.issue(t), "1", t), Use::Fresh);
    }
    EXPECT_EQ(nonces.use(first, "1", t), Use::Stale) << "pushed out: stale, not fresh again";
    EXPECT_EQ(nonces.use(first, "2", t), Use::Stale);
}

TEST(LoginThrottle, LocksAfterTenFailuresWithinAMinuteForAMinute) {
    using http::LoginThrottle;
    using std::chrono::seconds;
    LoginThrottle t;
    const auto t0 = LoginThrottle::Clock::now();
    for (int i = 0; i < 9; ++i) {
        EXPECT_FALSE(t.fail("10.0.0.9", t0 + seconds(i)));
    }
    EXPECT_EQ(t.lockedFor("10.0.0.9", t0 + seconds(9)), 0);
    // The failure at t0 has left the window: nine within the last minute.
    EXPECT_FALSE(t.fail("10.0.0.9", t0 + seconds(60)));
    EXPECT_EQ(t.lockedFor("10.0.0.9", t0 + seconds(60)), 0);
    EXPECT_TRUE(t.fail("10.0.0.9", t0 + seconds(60))) << "ten within the last minute";
    EXPECT_FALSE(t.fail("10.0.0.9", t0 + seconds(61))) << "reported once per episode";
    EXPECT_EQ(t.lockedFor("10.0.0.9", t0 + seconds(60)), 60);
    EXPECT_EQ(t.lockedFor("10.0.0.9", t0 + seconds(119)), 1);
    EXPECT_EQ(t.lockedFor("10.0.0.8", t0 + seconds(61)), 0) << "other addresses";
    EXPECT_EQ(t.lockedFor("10.0.0.9", t0 + seconds(120)), 0) << "the lockout ends";
    EXPECT_FALSE(t.fail("10.0.0.9", t0 + seconds(120))) << "and counting starts again";
}

TEST(LoginThrottle, TableStaysBoundedAndKeepsLocks) {
    using http::LoginThrottle;
    LoginThrottle t;
    const auto now = LoginThrottle::Clock::now();
    for (int i = 0; i < LoginThrottle::kMaxFailures; ++i) {
        t.fail("locked", now);
    }
    for (size_t i = 0; i < 3 * LoginThrottle::kMaxAddresses; ++i) {
        t.fail("a" + std::to_string(i), now);
    }
    EXPECT_GT(t.lockedFor("locked", now), 0);
}

TEST_F(Digest, PasswordGuessingLocksOutOnlyTheGuesser) {
    ScriptedHandler handler;
    startServer(handler, true);
    const char* guesser = "127.0.0.2";
    DigestSigner wrong = freshSigner(port, "guess00");
    for (int i = 0; i < http::LoginThrottle::kMaxFailures; ++i) {
        const auto reply =
            roundTrip(port, request("GET", "/api/x", wrong.sign("GET", "/api/x")), guesser);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 401) << i;
    }
    // Locked now, even with the right password.
    DigestSigner right = freshSigner(port);
    const auto locked =
        roundTrip(port, request("GET", "/api/x", right.sign("GET", "/api/x")), guesser);
    ASSERT_TRUE(locked);
    EXPECT_EQ(locked->status, 429);
    const int retry = std::atoi(locked->header("retry-after").c_str());
    EXPECT_GT(retry, 50);
    EXPECT_LE(retry, 60);
    EXPECT_EQ(roundTrip(port, request("GET", "/", ""), guesser)->status, 429);
    // Other addresses go on as before.
    EXPECT_EQ(authed("GET", "/api/x")->status, 200);
    EXPECT_EQ(
        roundTrip(port, request("GET", "/api/x", right.sign("GET", "/api/x")), "127.0.0.3")->status,
        200);
    EXPECT_EQ(handler.api().size(), 2u);
}

// Stale and replayed headers carry the right password: they are no guesses.
TEST_F(Digest, StaleOrReplayedHeadersDoNotCountAsFailures) {
    ScriptedHandler handler;
    startServer(handler, true);
    DigestSigner s = freshSigner(port);
    const std::string captured = s.sign("GET", "/api/x");
    for (int i = 0; i < 2 * http::LoginThrottle::kMaxFailures; ++i) {
        roundTrip(port, request("GET", "/api/x", captured), "127.0.0.4");
    }
    EXPECT_EQ(
        roundTrip(port, request("GET", "/api/x", s.sign("GET", "/api/x")), "127.0.0.4")->status,
        200);
}

class SlowClients : public httptest::ServerTest {};

// Connections that trickle their headers are each a few bytes of memory in one event loop:
// they do not keep anyone else waiting.
TEST_F(SlowClients, TricklingConnectionsDoNotDelayOthers) {
    ScriptedHandler handler;
    startServer(handler, true);
    constexpr int kSlow = 200;
    std::vector<std::unique_ptr<HttpClient>> slow;
    for (int i = 0; i < kSlow; ++i) {
        // 16 per address: the most one address may hold.
        const std::string source = "127.0.1." + std::to_string(1 + i / 16);
        slow.push_back(std::make_unique<HttpClient>(port, source.c_str()));
        ASSERT_TRUE(slow.back()->connected());
        ASSERT_TRUE(slow.back()->send("GET /api/x HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: "));
    }
    std::atomic<bool> done{false};
    std::thread trickle([&] {
        while (!done.load()) {
            for (auto& c : slow) {
                c->send("a");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    for (int i = 0; i < 20; ++i) {
        const auto reply = authed("GET", "/api/x");
        ASSERT_TRUE(reply) << i;
        EXPECT_EQ(reply->status, 200) << i;
    }
    done = true;
    trickle.join();
    EXPECT_EQ(handler.api().size(), 20u);
}

TEST_F(SlowClients, HeadersThatTakeTooLongLoseTheConnection) {
    ScriptedHandler handler;
    startServer(handler, true, CHttpServer::kNonceTimeoutSeconds, std::chrono::seconds(1));
    HttpClient client(port);
    ASSERT_TRUE(client.send("GET / HTTP/1.1\r\n"));
    // Never idle, never done: one byte every 100 ms until the server hangs up.
    bool closed = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!closed && std::chrono::steady_clock::now() < deadline) {
        closed = !client.send("X") || client.closedByServer(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(closed);
}

// A connection that says nothing, before its first request or after a reply, is closed
// too: it would hold one of the address's connections for nothing.
TEST_F(SlowClients, SilentConnectionsAreClosed) {
    ScriptedHandler handler;
    startServer(handler, false, CHttpServer::kNonceTimeoutSeconds, std::chrono::seconds(1));
    HttpClient silent(port);
    HttpClient served(port);
    ASSERT_TRUE(served.send("GET /api/x HTTP/1.1\r\nHost: a\r\n\r\n"));
    ASSERT_TRUE(served.read());
    EXPECT_TRUE(silent.closedByServer());
    EXPECT_TRUE(served.closedByServer());
}

TEST_F(SlowClients, OneAddressHoldsAtMostSixteenConnections) {
    ScriptedHandler handler;
    startServer(handler, false);
    std::vector<std::unique_ptr<HttpClient>> held;
    for (unsigned i = 0; i < CHttpServer::kConnectionsPerAddress; ++i) {
        held.push_back(std::make_unique<HttpClient>(port, "127.0.0.5"));
        ASSERT_TRUE(held.back()->send("GET /api/x HTTP/1.1\r\nHost: a\r\n\r\n"));
        ASSERT_TRUE(held.back()->read()) << i;  // open and served, kept alive
    }
    HttpClient extra(port, "127.0.0.5");
    extra.send("GET /api/x HTTP/1.1\r\nHost: a\r\n\r\n");
    EXPECT_FALSE(extra.read()) << "the seventeenth is closed unanswered";
    EXPECT_EQ(roundTrip(port, "GET /api/x HTTP/1.1\r\nHost: a\r\n\r\n", "127.0.0.6")->status, 200);
    held.pop_back();  // one closes: room for another
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            const auto r = roundTrip(port, "GET /api/x HTTP/1.1\r\nHost: a\r\n\r\n", "127.0.0.5");
            return r && r->status == 200;
        },
        std::chrono::seconds(10)));
}

// More hostile connections than the server holds, from 100 addresses (10 each, under the
// per-address limit), silent after a first header line and reopened whenever they are cut:
// the administrator still gets answers, because a full server closes the oldest waiting
// connection to make room.
TEST_F(SlowClients, AFullServerStillAnswersTheAdministrator) {
    constexpr int kAddresses = 100;
    constexpr int kPerAddress = 10;
    constexpr rlim_t kDescriptors = 4096;  // the clients' and the server's ends, and spare
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < kDescriptors) {
        if (limit.rlim_max < kDescriptors) {
            GTEST_SKIP() << "needs " << kDescriptors << " descriptors";
        }
        limit.rlim_cur = kDescriptors;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    ScriptedHandler handler;
    startServer(handler, true);
    std::vector<std::string> sources;
    std::vector<std::unique_ptr<HttpClient>> hostile;
    const auto open = [&](size_t i) {
        hostile[i] = std::make_unique<HttpClient>(port, sources[i].c_str());
        hostile[i]->send("GET /api/x HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    };
    for (int i = 0; i < kAddresses * kPerAddress; ++i) {
        sources.push_back("127.0.2." + std::to_string(1 + i / kPerAddress));
        hostile.emplace_back();
        open(hostile.size() - 1);
    }
    std::atomic<bool> done{false};
    std::atomic<int> reopened{0};
    std::thread reopen([&] {
        std::vector<pollfd> fds(hostile.size());
        while (!done.load()) {
            for (size_t i = 0; i < hostile.size(); ++i) {
                fds[i] = {hostile[i]->fd(), POLLIN, 0};
            }
            ::poll(fds.data(), fds.size(), 20);
            for (size_t i = 0; i < hostile.size(); ++i) {
                if (fds[i].fd < 0 || fds[i].revents != 0) {
                    open(i);
                    ++reopened;
                }
            }
        }
    });
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const auto reply = authed("GET", "/api/x");
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        ASSERT_TRUE(reply) << i;
        EXPECT_EQ(reply->status, 200) << i;
        EXPECT_LT(took.count(), 3000) << "ms for request " << i;
    }
    done = true;
    reopen.join();
    EXPECT_GT(reopened.load(), 0) << "the server was full";
}

class Refusals : public httptest::ServerTest {};

TEST_F(Refusals, SafeMethodOnAStateChangingRouteIs405WithAllow) {
    ScriptedHandler handler;
    handler.result = HttpHandler::kMethodNotAllowed;
    startServer(handler, false);
    const auto reply = get("/api/reboot");
    EXPECT_TRUE(httptest::isJson(reply, 405, "{}"));
    EXPECT_EQ(reply->header("allow"), HttpHandler::kAllowForStateChanges);
}

TEST_F(Refusals, UploadNamedWithANulIsRefused) {
    ScriptedHandler handler;
    startServer(handler, false);
    const std::string boundary = "b0undary";
    const std::string body =
        "--" + boundary + "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"x" +
        std::string(1, '\0') + ".jpg\"\r\n\r\ndata\r\n--" + boundary + "--\r\n";
    const auto reply = roundTrip(
        port, "POST /upload HTTP/1.1\r\nHost: a\r\nContent-Type: multipart/form-data; boundary=" +
                  boundary + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                  body);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 400);
    EXPECT_FALSE(testsupport::fileExists(uploadDir() + "/x"));
    EXPECT_TRUE(handler.uploads().empty());
}

}  // namespace
