#include "marketplace-sim/marketplace_sim.hpp"

#include <arpa/inet.h>
#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <thread>
#include <utility>

#include "marketplace-sim/gateway.hpp"
#include "marketplace-sim/pictures.hpp"
#include "marketplace-sim/shop_pages.hpp"
#include "marketplace-sim/tls_identity.hpp"
#include "support/encoding.hpp"

namespace vq::sim {
namespace {

enum class Kind { Gateway, Page, Product, Picture, Config, Other, Auth };
constexpr const char* kKindNames[] = {"gateway", "page", "product", "picture", "config", "other", "auth"};
constexpr int kKinds = 7;
constexpr Fault kFaults[] = {Fault::Error, Fault::Empty, Fault::Malformed,
                             Fault::Reset, Fault::Hang,  Fault::Huge};

const char* kind_name(Kind k) {
    return kKindNames[static_cast<int>(k)];
}

struct Answer {
    int status = 200;
    std::string body;
    std::string contentType;
};

std::string lower_ascii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return out;
}

bool starts_with(std::string_view text, std::string_view head) {
    return text.substr(0, head.size()) == head;
}

bool ends_with(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// "Name.LocalHost:8080" -> "name.localhost".
std::string host_name(std::string_view header) {
    const std::size_t colon = header.rfind(':');
    if (colon != std::string_view::npos && header.find(']') == std::string_view::npos) {
        header = header.substr(0, colon);
    }
    return lower_ascii(header);
}

// Shop number of "shopN.localhost", 0 when the name is not of that form.
int shop_number(std::string_view host) {
    if (!starts_with(host, "shop") || !ends_with(host, ".localhost")) return 0;
    const std::string_view digits = host.substr(4, host.size() - 4 - 10);
    if (digits.empty() || digits.size() > 6) return 0;
    int n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        n = n * 10 + (c - '0');
    }
    return n;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percent_decode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
            hex_value(text[i + 2]) >= 0) {
            out += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
            i += 2;
        } else if (text[i] == '+') {
            out += ' ';
        } else {
            out += text[i];
        }
    }
    return out;
}

// Query parameters of a raw target, in order; a name without "=" has an empty value.
std::vector<std::pair<std::string, std::string>> query_params(std::string_view target) {
    std::vector<std::pair<std::string, std::string>> out;
    const std::size_t question = target.find('?');
    if (question == std::string_view::npos) return out;
    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view piece = query.substr(0, amp);
        if (!piece.empty()) {
            const std::size_t eq = piece.find('=');
            out.emplace_back(
                std::string(piece.substr(0, eq)),
                eq == std::string_view::npos ? std::string() : std::string(piece.substr(eq + 1)));
        }
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return out;
}

std::string param(const std::vector<std::pair<std::string, std::string>>& params,
                  std::string_view name) {
    std::string value;
    for (const auto& [n, v] : params) {
        if (n == name) value = v;
    }
    return value;
}

// The last "pageNum=" anywhere in the target: a list address typed without "?" gets
// "&pageNum=N" glued to its path.
int page_number(std::string_view target) {
    const std::size_t at = target.rfind("pageNum=");
    if (at == std::string_view::npos) return 1;
    int n = 0;
    for (std::size_t i = at + 8; i < target.size() && target[i] >= '0' && target[i] <= '9'; ++i) {
        if (n < 100000) n = n * 10 + (target[i] - '0');
    }
    return n < 1 ? 1 : n;
}

// The target without its page numbers, ready for "N" to be appended.
std::string page_link(std::string_view target) {
    std::string out(target);
    for (std::size_t at = out.find("pageNum="); at != std::string::npos;
         at = out.find("pageNum=")) {
        std::size_t end = at + 8;
        while (end < out.size() && out[end] >= '0' && out[end] <= '9') ++end;
        if (at > 0 && out[at - 1] == '&') {
            out.erase(at - 1, end - at + 1);
        } else {
            if (end < out.size() && out[end] == '&') ++end;
            out.erase(at, end - at);
        }
    }
    if (!out.empty() && (out.back() == '?' || out.back() == '&')) out.pop_back();
    return out + (out.find('?') == std::string::npos ? "?&pageNum=" : "&pageNum=");
}

