#include "net/http_client.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <thread>

#include "support/markers.hpp"
#include "support/text.hpp"

namespace vq {
namespace {

constexpr const char* kAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
constexpr const char* kAcceptList =
    "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*";
constexpr std::size_t kMaxHeaderBytes = 1u << 20;
constexpr long kMaxRedirects = 10;
// How often a waiting transfer looks at its cancel token.
constexpr int kPollMillis = 50;

thread_local const CancelToken* current_token = nullptr;
// The holder the calling thread waits as: its scope's group, or (0) the thread itself.
thread_local long current_group = 0;
thread_local bool current_helper = false;
std::atomic<long> next_thread_holder{0};

long holder_of_thread() {
    if (current_group > 0) return current_group;
    thread_local const long own = -(++next_thread_holder);
    return own;
}
std::atomic<int> default_timeout{90};

// The process cookie store, shared by every handle of every thread.
struct CookieStore {
    CURLSH* share = nullptr;
    std::mutex locks[CURL_LOCK_DATA_LAST];
};

CookieStore& cookie_store() {
    static CookieStore* store = [] {
        auto* s = new CookieStore;  // never freed: threads may still use it at exit
        s->share = curl_share_init();
        curl_share_setopt(s->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
        curl_share_setopt(
            s->share, CURLSHOPT_LOCKFUNC,
            +[](CURL*, curl_lock_data data, curl_lock_access, void* user) {
                static_cast<CookieStore*>(user)->locks[data].lock();
            });
        curl_share_setopt(
            s->share, CURLSHOPT_UNLOCKFUNC, +[](CURL*, curl_lock_data data, void* user) {
                static_cast<CookieStore*>(user)->locks[data].unlock();
            });
        curl_share_setopt(s->share, CURLSHOPT_USERDATA, s);
        return s;
    }();
    return *store;
}

// One multi handle per thread, kept between calls so its connection pool is reused. Each
// call gets a fresh easy handle, so nothing of one request (cookie state above all) can
// leak into the next.
struct ThreadMulti {
    CURLM* multi = nullptr;
    ThreadMulti() {
        init_http();
        multi = curl_multi_init();
    }
    ~ThreadMulti() {
        if (multi) curl_multi_cleanup(multi);
    }
    ThreadMulti(const ThreadMulti&) = delete;
    ThreadMulti& operator=(const ThreadMulti&) = delete;
};

struct Transfer {
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    Transfer() {
        thread_local ThreadMulti pool;
        multi = pool.multi;
        easy = multi ? curl_easy_init() : nullptr;
    }
    ~Transfer() {
        if (easy) curl_easy_cleanup(easy);
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;
    explicit operator bool() const { return easy != nullptr; }
};

// The text with every byte for which encode holds written as "%" and two upper-case hex
// digits.
template <typename Encode>
std::string percent_encoded(std::string_view text, Encode encode) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const unsigned char c : text) {
        if (encode(c)) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// Control bytes in a header line would let a value (an address from a page, a cookie)
// end the line and start header lines of its own; they go out percent-encoded.
std::string header_safe(std::string_view line) {
    return percent_encoded(line, [](unsigned char c) { return c < 0x20 || c == 0x7F; });
}

struct HeaderList {
    curl_slist* list = nullptr;
    void add(const std::string& line) {
        if (curl_slist* grown = curl_slist_append(list, header_safe(line).c_str())) list = grown;
    }
    ~HeaderList() { curl_slist_free_all(list); }
};

constexpr std::size_t kHeadBytes = 16;

// What one exchange collects. Headers are those of the final response only. With a file
// the body goes there as it arrives, and only its first bytes are kept in memory.
struct Exchange {
    std::string body;
    std::string headers;
    bool too_large = false;
    StagedFile* file = nullptr;
    std::uint64_t received = 0;
    bool unwritable = false;
};

size_t on_body(char* data, size_t size, size_t count, void* user) {
    auto* ex = static_cast<Exchange*>(user);
    const size_t n = size * count;
    if (ex->received + n > kMaxBodyBytes) {
        ex->too_large = true;
        return 0;  // aborts the transfer
    }
    ex->received += n;
    if (ex->file == nullptr) {
        ex->body.append(data, n);
        return n;
    }
    if (ex->body.size() < kHeadBytes)
        ex->body.append(data, std::min(n, kHeadBytes - ex->body.size()));
    if (!ex->file->append(std::string_view(data, n))) {
        ex->unwritable = true;
        return 0;
    }
    return n;
}

size_t on_header(char* data, size_t size, size_t count, void* user) {
    auto* ex = static_cast<Exchange*>(user);
    const size_t n = size * count;
    std::string_view line(data, n);
    // A new status line starts a new response (redirect, 100 Continue).
    if (line.substr(0, 5) == "HTTP/") ex->headers.clear();
    if (ex->headers.size() + n > kMaxHeaderBytes) return 0;
    ex->headers.append(line);
    return n;
}

// Bytes that cannot stand in a request line as they are (blanks, controls, and the bytes of
// double-byte characters) go out percent-encoded with upper-case digits; libcurl would
// otherwise encode the latter itself, in lower case.
std::string wire_url(std::string_view url) {
    return percent_encoded(url, [](unsigned char c) { return c <= 0x20 || c >= 0x7F; });
}

void set_common_options(CURL* easy, Exchange& ex, int timeout_ms, bool cookie_engine) {
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // A name lookup still running at a stop or time-out is left behind, not waited for.
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kAgent);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &ex);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &ex);
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxBodyBytes));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout_ms));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout_ms));
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // A redirected POST stays a POST, so its Content-Length line stays true.
    curl_easy_setopt(easy, CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_ALL));
    // No proxy unless the caller names one (never one from the environment).
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    if (cookie_engine) {
        curl_easy_setopt(easy, CURLOPT_SHARE, cookie_store().share);
        curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
    }
}

