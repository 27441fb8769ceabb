#pragma once
// The two blocking HTTP clients, the picture download and the URL splitters (libcurl).
// Every call is bounded in time and in size, returns the body bytes exactly as received
// (no character-set conversion, HTTP status not examined) and returns empty on any
// failure. Every call can be aborted from another thread through a CancelToken.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "support/files.hpp"

namespace vq {

// A stop signal shared between the thread that stops a run and the threads doing its
// requests. Once cancelled it stays cancelled; a run makes a fresh token. It can also be
// held (a paused run): requests of threads obeying it wait before they start.
class CancelToken {
public:
    void cancel();  // also releases a hold
    bool is_cancelled() const { return cancelled_.load(std::memory_order_acquire); }
    void set_held(bool held);
    bool is_held() const { return held_.load(std::memory_order_acquire); }
    // Blocks while held and not cancelled; false when cancelled.
    bool wait_while_held() const;
    // Blocks for up to `most`, ending early on cancel; false when cancelled.
    bool pause_for(std::chrono::milliseconds most) const;
    // Threads that cannot move for the hold right now: all of a run's workers here means
    // nothing of it moves. A thread counts while it waits in wait_while_held(); a worker
    // (see CancelScope's groups) also while it waits for its helper and the helper waits
    // in wait_while_held().
    int held_waiters() const;
    // The calling thread waits for its group's helper (true) or no longer (false).
    void set_awaiting_helper(bool awaiting) const;

private:
    struct Holder {
        int waiting = 0;        // the worker's own threads in wait_while_held()
        int helperWaiting = 0;  // its helper's
        bool awaiting = false;  // the worker waits for its helper
    };
    void forget_if_idle(long holder) const;  // under mutex_
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> held_{false};
    mutable std::map<long, Holder> holders_;  // under mutex_
    mutable std::mutex mutex_;
    mutable std::condition_variable released_;
};

// Makes token the one that every request of the calling thread obeys while the scope
// lives (scopes nest; the innermost wins). A request started or running on this thread
// after token.cancel() returns empty within a fraction of a second; one about to start
// while the token is held waits for its release.
// The calling thread's cancel token (see CancelScope): cancelled; held; waits while held
// (false when cancelled). Without a token: not cancelled, not held, true at once.
bool thread_cancelled();
bool thread_held();
bool wait_while_thread_held();
// Waits up to `most` unless the calling thread's token is cancelled meanwhile (a back-off
// before a retry); false when cancelled. Without a token it just waits.
bool pause_unless_cancelled(std::chrono::milliseconds most);

class CancelScope {
public:
    explicit CancelScope(const CancelToken& token);
    // A worker (group > 0) and the helper thread it waits for (helper true, same group)
    // are held as one: see CancelToken::held_waiters().
    CancelScope(const CancelToken& token, long group, bool helper = false);
    ~CancelScope();
    CancelScope(const CancelScope&) = delete;
    CancelScope& operator=(const CancelScope&) = delete;

private:
    const CancelToken* previous_;
    long previousGroup_;
    bool previousHelper_;
};

// Bodies above this size count as a failed request.
inline constexpr std::size_t kMaxBodyBytes = 64u << 20;

// Call once before any thread makes a request (libcurl's global set-up is not
// thread-safe). Later calls do nothing. The clients call it themselves too, which is
// enough for single-threaded use.
void init_http();

// The direct client's time-out when a call passes 0 (site setting; 90 when never set).
// Values below 1 restore 90.
void set_default_timeout_seconds(int seconds);
int default_timeout_seconds();

// Scripted client: one request with the header block "Referrer", "Accept",
// "Accept-Language", "Content-Type" (every method) and "Cookie" (when cookie is not
// empty). Empty method = GET; empty referrer = the URL; timeout_seconds 0 = 15 s, and the
// whole call is bounded by it. returned_cookies, when given, has the response's cookies
// appended ("name=value" pieces joined with "; "). proxy_user/proxy_password are used
// only together with a proxy.
std::string fetch_via_request_object(std::string_view url, std::string_view method = {},
                                     std::string_view body = {}, std::string_view cookie = {},
                                     std::string* returned_cookies = nullptr,
                                     std::string_view proxy = {}, int timeout_seconds = 0,
                                     std::string_view proxy_user = {},
                                     std::string_view proxy_password = {},
                                     std::string_view referrer = {});

// Direct client: one HTTP/1.1 request to url_host/url_port with url_path as the request
// target, the agent "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)" and the header
// block extra_headers + the missing default lines "Accept: ", "Referer: " (the URL) and
// "Accept-Language: " (names compared case-insensitively). Only GET (also empty method)
// and POST are performed. timeout_seconds 0 = default_timeout_seconds(); the whole call,
// redirects included, is bounded by it. A non-blank cookie is sent as "Cookie: " and,
// unless store_cookies, keeps the process cookie store out of the request. Out-parameters
// are written only on success. pump_messages has no effect here: the wait never exceeds
// the time-out. Only "http://" addresses are supported (others give an empty result).
std::string fetch_with_timeout(std::string_view url, std::string_view method = {},
                               std::string_view body = {}, std::string_view cookie = {},
                               std::string* returned_cookies = nullptr, std::string_view proxy = {},
                               int timeout_seconds = 0, bool pump_messages = false,
                               std::string_view extra_headers = {}, std::string_view user = {},
                               std::string_view password = {},
                               std::string* returned_headers = nullptr, bool store_cookies = false);

// What an API call brought back.
struct ApiExchange {
    bool answered = false;  // an HTTP answer arrived whole (any status)
    long status = 0;
    std::string body;
    // Why nothing usable arrived (libcurl's words, ASCII); empty when answered.
    std::string failure;
    bool certificateRefused = false;  // the https peer's certificate was not trusted
    bool cancelled = false;           // the thread's token stopped it
};

// A POST of a form body (already encoded) to an http or https address, no redirects
// followed; https peers are verified against ca_file when given, else the system's store.
// Bounded by timeout_seconds (0 = the default), the body by kMaxBodyBytes; obeys the
// thread's cancel token.
ApiExchange post_form(std::string_view url, std::string_view body, std::string_view ca_file = {},
                      int timeout_seconds = 0);

// Picture download: GET over HTTP/1.0 with "Accept: */*", http or https, anything from
// "#" on dropped, redirects followed (http/https only). Empty on any failure, and for any
// final status outside 2xx (an error page is not a picture).
std::string fetch_picture(std::string_view url);

// A picture fetched straight into a staged file in the folder where it will be kept, so
// its bytes are never held in memory (the size cap still applies).
struct PictureFetch {
    enum class Outcome {
        Fetched,     // a 2xx answer with at least one byte, all of it in the file
        Failed,      // no picture: a network failure, a non-2xx answer or no bytes
        Unwritable,  // the bytes had nowhere to go: the folder or the disk refused them
    };
    Outcome outcome = Outcome::Failed;
    StagedFile file;
    std::string head;  // the first bytes (up to 16), for telling the picture's type
    std::string address;  // the wire address the picture came from (picture_wire_address)
    int writeError = 0;   // Unwritable: the system's error number, when known