// Bytes that would break a line of the stats text, written as \xHH.
std::string printable_target(std::string_view target) {
    std::string out;
    char buf[8];
    for (char c : target) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7F || c == '\\') {
            std::snprintf(buf, sizeof buf, "\\x%02X", b);
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

// The query of a raw target, without its "?".
std::string_view query_text(std::string_view target) {
    const std::size_t question = target.find('?');
    return question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
}

// Fields of a query or form body, decoded, in order.
PlatformFields decoded_fields(std::string_view text) {
    PlatformFields out;
    for (auto& [name, value] : query_params("?" + std::string(text)))
        out.emplace_back(percent_decode(name), percent_decode(value));
    return out;
}

// A form POST's fields that tell its requests apart (the offer, the grant), appended to its
// target as a query, so that the stats, faults and the gate see them as a GET's.
std::string post_target(const httplib::Request& req, const PlatformFields& body) {
    std::string target = req.target;
    for (const auto& [name, value] : body) {
        if (name != "productId" && name != "productID" && name != "offerId" && name != "productIdList" &&
            name != "grant_type")
            continue;
        target += target.find('?') == std::string::npos ? '?' : '&';
        target += name + "=" + value;
    }
    return target;
}

constexpr const char* kXmlType = "text/xml;charset=UTF-8";
constexpr const char* kJsonType = "application/json;charset=UTF-8";
constexpr const char* kPageType = "text/html; charset=gbk";

}  // namespace

struct MarketplaceSim::Impl {
    SimOptions options;
    Catalogue catalogue;
    int port = -1;
    struct PictureEntry {
        PictureType type;
        bool empty = false;
    };
    std::map<std::string, PictureEntry> pictures;  // host + "\n" + GBK path

    std::unique_ptr<httplib::Server> server;
    std::thread listener;
    std::atomic<bool> listenerDone{false};
    // With `tls`: the same answers over HTTPS.
    std::unique_ptr<httplib::Server> tlsServer;
    std::thread tlsListener;
    std::atomic<bool> tlsListenerDone{false};
    int tlsPort = -1;
    std::string caFile;
    OpenPlatform platform;
    // Answers read the catalogue under a shared lock; a supplier's change takes it alone.
    std::shared_mutex catalogueMutex;

    std::mutex stopMutex;
    std::condition_variable stopWake;
    bool stopping = false;

    // The test gate: held requests wait on stopWake (under stopMutex) until it opens.
    bool gateClosed = false;
    std::string gateKind;
    std::string gatePart;
    int held = 0;
    std::condition_variable heldChanged;
    // Holds a request at the gate while it is closed; true when the server stops meanwhile.
    bool pass_gate(Kind kind, const std::string& target);

    struct TargetCount {
        Kind kind = Kind::Other;
        std::uint64_t count = 0;
    };
    mutable std::mutex statsMutex;
    std::map<std::pair<std::string, std::string>, TargetCount> targets;
    std::uint64_t kindCounts[kKinds] = {};
    std::map<Fault, std::uint64_t> faultCounts;

    void register_pictures();
    void handle(const httplib::Request& req, httplib::Response& res);
    bool handle_admin(const httplib::Request& req, httplib::Response& res);
    bool change_offer(std::string_view offerId, OfferChange change);
    Kind classify(const std::string& host) const;
    std::uint64_t record(Kind kind, const std::string& host, const std::string& target);
    void count_fault(Fault f);
    // Waits up to ms milliseconds, or until stop; true when stopping.
    bool wait_or_stop(std::chrono::milliseconds ms);
    bool is_stopping();

    Answer gateway_answer(const httplib::Request& req, const PlatformFields& body);
    // Settings and handlers both servers share; the bound port, -1 when it cannot be bound.
    int bind(httplib::Server& s, int wanted);
    Answer shop_answer(int shopNumber, const httplib::Request& req);
    Answer product_answer(const std::string& host, const httplib::Request& req);
    Answer picture_answer(const std::string& host, const httplib::Request& req);
    Answer config_answer(const httplib::Request& req);
    void send(Answer answer, Fault fault, Kind kind, std::uint64_t detail, httplib::Response& res);
    // A hung answer: nothing is sent until the client hangs up, the server stops or
    // kMostHang has passed, so each hang holds a server thread only as long as its client
    // waits.
    void hang(const httplib::Request& req);
    int connection_socket(const httplib::Request& req) const;
    // Ends every client connection of this server, so that threads waiting for a kept-alive
    // connection's next request end now instead of after the keep-alive time.
    void shut_connections() const;

    std::string stats_text() const;
    void reset_stats();
};

void MarketplaceSim::Impl::register_pictures() {
    pictures.clear();
    auto add = [&](const PictureRef& pic) {
        if (!pic.exists) return;
        const std::optional<PictureType> type = picture_type_for_path(pic.path);
        if (!type) return;
        pictures[std::string(picture_host_name(pic.host)) + ".localhost\n" +
                 utf8_to_gbk(pic.path)] = {*type, pic.empty};
    };
    for (const Product& p : catalogue.products()) {
        for (const PictureRef& pic : p.mainPictures) add(pic);
        for (const PictureRef& pic : p.descriptionImages) add(pic);
        for (const PictureRef& pic : p.descriptionBackgrounds) add(pic);
        for (const SkuPicture& s : p.skuPictures) add(s.picture);
    }
}

