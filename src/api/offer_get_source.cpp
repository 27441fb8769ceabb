#include "api/offer_extraction.hpp"
#include "api/offer_request.hpp"
#include "api/offer_source.hpp"
#include "net/http_client.hpp"
#include "support/encoding.hpp"
#include "support/gbk_literal.hpp"
#include "support/text.hpp"
#include "support/xml_document.hpp"

namespace vq {
namespace {

std::string number(int value) { return std::to_string(value); }

// Keeps the key pair cursor and the answer document from product to product.
class OfferGetSource final : public OfferSource {
public:
    explicit OfferGetSource(std::string gateway) : gateway_(std::move(gateway)) {}

    OfferFetch fetch(std::string_view offerId, const FetchTurn& turn) override {
        const std::vector<ApiCredential>& credentials = turn.credentials;
        const int pairs = static_cast<int>(credentials.size());
        const auto advance = [&] {
            if (cursor_ == pairs) cursor_ = 0;
            ++cursor_;
        };
        const std::string t = number(turn.worker);
        const std::string n = number(turn.productNumber);
        OfferFetch result;

        advance();
        int attempts = 0;
        request(offerId, credentials);
        // Every other credential gets one try while the answer reports an error. With no
        // credentials at all the loop still ends after one retry.
        const int most_attempts = pairs > 0 ? pairs : 1;
        while (!answer_.node_text("@1/msg").empty()) {
            if (!turn.proceed()) {
                result.outcome = OfferFetch::Outcome::Stopped;
                return result;
            }
            advance();
            ++attempts;
            request(offerId, credentials);
            turn.log("线程："_gbk + t + "  第"_gbk + n + "个宝贝下载失败！正在重试！\r\n"_gbk);
            if (attempts == most_attempts) {
                cursor_ = 0;
                turn.log("线程："_gbk + t + "  第"_gbk + n +
                         "个宝贝下载失败！####################请联系工具开始页下方的在线客服！\r\n"_gbk);
                break;
            }
        }
        if (!turn.proceed()) {
            result.outcome = OfferFetch::Outcome::Stopped;
            return result;
        }
        if (const std::string msg = answer_.node_text("@1/msg"); !msg.empty()) {
            // Every pair was refused: nothing of the product came.
            const std::string code = answer_.node_text("@1/code");
            result.gone = says_offer_is_gone(code, msg);
            result.failureText = code.empty() ? msg : code + " " + msg;
            if (code == "gw.SignatureInvalid" || code == "gw.AppKeyNotExist") {
                result.keyRefusal = "接口密钥被拒绝："_gbk + msg;
                turn.log("线程："_gbk + t + "  第"_gbk + n + "个宝贝 "_gbk + result.keyRefusal + "\r\n");
            }
            return result;
        }
        result.outcome = OfferFetch::Outcome::Answered;
        return result;
    }

    void read_offer(OfferRecord& record) override { read_offer_fields(answer_, record); }

    std::string description() override {
        return answer_.node_text(std::string(kAnswerPrefix) + "details");
    }

    int credential_cursor() const override { return cursor_; }

private:
    void request(std::string_view offerId, const std::vector<ApiCredential>& credentials) {
        ApiCredential credential;
        if (cursor_ >= 1 && cursor_ <= static_cast<int>(credentials.size())) {
            credential = credentials[static_cast<std::size_t>(cursor_ - 1)];
        }
        const std::string url =
            build_offer_request(gateway_, offerId, credential.appkey, credential.appsecret);
        load_answer(fetch_with_timeout(url));
    }

    void load_answer(std::string_view body) {
        body = body.substr(0, body.find('\0'));
        // Converted exactly once: a document declaring UTF-8 is converted by the loader.
        if (xml_declares_utf8(body)) {
            answer_.load_bytes(body);
        } else {
            answer_.load_bytes(utf8_to_gbk(body));
        }
    }

    const std::string gateway_;
    int cursor_ = 0;
    XmlDocument answer_;
};

}  // namespace

bool says_offer_is_gone(std::string_view code, std::string_view message) {
    const std::string c = to_lower_ascii(code);
    return contains_text(c, "notfound") || contains_text(c, "not_exist") || contains_text(c, "notexist") ||
           contains_text(message, "不存在"_gbk);
}

namespace {

class OfferGetSources final : public OfferSources {
public:
    explicit OfferGetSources(std::string gateway) : gateway_(std::move(gateway)) {}
    std::unique_ptr<OfferSource> for_worker() override {
        return std::make_unique<OfferGetSource>(gateway_);
    }

private:
    const std::string gateway_;
};

}  // namespace

std::shared_ptr<OfferSources> offer_get_sources(const SiteSettings& site) {
    return std::make_shared<OfferGetSources>(site.gateway_host);
}

}  // namespace vq