// Runs the prepared transfer on the calling thread until it ends, the deadline passes or
// the thread's cancel token fires.
bool perform(Transfer& h, int timeout_ms, CURLcode* code_out = nullptr) {
    const CancelToken* token = current_token;
    if (token && !token->wait_while_held()) return false;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms + 250);
    if (curl_multi_add_handle(h.multi, h.easy) != CURLM_OK) return false;
    CURLcode result = CURLE_OPERATION_TIMEDOUT;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(h.multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (running == 0) {
            int queued = 0;
            while (CURLMsg* msg = curl_multi_info_read(h.multi, &queued)) {
                if (msg->msg == CURLMSG_DONE) result = msg->data.result;
            }
            break;
        }
        if ((token && token->is_cancelled()) || std::chrono::steady_clock::now() > deadline) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        curl_multi_poll(h.multi, nullptr, 0, kPollMillis, nullptr);
    }
    curl_multi_remove_handle(h.multi, h.easy);
    if (code_out) *code_out = result;
    return result == CURLE_OK;
}

// Cookies of a response header block: for each line holding "Set-Cookie" whose piece
// between "=" and ";" is not empty, the trimmed piece between "Set-Cookie:" and ";".
void collect_cookies(std::string_view headers, std::string& cookies) {
    for (const std::string& line : split_text(headers, "\r\n")) {
        if (!contains_text(line, "Set-Cookie")) continue;
        if (text_between(line, "=", ";").empty()) continue;
        if (!cookies.empty()) cookies += "; ";
        cookies += trim_blanks(text_between(line, "Set-Cookie:", ";"));
    }
}

// Header lines of a CR LF block, without the status line.
std::string header_lines_only(std::string_view raw) {
    const int eol = find_text(raw, "\r\n");
    if (raw.substr(0, 5) != "HTTP/" || eol < 0) return std::string(raw);
    return std::string(raw.substr(static_cast<size_t>(eol) + 1));
}

bool is_blank(std::string_view text) {
    return trim_blanks(text).empty();
}

}  // namespace

void CancelToken::cancel() {
    {
        std::lock_guard lock(mutex_);
        cancelled_.store(true, std::memory_order_release);
    }
    released_.notify_all();
}

void CancelToken::set_held(bool held) {
    {
        std::lock_guard lock(mutex_);
        held_.store(held, std::memory_order_release);
    }
    if (!held) released_.notify_all();
}