Kind MarketplaceSim::Impl::classify(const std::string& host) const {
    if (host == "config.localhost") return Kind::Config;
    if (host == "gw.localhost") return Kind::Gateway;
    if (host == "auth.localhost") return Kind::Auth;
    if (host == "detail.localhost" || host == "detail.tmall.localhost" || host == "item.localhost")
        return Kind::Product;
    if (host == "img.localhost" || host == "img.taobaocdn.localhost") return Kind::Picture;
    const int n = shop_number(host);
    if (n >= 1 && n <= options.shops) return Kind::Page;
    return Kind::Other;
}

std::uint64_t MarketplaceSim::Impl::record(Kind kind, const std::string& host,
                                           const std::string& target) {
    std::lock_guard<std::mutex> lock(statsMutex);
    ++kindCounts[static_cast<int>(kind)];
    TargetCount& t = targets[{host, target}];
    t.kind = kind;
    return t.count++;
}

void MarketplaceSim::Impl::count_fault(Fault f) {
    std::lock_guard<std::mutex> lock(statsMutex);
    ++faultCounts[f];
}

bool MarketplaceSim::Impl::wait_or_stop(std::chrono::milliseconds ms) {
    std::unique_lock<std::mutex> lock(stopMutex);
    return stopWake.wait_for(lock, ms, [&] { return stopping; });
}

bool MarketplaceSim::Impl::pass_gate(Kind kind, const std::string& target) {
    std::unique_lock<std::mutex> lock(stopMutex);
    const auto matches = [&] {
        return gateClosed && (gateKind.empty() || gateKind == kind_name(kind)) &&
               target.find(gatePart) != std::string::npos;
    };
    if (!matches()) return stopping;
    ++held;
    heldChanged.notify_all();
    stopWake.wait(lock, [&] { return stopping || !matches(); });
    --held;
    return stopping;
}

bool MarketplaceSim::Impl::is_stopping() {
    std::lock_guard<std::mutex> lock(stopMutex);
    return stopping;
}

std::string MarketplaceSim::Impl::stats_text() const {
    std::lock_guard<std::mutex> lock(statsMutex);
    std::string out;
    for (int k = 0; k < kKinds; ++k) {
        out += std::string(kKindNames[k]) + " " + std::to_string(kindCounts[k]) + "\n";
    }
    for (Fault f : kFaults) {
        const auto it = faultCounts.find(f);
        out += "fault-" + std::string(fault_name(f)) + " " +
               std::to_string(it == faultCounts.end() ? 0 : it->second) + "\n";
    }
    for (const auto& [key, t] : targets) {
        out += std::string(kind_name(t.kind)) + " " + std::to_string(t.count) + " " +
               (key.first.empty() ? std::string("-") : key.first) + " " +
               printable_target(key.second) + "\n";
    }
    return out;
}

void MarketplaceSim::Impl::reset_stats() {
    std::lock_guard<std::mutex> lock(statsMutex);
    targets.clear();
    std::fill(std::begin(kindCounts), std::end(kindCounts), 0);
    faultCounts.clear();
}

bool MarketplaceSim::Impl::handle_admin(const httplib::Request& req, httplib::Response& res) {
    if (req.path == "/__stats") {
        res.set_content(stats_text(), "text/plain; charset=utf-8");
    } else if (req.path == "/__reset") {
        reset_stats();
        res.set_content("ok\n", "text/plain; charset=utf-8");
    } else if (req.path == "/__change") {
        const auto params = query_params(req.target);
        const std::optional<OfferChange> change = offer_change_from_name(param(params, "kind"));
        const bool changed = change && change_offer(param(params, "offer"), *change);
        res.set_content(changed ? "ok\n" : "unknown offer or kind\n", "text/plain; charset=utf-8");
        res.status = changed ? 200 : 404;
        return true;
    } else if (req.path == "/__catalog") {
        res.set_content(catalogue.describe(port), "text/plain; charset=utf-8");
    } else {
        return false;
    }
    res.status = 200;
    return true;
}

Answer MarketplaceSim::Impl::config_answer(const httplib::Request& req) {
    // The program appends "/logo.xml" to a base that ends in "/".
    std::string_view path = req.path;
    while (!path.empty() && path.front() == '/') path.remove_prefix(1);
    if (path != "logo.xml") return {404, "", "text/plain"};
    std::string body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<logo>\n";
    for (const KeyPair& k : catalogue.keys()) {
        body += "<item appkey=\"" + k.appkey + "\" appsecret=\"" + k.appsecret + "\"/>\n";
    }
    body += "</logo>\n";
    return {200, body, kXmlType};
}