    bool fetched() const { return outcome == Outcome::Fetched; }
    bool unwritable() const { return outcome == Outcome::Unwritable; }
};

// fetch_picture into a staged file in gbk_folder.
PictureFetch fetch_picture_into(std::string_view url, std::string_view gbk_folder);

// Pictures fetched side by side on the calling thread's own transfer machinery (a libcurl
// multi handle of its own): at most `most` transfers at once, each giving exactly what
// fetch_picture_into would. Transfers move only while the caller waits in take(), so no
// second thread is needed; they obey the thread's cancel token as every request does: a
// held token starts no new transfer, a cancelled one aborts them all. The destructor aborts
// what is still under way.
class PictureBatch {
public:
    explicit PictureBatch(int most = 4);
    ~PictureBatch();
    PictureBatch(const PictureBatch&) = delete;
    PictureBatch& operator=(const PictureBatch&) = delete;

    // Queues a picture; its index for take(). Transfers start in the order queued.
    int add(std::string_view url, std::string_view gbk_folder);
    // Waits for picture index (moving the others along) and hands it over; once per index.
    PictureFetch take(int index);
    // Moves the transfers under way along, waiting up to poll_ms for them; false when none
    // is under way (or the thread's token was cancelled, which ends them all).
    bool move_along(int poll_ms);
    // Called on this thread as each transfer ends (index, wire address, result), before it
    // is taken; not for the transfers the destructor aborts.
    void set_on_done(std::function<void(int, const std::string&, const PictureFetch&)> on_done);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Bytes already at hand, staged in gbk_folder as if they had just been fetched (empty
// bytes are a failed fetch).
PictureFetch staged_picture(std::string_view bytes, std::string_view gbk_folder);

// The address fetch_picture puts on the wire for url (fragment dropped, blanks, controls
// and double-byte characters percent-encoded): two addresses with the same wire address
// are one request.
std::string picture_wire_address(std::string_view url);

// Host of a URL: after "http://" when the text contains it, else from the start, up to the
// first "/"; cut at ":" unless keep_port; ASCII lower case.
std::string url_host(std::string_view url, bool keep_port);

// Request target: from the first "/" at or after the host, to the end; "/" when none.
std::string url_path(std::string_view url);

// Port after the host's ":" (the leading number, rounded), else 80.
int url_port(std::string_view url);

// Empties the process cookie store (tests).
void clear_cookie_store();

}  // namespace vq