bool CancelToken::wait_while_held() const {
    if (!is_held()) return !is_cancelled();
    const long holder = holder_of_thread();
    const bool helper = current_helper && current_group > 0;
    std::unique_lock lock(mutex_);
    Holder& h = holders_[holder];
    ++(helper ? h.helperWaiting : h.waiting);
    released_.wait(lock, [this] { return !is_held() || is_cancelled(); });
    --(helper ? holders_[holder].helperWaiting : holders_[holder].waiting);
    forget_if_idle(holder);
    return !is_cancelled();
}

bool CancelToken::pause_for(std::chrono::milliseconds most) const {
    std::unique_lock lock(mutex_);
    return !released_.wait_for(lock, most, [this] { return is_cancelled(); });
}

int CancelToken::held_waiters() const {
    std::lock_guard lock(mutex_);
    int held = 0;
    for (const auto& [holder, h] : holders_) held += h.waiting > 0 || (h.awaiting && h.helperWaiting > 0);
    return held;
}

void CancelToken::set_awaiting_helper(bool awaiting) const {
    const long holder = holder_of_thread();
    std::lock_guard lock(mutex_);
    holders_[holder].awaiting = awaiting;
    forget_if_idle(holder);
}

void CancelToken::forget_if_idle(long holder) const {
    const auto at = holders_.find(holder);
    if (at != holders_.end() && at->second.waiting == 0 && at->second.helperWaiting == 0 &&
        !at->second.awaiting) {
        holders_.erase(at);
    }
}

CancelScope::CancelScope(const CancelToken& token) : CancelScope(token, 0) {}

CancelScope::CancelScope(const CancelToken& token, long group, bool helper)
    : previous_(current_token), previousGroup_(current_group), previousHelper_(current_helper) {
    current_token = &token;
    current_group = group > 0 ? group : 0;
    current_helper = helper;
}

CancelScope::~CancelScope() {
    current_token = previous_;
    current_group = previousGroup_;
    current_helper = previousHelper_;
}

void init_http() {
    static std::once_flag once;
    std::call_once(once, [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        cookie_store();
    });
}

void set_default_timeout_seconds(int seconds) {
    default_timeout.store(seconds < 1 ? 90 : seconds);
}

int default_timeout_seconds() {
    return default_timeout.load();
}

std::string fetch_via_request_object(std::string_view url, std::string_view method,
                                     std::string_view body, std::string_view cookie,
                                     std::string* returned_cookies, std::string_view proxy,
                                     int timeout_seconds, std::string_view proxy_user,
                                     std::string_view proxy_password, std::string_view referrer) {
    Transfer h;
    if (!h) return {};
    const std::string verb = method.empty() ? std::string("GET") : std::string(method);
    const double timeout_ms = timeout_seconds == 0 ? 15000.0 : timeout_seconds * 1000.0;
    if (timeout_ms <= 0) return {};
    const int t = static_cast<int>(std::lround(std::min(timeout_ms, 2.0e9)));

    Exchange ex;
    CURL* easy = h.easy;
    set_common_options(easy, ex, t, false);
    const std::string target = wire_url(url);
    curl_easy_setopt(easy, CURLOPT_URL, target.c_str());

    HeaderList headers;
    // The address goes into the header as it goes into the request line.
    headers.add("Referrer: " + wire_url(referrer.empty() ? url : referrer));
    headers.add(std::string("Accept: ") + kAcceptList);
    headers.add("Accept-Language: zh-cn");
    headers.add("Content-Type: application/x-www-form-urlencoded");
    if (!cookie.empty()) headers.add("Cookie: " + std::string(cookie));
    headers.add("Expect:");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.list);

    if (verb == "GET" && body.empty()) {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (verb == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
        if (!body.empty() || verb == "POST") {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(body.size()));
        }
        if (verb != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb.c_str());
    }
    std::string proxy_text(proxy), user_text(proxy_user), password_text(proxy_password);
    if (!proxy_text.empty()) {
        curl_easy_setopt(easy, CURLOPT_PROXY, proxy_text.c_str());
        if (!user_text.empty()) {
            curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, user_text.c_str());
            curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, password_text.c_str());
        }
    }

    const bool ok = perform(h, t);
    if (!ok) return {};
    if (returned_cookies) {
        const std::string lines = header_lines_only(ex.headers);
        if (contains_text(lines, "Set-Cookie")) collect_cookies(lines, *returned_cookies);
    }
    return std::move(ex.body);
}