Answer MarketplaceSim::Impl::gateway_answer(const httplib::Request& req, const PlatformFields& body) {
    if (!starts_with(req.path, kOfferGetPath) || req.method == "POST") {
        PlatformFields fields = decoded_fields(query_text(req.target));
        fields.insert(fields.end(), body.begin(), body.end());
        PlatformAnswer a = platform.gateway(req.path, fields, port);
        return {a.status, std::move(a.body), kJsonType};
    }
    const GatewayVerdict verdict = check_offer_request(req.target, catalogue);
    switch (verdict.outcome) {
        case GatewayOutcome::Ok:
            return {200, offer_answer(*verdict.product, port, verdict), kXmlType};
        case GatewayOutcome::UnknownApi:
            return {404, error_answer("gw.APIUnsupported", "API is not supported"), kXmlType};
        case GatewayOutcome::UnknownKey:
            return {401, error_answer("gw.AppKeyNotExist", "App key does not exist"), kXmlType};
        case GatewayOutcome::BadSignature:
            return {401, error_answer("gw.SignatureInvalid", "Signature is invalid"), kXmlType};
        case GatewayOutcome::UnknownOffer:
            return {200, error_answer("isv.OfferNotFound", "Offer does not exist"), kXmlType};
    }
    return {500, "", kXmlType};
}

Answer MarketplaceSim::Impl::shop_answer(int shopNumber, const httplib::Request& req) {
    const Shop& shop = *catalogue.shop(shopNumber);
    const std::string home = site_address("shop" + std::to_string(shopNumber), port);
    const std::string& path = req.path;
    ListingRequest listing;
    listing.page = page_number(req.target);
    listing.pageLink = home + page_link(req.target);

    auto category_list = [&](std::string_view id) {
        listing.kind = ListingKind::List;
        if (const Category* cat = catalogue.find_category(shop, id)) {
            listing.products = cat->products;
            listing.heading = cat->name;
        } else {
            listing.heading = "分类";
        }
    };

    if (path == "/" || path == "/index.htm" || path == "/page/offerlist.htm") {
        listing.kind = ListingKind::ShopOffers;
        listing.products = shop.products;
        listing.heading = "供应产品";
        if (path != "/page/offerlist.htm")
            listing.pageLink = home + "/page/offerlist.htm?&pageNum=";
    } else if (starts_with(path, "/page/offerlist_") && path.find(".htm") != std::string::npos) {
        const std::size_t from = std::string_view("/page/offerlist_").size();
        category_list(std::string_view(path).substr(from, path.find(".htm") - from));
    } else if (path.find("category-") != std::string::npos) {
        const std::size_t from = path.find("category-") + 9;
        const std::size_t dot = path.find('.', from);
        category_list(std::string_view(path).substr(
            from, dot == std::string::npos ? std::string::npos : dot - from));
    } else if (path == "/search.htm") {
        const auto params = query_params(req.target);
        const std::string scid = param(params, "scid");
        const std::string catId = param(params, "catId");
        if (!scid.empty() || !catId.empty()) {
            category_list(scid.empty() ? catId : scid);
        } else {
            // Shop search pages are GBK, so the keyword arrives percent-encoded in GBK.
            const std::string keyword = gbk_to_utf8(percent_decode(param(params, "keywords")));
            listing.kind = ListingKind::List;
            listing.heading = "搜索：" + html_escape(keyword);
            for (int index : shop.products) {
                const Product& p = catalogue.products()[static_cast<std::size_t>(index)];
                if (p.title.find(keyword) != std::string::npos) listing.products.push_back(index);
            }
        }
    } else {
        return {404, render_missing_page(), kPageType};
    }
    return {200, render_listing_page(catalogue, shop, listing, port), kPageType};
}

Answer MarketplaceSim::Impl::product_answer(const std::string& host, const httplib::Request& req) {
    std::string id;
    const std::string& path = req.path;
    if (host == "item.localhost") {
        if (path == "/item.htm") id = param(query_params(req.target), "id");
    } else if (starts_with(path, "/offer/") && ends_with(path, ".html")) {
        id = path.substr(7, path.size() - 7 - 5);
    }
    const Product* p = catalogue.find_offer(id);
    if (p == nullptr) return {404, render_missing_page(), kPageType};
    return {200, render_product_page(*p, *catalogue.shop(p->shop), port), kPageType};
}

Answer MarketplaceSim::Impl::picture_answer(const std::string& host, const httplib::Request& req) {
    // req.path has %XX decoded, so GBK bytes sent raw or encoded meet the same entry; the
    // query plays no part.
    const auto it = pictures.find(host + "\n" + req.path);
    if (it == pictures.end()) return {404, render_missing_page(), kPageType};
    const std::string type(picture_content_type(it->second.type));
    if (it->second.empty) return {200, "", type};
    return {200, make_picture(it->second.type, host + req.path, options.pictureBytes), type};
}

namespace {

// httplib hands a handler no socket: this server's client connections are the process's
// sockets on its port that have a peer. visit(fd, client port) until it returns true.
template <class Visit>
void visit_connections(int port, Visit visit) {
    DIR* fds = opendir("/proc/self/fd");
    if (fds == nullptr) return;
    while (const dirent* entry = readdir(fds)) {
        const int fd = std::atoi(entry->d_name);
        if (fd <= 0 || fd == dirfd(fds)) continue;
        sockaddr_in peer{}, local{};
        socklen_t peerLength = sizeof peer, localLength = sizeof local;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
            peer.sin_family != AF_INET || ntohs(local.sin_port) != port) {
            continue;
        }
        if (visit(fd, static_cast<int>(ntohs(peer.sin_port)))) break;
    }
    closedir(fds);
}

}  // namespace

int MarketplaceSim::Impl::connection_socket(const httplib::Request& req) const {
    int found = -1;
    for (const int p : {port, tlsPort}) {
        if (p <= 0 || found >= 0) continue;
        visit_connections(p, [&](int fd, int client_port) {
            if (client_port != req.remote_port) return false;
            found = fd;
            return true;
        });
    }
    return found;
}

void MarketplaceSim::Impl::shut_connections() const {
    for (const int p : {port, tlsPort}) {
        if (p <= 0) continue;
        visit_connections(p, [](int fd, int) {
            shutdown(fd, SHUT_RDWR);
            return false;
        });
    }
}

void MarketplaceSim::Impl::hang(const httplib::Request& req) {
    constexpr auto kMostHang = std::chrono::minutes(5);
    const int fd = connection_socket(req);
    const auto until = std::chrono::steady_clock::now() + kMostHang;
    while (!wait_or_stop(std::chrono::milliseconds(100)) &&
           std::chrono::steady_clock::now() < until) {
        if (fd < 0) continue;
        // The client hung up: end of file (or an error) on its connection.
        pollfd p{fd, POLLIN | POLLRDHUP, 0};
        if (poll(&p, 1, 0) <= 0) continue;
        if (p.revents & (POLLHUP | POLLERR | POLLRDHUP)) return;
        char byte;
        if (recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0) return;
    }
}

void MarketplaceSim::Impl::send(Answer answer, Fault fault, Kind kind, std::uint64_t detail,
                                httplib::Response& res) {
    res.status = answer.status;
    switch (fault) {
        case Fault::None:
            break;
        case Fault::Error:
            if (kind == Kind::Gateway && answer.contentType == kJsonType) {
                answer = {503,
                          "{\"error_code\":\"isp.ServiceBusy\",\"error_message\":\"Service is busy, "
                          "retry later\"}",
                          kJsonType};
            } else if (kind == Kind::Gateway) {
                answer = {200, error_answer("isp.ServiceBusy", "Service is busy, retry later"),
                          kXmlType};
            } else if (kind == Kind::Picture) {
                answer = {503, "", "text/plain"};
            } else {
                answer = {503, render_busy_page(), kPageType};
            }
            res.status = answer.status;
            break;
        case Fault::Empty:
            res.status = 200;
            answer.body.clear();
            break;
        case Fault::Malformed: {
            const std::size_t close = answer.body.find("</toReturn>");
            if (kind == Kind::Gateway && close != std::string::npos && (detail & 1)) {
                answer.body.replace(close, 11, "</toReturm>");  // a mismatched end tag
            } else {
                answer.body.resize(answer.body.size() * (kind == Kind::Gateway ? 2 : 1) /
                                   (kind == Kind::Gateway ? 3 : 2));
            }
            break;
        }
        case Fault::Reset: {
            // Headers promise the whole body; half of it goes out, then the connection drops.
            auto body = std::make_shared<std::string>(std::move(answer.body));
            const std::size_t promised = std::max<std::size_t>(body->size(), 64);
            res.set_content_provider(promised, answer.contentType,
                                     [body](std::size_t, std::size_t, httplib::DataSink& sink) {
                                         sink.write(body->data(), body->size() / 2);
                                         return false;
                                     });
            return;
        }
        case Fault::Hang:  // held in hang() until the client left; nobody reads this
            res.status = 503;
            return;
        case Fault::Huge: {
            res.status = 200;
            static const std::string chunk = [] {
                std::string c;
                while (c.size() < 65536) c += "<!-- marketplace-sim: an answer far too large -->\n";
                c.resize(65536);
                return c;
            }();
            res.set_content_provider(
                kHugeBodyBytes, answer.contentType,
                [this](std::size_t, std::size_t length, httplib::DataSink& sink) {
                    if (is_stopping()) return false;
                    return sink.write(chunk.data(), std::min(length, chunk.size()));
                });
            return;
        }
    }
    res.set_content(answer.body, answer.contentType);
}