std::string fetch_with_timeout(std::string_view url, std::string_view method, std::string_view body,
                               std::string_view cookie, std::string* returned_cookies,
                               std::string_view proxy, int timeout_seconds, bool /*pump_messages*/,
                               std::string_view extra_headers, std::string_view user,
                               std::string_view password, std::string* returned_headers,
                               bool store_cookies) {
    const std::string verb = to_upper_ascii(method);
    if (!verb.empty() && verb != "GET" && verb != "POST") return {};
    const long long seconds = timeout_seconds == 0 ? default_timeout_seconds() : timeout_seconds;
    if (seconds <= 0) return {};
    const int t = static_cast<int>(std::min<long long>(seconds * 1000, 2'000'000'000));

    const std::string host = url_host(url, false);
    const int port = url_port(url);
    if (host.empty() || port < 1 || port > 65535) return {};
    Transfer h;
    if (!h) return {};

    std::string block(extra_headers);
    if (!contains_text(block, "Accept: ", true))
        block += std::string("Accept: ") + kAcceptList + "\r\n";
    // The address goes into the header as it goes into the request line: a line break in it
    // would otherwise split the block into header lines of the address's choosing.
    if (!contains_text(block, "Referer: ", true)) block += "Referer: " + wire_url(url) + "\r\n";
    if (!contains_text(block, "Accept-Language: ", true)) block += "Accept-Language: zh-cn\r\n";
    const bool post = verb == "POST";
    if (post && !body.empty()) {
        if (!contains_text(block, "Content-Type: ", true))
            block += "Content-Type: application/x-www-form-urlencoded\r\n";
        block += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    const bool explicit_cookie = !is_blank(cookie);

    Exchange ex;
    CURL* easy = h.easy;
    set_common_options(easy, ex, t, !explicit_cookie || store_cookies);
    const std::string target =
        wire_url("http://" + host + ":" + std::to_string(port) + url_path(url));
    curl_easy_setopt(easy, CURLOPT_URL, target.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));

    HeaderList headers;
    for (const std::string& line : split_text(block, "\r\n")) {
        if (!line.empty()) headers.add(line);
    }
    if (explicit_cookie) headers.add("Cookie: " + std::string(cookie));
    headers.add("Expect:");
    if (post && body.empty()) {
        // An empty POST carries neither line.
        if (!contains_text(block, "Content-Type:", true)) headers.add("Content-Type:");
        headers.add("Content-Length:");
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.list);

    if (post) {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    }
    std::string proxy_text = trim_blanks(proxy), user_text(user), password_text(password);
    if (!replace_all(replace_all(proxy_text, " ", ""), "\xA1\xA1", "").empty()) {
        curl_easy_setopt(easy, CURLOPT_PROXY, proxy_text.c_str());
    }
    if (!is_blank(user_text) || !is_blank(password_text)) {
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        if (!is_blank(user_text)) curl_easy_setopt(easy, CURLOPT_USERNAME, user_text.c_str());
        if (!is_blank(password_text))
            curl_easy_setopt(easy, CURLOPT_PASSWORD, password_text.c_str());
    }

    const bool ok = perform(h, t);
    if (!ok) return {};
    if (returned_cookies) {
        std::string cookies;
        if (contains_text(ex.headers, "Set-Cookie:")) collect_cookies(ex.headers, cookies);
        *returned_cookies = std::move(cookies);
    }
    if (returned_headers) *returned_headers = std::move(ex.headers);
    return std::move(ex.body);
}

ApiExchange post_form(std::string_view url, std::string_view body, std::string_view ca_file,
                      int timeout_seconds) {
    ApiExchange out;
    const long long seconds = timeout_seconds <= 0 ? default_timeout_seconds() : timeout_seconds;
    const int t = static_cast<int>(std::min<long long>(seconds * 1000, 2'000'000'000));
    Transfer h;
    if (!h) {
        out.failure = "cannot start a transfer";
        return out;
    }
    Exchange ex;
    CURL* easy = h.easy;
    set_common_options(easy, ex, t, false);
    // The answer of an API call is the one it gives; a redirect would hand the signed
    // fields and the token to another host.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    const std::string target = wire_url(url);
    curl_easy_setopt(easy, CURLOPT_URL, target.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    const std::string ca(ca_file);
    if (!ca.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, ca.c_str());
    HeaderList headers;
    headers.add("Content-Type: application/x-www-form-urlencoded;charset=UTF-8");
    headers.add("Accept: application/json");
    headers.add("Expect:");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.list);
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    CURLcode code = CURLE_OK;
    if (!perform(h, t, &code)) {
        out.cancelled = thread_cancelled();
        out.failure = ex.too_large ? "answer too large" : curl_easy_strerror(code);
        out.certificateRefused = code == CURLE_PEER_FAILED_VERIFICATION ||
                                 code == CURLE_SSL_CACERT_BADFILE ||
                                 code == CURLE_SSL_CERTPROBLEM;
        return out;
    }
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &out.status);
    out.answered = true;
    out.body = std::move(ex.body);
    return out;
}

std::string picture_wire_address(std::string_view url) {
    return wire_url(url.substr(0, url.find('#')));
}

namespace {

// A picture request on easy: GET over HTTP/1.0 with "Accept: */*" into ex.
void prepare_picture(CURL* easy, const std::string& target, Exchange& ex, HeaderList& headers,
                     int timeout_ms) {
    set_common_options(easy, ex, timeout_ms, true);
    curl_easy_setopt(easy, CURLOPT_URL, target.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    headers.add("Accept: */*");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.list);
}

bool answered_2xx(CURL* easy) {
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    return status >= 200 && status <= 299;
}

// One picture download into ex; true for a 2xx answer that arrived whole.
bool perform_picture(std::string_view url, Exchange& ex) {
    const std::string target = picture_wire_address(url);
    if (target.empty()) return false;
    Transfer h;
    if (!h) return false;
    const int t = default_timeout_seconds() * 1000;
    HeaderList headers;
    prepare_picture(h.easy, target, ex, headers, t);
    return perform(h, t) && answered_2xx(h.easy);
}

// What a transfer into a staged file came to.
void settle_picture(PictureFetch& result, const Exchange& ex, bool ok) {
    if (ex.unwritable) {
        result.outcome = PictureFetch::Outcome::Unwritable;
        result.writeError = result.file.error();
    } else if (ok && ex.received > 0) {
        result.outcome = PictureFetch::Outcome::Fetched;
        result.head = ex.body;
    }
    if (!result.fetched()) result.file = StagedFile();
}

}  // namespace

std::string fetch_picture(std::string_view url) {
    Exchange ex;
    if (!perform_picture(url, ex)) return {};
    return std::move(ex.body);
}

PictureFetch fetch_picture_into(std::string_view url, std::string_view gbk_folder) {
    PictureFetch result;
    result.file = StagedFile(gbk_folder);
    if (!result.file.ok()) {
        result.outcome = PictureFetch::Outcome::Unwritable;
        result.writeError = result.file.error();
        return result;
    }
    result.address = picture_wire_address(url);
    Exchange ex;
    ex.file = &result.file;
    settle_picture(result, ex, perform_picture(url, ex));
    return result;
}

struct PictureBatch::Impl {
    struct Item {
        std::string target;  // wire address
        PictureFetch result;
        Exchange ex;
        HeaderList headers;
        CURL* easy = nullptr;
        std::chrono::steady_clock::time_point deadline;
        enum class State { Queued, Running, Done } state = State::Queued;
        int index = 0;
    };

    explicit Impl(int most) : most(most < 1 ? 1 : most) {
        // The thread's batch multi handle outlives the batch, so a worker sets it (and its
        // wake-up pipe) up once, not for every product; a second batch alive on the same
        // thread gets one of its own.
        thread_local ThreadMulti shared;
        thread_local bool sharedInUse = false;
        if (!sharedInUse && shared.multi) {
            multi = shared.multi;
            inUse = &sharedInUse;
            sharedInUse = true;
        } else {
            init_http();
            multi = curl_multi_init();
            own = true;
        }
    }
    ~Impl() {
        onDone = nullptr;
        for (auto& item : items) finish(*item, false);
        if (own && multi) curl_multi_cleanup(multi);
        if (inUse) *inUse = false;
    }

    void finish(Item& item, bool ok) {
        if (item.state == Item::State::Running) {
            curl_multi_remove_handle(multi, item.easy);
            --running;
        }
        if (item.easy) curl_easy_cleanup(item.easy);
        item.easy = nullptr;
        if (item.state == Item::State::Done) return;
        settle_picture(item.result, item.ex, ok);
        item.state = Item::State::Done;
        if (onDone) onDone(item.index, item.target, item.result);
    }

    // Starts queued transfers, in order, while there is room and no hold.
    void start_more(const CancelToken* token) {
        for (auto& owned : items) {
            if (running >= most || (token && token->is_held())) return;
            Item& item = *owned;
            if (item.state != Item::State::Queued) continue;
            if (!item.result.file.ok() || item.target.empty() || !multi) {
                if (!item.result.file.ok()) item.ex.unwritable = true;
                finish(item, false);
                continue;
            }
            item.easy = curl_easy_init();
            if (!item.easy) {
                finish(item, false);
                continue;
            }
            const int t = default_timeout_seconds() * 1000;
            prepare_picture(item.easy, item.target, item.ex, item.headers, t);
            curl_easy_setopt(item.easy, CURLOPT_PRIVATE, &item);
            item.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(t + 250);
            if (curl_multi_add_handle(multi, item.easy) != CURLM_OK) {
                finish(item, false);
                continue;
            }
            item.state = Item::State::Running;
            ++running;
        }
    }

    void pump(Item& wanted) {
        const CancelToken* token = current_token;
        while (wanted.state != Item::State::Done) {
            if (token && token->is_cancelled()) {
                for (auto& item : items) finish(*item, false);
                return;
            }
            start_more(token);
            if (running == 0) {
                // Nothing under way and the one wanted not started: held, so wait.
                if (token && !token->wait_while_held()) continue;
                continue;
            }
            advance(kPollMillis, &wanted);
        }
    }

    // One round of the transfers under way, then up to poll_ms waiting for the next unless
    // the one wanted has ended.
    void advance(int poll_ms, const Item* wanted) {
        int still = 0;
        curl_multi_perform(multi, &still);
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
            if (msg->msg != CURLMSG_DONE) continue;
            Item* item = nullptr;
            curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &item);
            if (item) finish(*item, msg->data.result == CURLE_OK && answered_2xx(item->easy));
        }
        const auto now = std::chrono::steady_clock::now();
        for (auto& item : items) {
            if (item->state == Item::State::Running && now > item->deadline) finish(*item, false);
        }
        if (poll_ms > 0 && running > 0 && !(wanted && wanted->state == Item::State::Done)) {
            curl_multi_poll(multi, nullptr, 0, poll_ms, nullptr);
        }
    }

    bool move_along(int poll_ms) {
        const CancelToken* token = current_token;
        if (token && token->is_cancelled()) {
            for (auto& item : items) finish(*item, false);
            return false;
        }
        start_more(token);
        if (running == 0) return false;
        advance(poll_ms, nullptr);
        return true;
    }

    std::function<void(int, const std::string&, const PictureFetch&)> onDone;

    int most;
    CURLM* multi = nullptr;
    bool own = false;
    bool* inUse = nullptr;
    int running = 0;
    std::vector<std::unique_ptr<Item>> items;
};

PictureBatch::PictureBatch(int most) : impl_(std::make_unique<Impl>(most)) {}

PictureBatch::~PictureBatch() = default;

int PictureBatch::add(std::string_view url, std::string_view gbk_folder) {
    auto item = std::make_unique<Impl::Item>();
    item->target = picture_wire_address(url);
    item->result.address = item->target;
    item->result.file = StagedFile(gbk_folder);
    item->ex.file = &item->result.file;
    item->index = static_cast<int>(impl_->items.size());
    impl_->items.push_back(std::move(item));
    return static_cast<int>(impl_->items.size()) - 1;
}

PictureFetch PictureBatch::take(int index) {
    if (index < 0 || index >= static_cast<int>(impl_->items.size())) return {};
    Impl::Item& item = *impl_->items[static_cast<std::size_t>(index)];
    impl_->pump(item);
    PictureFetch result = std::move(item.result);
    item.result = PictureFetch{};
    return result;
}

bool PictureBatch::move_along(int poll_ms) {
    return impl_->move_along(poll_ms);
}

void PictureBatch::set_on_done(
    std::function<void(int, const std::string&, const PictureFetch&)> on_done) {
    impl_->onDone = std::move(on_done);
}

bool thread_cancelled() {
    return current_token && current_token->is_cancelled();
}

bool wait_while_thread_held() {
    return !current_token || current_token->wait_while_held();
}

bool pause_unless_cancelled(std::chrono::milliseconds most) {
    if (current_token) return current_token->pause_for(most);
    std::this_thread::sleep_for(most);
    return true;
}

bool thread_held() {
    return current_token && current_token->is_held();
}

PictureFetch staged_picture(std::string_view bytes, std::string_view gbk_folder) {
    PictureFetch result;
    if (bytes.empty()) return result;
    result.file = StagedFile(gbk_folder);
    if (!result.file.append(bytes)) {
        result.outcome = PictureFetch::Outcome::Unwritable;
        result.writeError = result.file.error();
        result.file = StagedFile();
        return result;
    }
    result.outcome = PictureFetch::Outcome::Fetched;
    result.head = std::string(bytes.substr(0, kHeadBytes));
    return result;
}

namespace {
// 1-based position where the host part of a URL starts.
int host_start(std::string_view url) {
    const int scheme = find_text(url, "http://");
    return scheme > 0 ? scheme + 7 : 1;
}
}  // namespace

std::string url_host(std::string_view url, bool keep_port) {
    std::string_view host =
        url.substr(std::min(url.size(), static_cast<size_t>(host_start(url) - 1)));
    const int slash = find_text(host, "/");
    if (slash > 0) host = host.substr(0, static_cast<size_t>(slash - 1));
    if (!keep_port) {
        const int colon = find_text(host, ":");
        if (colon > 0) host = host.substr(0, static_cast<size_t>(colon - 1));
    }
    return to_lower_ascii(host);
}

std::string url_path(std::string_view url) {
    // The host is looked for where it starts, not from the beginning, so a host such as
    // "h" or "tp" is not found inside the scheme.
    const int at = find_text(url, url_host(url, false), host_start(url), true);
    if (at < 0) return "/";
    const int slash = find_text(url, "/", at);
    if (slash < 0) return "/";
    return std::string(url.substr(static_cast<size_t>(slash - 1)));
}

int url_port(std::string_view url) {
    const std::string host = url_host(url, true);
    const int colon = find_text(host, ":");
    if (colon < 0) return 80;
    // The leading decimal number after the colon, rounded; no number gives 0.
    std::string_view rest = std::string_view(host).substr(static_cast<size_t>(colon));
    size_t i = 0;
    while (i < rest.size() && rest[i] == ' ') ++i;
    const bool negative = i < rest.size() && rest[i] == '-';
    if (i < rest.size() && (rest[i] == '-' || rest[i] == '+')) ++i;
    double value = 0;
    for (; i < rest.size() && rest[i] >= '0' && rest[i] <= '9' && value < 1e9; ++i)
        value = value * 10 + (rest[i] - '0');
    if (i < rest.size() && rest[i] == '.' && i + 1 < rest.size() && rest[i + 1] >= '5' &&
        rest[i + 1] <= '9')
        value += 1;
    return static_cast<int>(negative ? -value : value);
}

void clear_cookie_store() {
    init_http();
    CURL* easy = curl_easy_init();
    if (!easy) return;
    curl_easy_setopt(easy, CURLOPT_SHARE, cookie_store().share);
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(easy, CURLOPT_COOKIELIST, "ALL");
    curl_easy_cleanup(easy);
}

}  // namespace vq