void MarketplaceSim::Impl::handle(const httplib::Request& req, httplib::Response& res) {
    if (starts_with(req.path, "/__") && handle_admin(req, res)) return;

    const std::string host = host_name(req.get_header_value("Host"));
    const Kind kind = classify(host);
    // Today's gateway takes form POSTs; nothing else does.
    const bool post = req.method == "POST" && kind == Kind::Gateway;
    const PlatformFields body = post ? decoded_fields(req.body) : PlatformFields();
    const std::string target = post ? post_target(req, body) : req.target;
    const std::uint64_t occurrence = record(kind, host, target);
    if (pass_gate(kind, target)) {
        res.status = 503;
        return;
    }

    if (req.method != "GET" && !post) {
        res.status = 405;
        return;
    }
    if (kind == Kind::Auth) {
        PlatformAnswer a = platform.authorize(req.path, decoded_fields(query_text(req.target)));
        res.status = a.status;
        if (!a.location.empty()) res.set_header("Location", a.location);
        res.set_content(a.body, a.contentType.empty() ? kJsonType : a.contentType);
        return;
    }
    if (kind == Kind::Other) {
        res.status = 404;
        res.set_content(render_missing_page(), kPageType);
        return;
    }
    if (kind == Kind::Config) {
        const Answer a = config_answer(req);
        res.status = a.status;
        res.set_content(a.body, a.contentType);
        return;
    }

    if (options.latencyMs > 0 && wait_or_stop(std::chrono::milliseconds(options.latencyMs))) {
        res.status = 503;
        return;
    }
    const std::string request = host + " " + target;
    const Fault fault = decide_fault(options.faults, options.seed, request, occurrence);
    if (fault != Fault::None) count_fault(fault);
    if (fault == Fault::Hang) hang(req);

    Answer answer;
    std::shared_lock catalogueLock(catalogueMutex);
    switch (kind) {
        case Kind::Gateway:
            answer = gateway_answer(req, body);
            break;
        case Kind::Page:
            answer = shop_answer(shop_number(host), req);
            break;
        case Kind::Product:
            answer = product_answer(host, req);
            break;
        case Kind::Picture:
            answer = picture_answer(host, req);
            break;
        default:
            break;
    }
    catalogueLock.unlock();
    send(std::move(answer), fault, kind, fault_detail(options.seed, request, occurrence), res);
}

namespace {

// A price text ("12.30") by percent, to the cent; an empty or odd one stays as it is.
std::string scaled_price(const std::string& text, int percent) {
    const std::size_t dot = text.find('.');
    if (text.empty() || dot == std::string::npos || text.size() - dot != 3 ||
        text.find_first_not_of("0123456789.") != std::string::npos)
        return text;
    const long long cents = std::stoll(text.substr(0, dot)) * 100 + std::stoll(text.substr(dot + 1));
    const long long changed = (cents * percent + 50) / 100;
    std::string out = std::to_string(changed / 100) + ".";
    if (changed % 100 < 10) out += '0';
    return out + std::to_string(changed % 100);
}

std::string more(const std::string& count, int by) {
    if (count.empty() || count.find_first_not_of("0123456789") != std::string::npos) return count;
    return std::to_string(std::stoll(count) + by);
}

void scale_prices(Product& p, int percent) {
    p.retailPrice = scaled_price(p.retailPrice, percent);
    p.price = scaled_price(p.price, percent);
    for (PriceRange& r : p.priceRanges) r.price = scaled_price(r.price, percent);
    for (SkuItem& s : p.skus) {
        s.price = scaled_price(s.price, percent);
        s.retailPrice = scaled_price(s.retailPrice, percent);
        for (SkuItem& c : s.children) {
            c.price = scaled_price(c.price, percent);
            c.retailPrice = scaled_price(c.retailPrice, percent);
        }
    }
}

}  // namespace

std::optional<OfferChange> offer_change_from_name(std::string_view name) {
    static constexpr std::pair<std::string_view, OfferChange> kNames[] = {
        {"price-up", OfferChange::PriceUp},     {"price-down", OfferChange::PriceDown},
        {"stock", OfferChange::Stock},          {"sku-added", OfferChange::SkuAdded},
        {"sku-removed", OfferChange::SkuRemoved}, {"taken-down", OfferChange::TakenDown}};
    for (const auto& [n, change] : kNames) {
        if (n == name) return change;
    }
    return std::nullopt;
}

bool MarketplaceSim::Impl::change_offer(std::string_view offerId, OfferChange change) {
    std::unique_lock lock(catalogueMutex);
    Product* p = catalogue.edit_offer(offerId);
    if (p == nullptr) return false;
    switch (change) {
        case OfferChange::PriceUp:
            scale_prices(*p, 110);
            break;
        case OfferChange::PriceDown:
            scale_prices(*p, 90);
            break;
        case OfferChange::Stock: {
            const bool together = p->amount == p->amountOnSale;
            p->amountOnSale = more(p->amountOnSale, 37);
            if (together) p->amount = p->amountOnSale;
            for (SkuItem& s : p->skus) {
                s.canBookCount = more(s.canBookCount, 37);
                for (SkuItem& c : s.children) c.canBookCount = more(c.canBookCount, 37);
            }
            break;
        }
        case OfferChange::SkuAdded: {
            SkuItem added;
            if (p->skus.empty()) {
                added = {"3216", "新款", "", p->retailPrice, p->retailPrice, "10", "0", {}};
            } else {
                std::vector<SkuItem>& level = p->skus.back().children.empty() ? p->skus : p->skus.back().children;
                added = level.back();
                added.value += "新款";
            }
            added.specId = "added" + p->offerId;
            if (!p->skus.empty() && !p->skus.back().children.empty()) {
                p->skus.back().children.push_back(added);
            } else {
                p->skus.push_back(added);
            }
            break;
        }
        case OfferChange::SkuRemoved:
            if (p->skus.empty()) return false;
            if (p->skus.back().children.size() > 1) {
                p->skus.back().children.pop_back();
            } else {
                const std::string value = p->skus.back().value;
                p->skus.pop_back();
                std::erase_if(p->skuPictures, [&](const SkuPicture& s) { return s.name == value; });
            }
            if (p->skus.empty()) p->skuKind = SkuKind::None;
            break;
        case OfferChange::TakenDown:
            p->takenDown = true;
            break;
    }
    return true;
}

MarketplaceSim::MarketplaceSim() : impl_(std::make_unique<Impl>()) {}

MarketplaceSim::~MarketplaceSim() {
    stop();
}

int MarketplaceSim::Impl::bind(httplib::Server& s, int wanted) {
    // A hanging answer holds a thread while its client waits for it.
    s.new_task_queue = [] { return new httplib::ThreadPool(64); };
    // Idle kept-alive connections hold a thread too; keep stop prompt.
    s.set_keep_alive_timeout(1);
    // Headers and body go out in separate writes; without this a kept-alive connection
    // waits for the client's delayed acknowledgement on every answer.
    s.set_tcp_nodelay(true);
    // httplib's default adds SO_REUSEPORT, which lets a second server share a busy port.
    auto listening = std::make_shared<socket_t>(INVALID_SOCKET);
    s.set_socket_options([listening](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        *listening = sock;
    });
    // Routing runs before a request's body is read: a POST goes on to the route, which
    // has its form body.
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (req.method == "POST") return httplib::Server::HandlerResponse::Unhandled;
        handle(req, res);
        return httplib::Server::HandlerResponse::Handled;
    });
    s.Post(".*", [this](const httplib::Request& req, httplib::Response& res) { handle(req, res); });
    int bound = wanted;
    if (bound == 0) {
        bound = s.bind_to_any_port("127.0.0.1");
    } else if (!s.bind_to_port("127.0.0.1", bound)) {
        bound = -1;
    }
    if (bound <= 0) return -1;
    // httplib listens with a backlog of 5: twenty clients connecting at once would see
    // their connections dropped and retried a second later.
    if (*listening != INVALID_SOCKET) ::listen(*listening, SOMAXCONN);
    return bound;
}

namespace {

// Serves on a bound server in its own thread; returns once stop() can reach it.
void run_server(httplib::Server& s, std::thread& thread, std::atomic<bool>& done) {
    done = false;
    thread = std::thread([&s, &done] {
        s.listen_after_bind();
        done = true;
    });
    while (!s.is_running() && !done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

int MarketplaceSim::start(const SimOptions& options) {
    Impl& d = *impl_;
    if (d.server) return -1;
    d.options = options;
    d.catalogue = Catalogue::generate({options.seed, options.shops, options.productsPerShop,
                                       options.keys, options.mainPictures,
                                       options.descriptionPictures, options.itemsPerPage,
                                       options.hostile, options.claimedPages,
                                       options.sharedDescriptionPictures,
                                       options.sharedMainPicture, options.currentModelValues});
    d.register_pictures();
    d.reset_stats();
    d.platform.reset(&d.catalogue, options.tokenLifetimeSeconds, options.refreshLifetimeSeconds,
                     options.seed);
    {
        std::lock_guard<std::mutex> lock(d.stopMutex);
        d.stopping = false;
    }

    std::unique_ptr<httplib::Server> tlsServer;
    std::string caFile;
    if (options.tls) {
        TlsIdentity identity = make_tls_identity(options.tlsFolder);
        if (!identity.certificate) return -1;
        tlsServer = std::make_unique<httplib::SSLServer>(identity.certificate.get(), identity.key.get());
        if (!tlsServer->is_valid()) return -1;
        caFile = identity.caFile;
    }
    auto server = std::make_unique<httplib::Server>();
    const int port = d.bind(*server, options.port);
    if (port <= 0) return -1;
    d.port = port;
    d.tlsPort = -1;
    if (tlsServer) {
        d.tlsPort = d.bind(*tlsServer, 0);
        if (d.tlsPort <= 0) return -1;
        d.caFile = caFile;
        d.tlsServer = std::move(tlsServer);
        run_server(*d.tlsServer, d.tlsListener, d.tlsListenerDone);
    }
    d.server = std::move(server);
    run_server(*d.server, d.listener, d.listenerDone);
    return port;
}

void MarketplaceSim::stop() {
    Impl& d = *impl_;
    if (!d.server) return;
    {
        std::lock_guard<std::mutex> lock(d.stopMutex);
        d.stopping = true;
    }
    d.stopWake.notify_all();
    d.server->stop();
    if (d.tlsServer) d.tlsServer->stop();
    d.shut_connections();
    if (d.listener.joinable()) d.listener.join();
    if (d.tlsListener.joinable()) d.tlsListener.join();
    d.server.reset();
    d.tlsServer.reset();
    d.tlsPort = -1;
}

void MarketplaceSim::hold_requests(std::string kind, std::string target_part) {
    Impl& d = *impl_;
    std::lock_guard<std::mutex> lock(d.stopMutex);
    d.gateClosed = true;
    d.gateKind = std::move(kind);
    d.gatePart = std::move(target_part);
}

void MarketplaceSim::release_requests() {
    Impl& d = *impl_;
    {
        std::lock_guard<std::mutex> lock(d.stopMutex);
        d.gateClosed = false;
    }
    d.stopWake.notify_all();
}

bool MarketplaceSim::wait_held(int n, std::chrono::seconds limit) {
    Impl& d = *impl_;
    std::unique_lock<std::mutex> lock(d.stopMutex);
    return d.heldChanged.wait_for(lock, limit, [&] { return d.held >= n; });
}

int MarketplaceSim::held_count() const {
    std::lock_guard<std::mutex> lock(impl_->stopMutex);
    return impl_->held;
}

int MarketplaceSim::port() const {
    return impl_->port;
}

bool MarketplaceSim::change_offer(std::string_view offerId, OfferChange change) {
    return impl_->change_offer(offerId, change);
}

int MarketplaceSim::tls_port() const {
    return impl_->tlsPort;
}

std::string MarketplaceSim::ca_file() const {
    return impl_->caFile;
}

IssuedToken MarketplaceSim::issue_token(std::string_view appkey, int lifetimeSeconds) {
    return impl_->platform.issue_token(appkey, lifetimeSeconds);
}

void MarketplaceSim::expire_access_tokens() {
    impl_->platform.expire_access_tokens();
}

void MarketplaceSim::set_refusing_refresh(bool refusing) {
    impl_->platform.set_refusing_refresh(refusing);
}

void MarketplaceSim::set_offer_status(std::string offerId, std::string status) {
    impl_->platform.set_offer_status(std::move(offerId), std::move(status));
}

void MarketplaceSim::drop_relationships() {
    impl_->platform.drop_relationships();
}

int MarketplaceSim::relationship_size(std::string_view appkey) const {
    return impl_->platform.relationship_size(appkey);
}

const Catalogue& MarketplaceSim::catalogue() const {
    return impl_->catalogue;
}

std::string MarketplaceSim::stats_text() const {
    return impl_->stats_text();
}

std::vector<MarketplaceSim::SeenRequest> MarketplaceSim::requests_seen() const {
    const Impl& d = *impl_;
    std::lock_guard<std::mutex> lock(d.statsMutex);
    std::vector<SeenRequest> seen;
    for (const auto& [where, t] : d.targets) seen.push_back({kind_name(t.kind), where.first, where.second, t.count});
    return seen;
}

void MarketplaceSim::reset_stats() {
    impl_->reset_stats();
}

std::string MarketplaceSim::site_ini() const {
    const std::string p = std::to_string(impl_->port);
    return "[SITE]\r\n"
           "config_server=http://config.localhost:" +
           p +
           "/\r\n"
           "gateway_host=gw.localhost:" +
           p +
           "\r\n"
           "wholesale_detail_host=detail.localhost:" +
           p +
           "\r\n"
           "mall_detail_host=detail.tmall.localhost:" +
           p +
           "\r\n"
           "item_host=item.localhost:" +
           p +
           "\r\n"
           "example_shop=http://shop1.localhost:" +
           p + "/\r\n";
}

std::string MarketplaceSim::site_ini(std::string_view profile) const {
    const Impl& d = *impl_;
    const bool today = profile != "offer.get";
    const bool secure = today && d.tlsPort > 0;
    std::string ini = site_ini();
    const std::string plain = "gateway_host=gw.localhost:" + std::to_string(d.port) + "\r\n";
    if (secure) {
        ini.replace(ini.find(plain), plain.size(),
                    "gateway_host=gw.localhost:" + std::to_string(d.tlsPort) + "\r\n");
    }
    ini += "product_api=" + std::string(profile) + "\r\n";
    if (today && !secure) ini += "gateway_scheme=http\r\n";
    ini += "picture_host=" + site_address("img", d.port) + "/\r\n";
    if (secure) {
        ini += "ca_file=" + d.caFile + "\r\n";
        ini += "authorize_url=https://auth.localhost:" + std::to_string(d.tlsPort) + "/oauth/authorize\r\n";
    } else {
        ini += "authorize_url=" + site_address("auth", d.port) + "/oauth/authorize\r\n";
    }
    return ini;
}

}  // namespace vq::sim
