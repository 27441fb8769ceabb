#include "api/product_api_source.hpp"

#include <unordered_map>

#include "api/product_answer.hpp"
#include "api/product_request.hpp"
#include "net/http_client.hpp"
#include "support/encoding.hpp"
#include "support/gbk_literal.hpp"

namespace vq {
namespace {

std::string number(long long value) { return std::to_string(value); }

std::string millis_now() {
    return number(std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count());
}

struct Exchange {
    ApiExchange answer;
    std::string failure;  // GBK, when nothing usable came
};

// The offer ids put into the listing relationship, in groups of the run's list order.
class RelationshipBook {
public:
    explicit RelationshipBook(const std::vector<std::string>& ids) {
        for (const std::string& id : ids) {
            if (!is_offer_id(id) || group_.count(id) > 0) continue;
            const int n = static_cast<int>(group_.size());
            group_[id] = n / kRelationshipBatch;
            if (n % kRelationshipBatch == 0) groups_.emplace_back();
            groups_.back().push_back(id);
        }
        pushed_.assign(groups_.size(), false);
    }

    // The ids to push before id can be asked for (its group, once); empty when done.
    std::vector<std::string> take_group_of(const std::string& id) {
        const auto found = group_.find(id);
        if (found == group_.end()) return {id};
        if (pushed_[static_cast<std::size_t>(found->second)]) return {};
        pushed_[static_cast<std::size_t>(found->second)] = true;
        return groups_[static_cast<std::size_t>(found->second)];
    }

    std::mutex mutex;  // held through a push, so a group goes out once

private:
    std::unordered_map<std::string, int> group_;
    std::vector<std::vector<std::string>> groups_;
    std::vector<bool> pushed_;
};

struct Shared {
    explicit Shared(ProductApiSetup& s)
        : site(s.site),
          app(s.app),
          keeper(s.site, s.app, s.token, s.tokenPath, s.now),
          book(s.offerIds) {}
    const SiteSettings site;
    const AppCredential app;
    TokenKeeper keeper;
    RelationshipBook book;
};

class ProductApiSource final : public OfferSource {
public:
    explicit ProductApiSource(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

    OfferFetch fetch(std::string_view offerIdView, const FetchTurn& turn) override {
        const std::string offerId(offerIdView);
        const std::string head = "线程："_gbk + number(turn.worker) + "  第"_gbk +
                                 number(turn.productNumber) + "个宝贝"_gbk;
        OfferFetch result;
        const auto fail = [&](const std::string& why) {
            turn.log(head + "下载失败："_gbk + why + "\r\n");
            result.failureText = why;
            return result;
        };
        if (!is_offer_id(offerId)) return fail("宝贝ID不是数字"_gbk);
        std::optional<TokenKeeper::Use> use = shared_->keeper.current();
        if (!use) return ends_run(result);

        const bool cross = shared_->site.product_api == ProductApi::CrossProductInfo;
        if (cross) {
            std::lock_guard lock(shared_->book.mutex);
            const std::vector<std::string> group = shared_->book.take_group_of(offerId);
            if (!group.empty() && !push_relationship(group, use, turn)) return ends_run(result);
        }

        bool renewed = false, relationMade = false, retried = false;
        for (;;) {
            const Exchange ex = call(cross ? kCrossProductInfo : kFenxiaoProductInfo,
                                     {{cross ? "productId" : "offerId", offerId}}, use->accessToken);
            if (thread_cancelled()) {
                result.outcome = OfferFetch::Outcome::Stopped;
                return result;
            }
            const bool serverTrouble =
                !ex.answer.answered || (ex.answer.status >= 500 && ex.answer.status <= 599);
            if (serverTrouble && !retried) {
                // One more try a moment later: a busy or restarting server often answers then.
                retried = true;
                turn.log(head + "下载失败！正在重试！\r\n"_gbk);
                if (!pause_unless_cancelled(std::chrono::milliseconds(500)) || !turn.proceed()) {
                    result.outcome = OfferFetch::Outcome::Stopped;
                    return result;
                }
                continue;
            }
            if (!ex.answer.answered) return fail(ex.failure);
            pending_ = OfferRecord();
            const ProductAnswer read =
                read_product_answer(ex.answer.body, ex.answer.status,
                                    cross ? ProductAnswerShape::Cross : ProductAnswerShape::Fenxiao,
                                    shared_->site.picture_host, pending_);
            if (read.outcome == ProductAnswer::Outcome::Ok) {
                status_ = read.status;
                result.outcome = OfferFetch::Outcome::Answered;
                return result;
            }
            if (read.outcome == ProductAnswer::Outcome::NotPublished) {
                result.gone = true;
                return fail("商品不在售（状态："_gbk + read.status + "），未复制"_gbk);
            }
            const PlatformError& error = read.error;
            if (error.tokenTrouble && !renewed) {
                renewed = true;
                use = shared_->keeper.renew_after(use->generation);
                if (!use) return ends_run(result);
                if (!turn.proceed()) break;
                continue;
            }
            if (error.noRelationship && cross && !relationMade) {
                relationMade = true;
                {
                    std::lock_guard lock(shared_->book.mutex);
                    if (!push_relationship({offerId}, use, turn)) return ends_run(result);
                }
                if (!turn.proceed()) break;
                continue;
            }
            if (error.keyRefused) {
                result.keyRefusal = "接口密钥被拒绝："_gbk + error.message +
                                    "（请检查应用的 AppKey 和密钥）"_gbk;
                turn.log(head + " "_gbk + result.keyRefusal + "\r\n");
                return result;
            }
            result.gone = says_offer_is_gone(error.code, error.message);
            return fail(error.message);
        }
        result.outcome = OfferFetch::Outcome::Stopped;
        return result;
    }

    void read_offer(OfferRecord& record) override {
        record.title = std::move(pending_.title);
        record.amount = std::move(pending_.amount);
        record.productUnitWeight = std::move(pending_.productUnitWeight);
        record.retailPrice = std::move(pending_.retailPrice);
        record.amountOnSale = std::move(pending_.amountOnSale);
        record.unit = std::move(pending_.unit);
        record.priceRanges = std::move(pending_.priceRanges);
        record.features = std::move(pending_.features);
        record.skus = std::move(pending_.skus);
        record.skuPictures = std::move(pending_.skuPictures);
        record.itemSkus = std::move(pending_.itemSkus);
        record.postCategryId = std::move(pending_.postCategryId);
        record.sendGoodsId = std::move(pending_.sendGoodsId);
        record.freightTemplateId = std::move(pending_.freightTemplateId);
        record.termOfferProcess = std::move(pending_.termOfferProcess);
        record.mainPictureAddresses = std::move(pending_.mainPictureAddresses);
    }

    std::string description() override { return pending_.description; }
    std::string status() const override { return status_; }

private:
    OfferFetch& ends_run(OfferFetch& result) {
        result.outcome = thread_cancelled() ? OfferFetch::Outcome::Stopped : OfferFetch::Outcome::EndsRun;
        result.runMessage = shared_->keeper.failure();
        return result;
    }

    Exchange call(std::string_view method, ApiFields fields, const std::string& token) const {
        fields.emplace_back("access_token", token);
        fields.emplace_back("_aop_timestamp", millis_now());
        const ApiCall c =
            build_api_call(shared_->site, method, shared_->app.appKey, shared_->app.appSecret, fields);
        Exchange ex;
        ex.answer = post_form(c.url, c.body, shared_->site.ca_file);
        if (!ex.answer.answered) {
            ex.failure = (ex.answer.certificateRefused ? "接口服务器的证书不被信任（请检查 site.ini 的 ca_file）："_gbk
                                                       : "无法连接接口服务器："_gbk) +
                         ex.answer.failure;
        }
        return ex;
    }

    // The ids into the relationship; false when the token is gone. A refused call is
    // logged and the run goes on: the offers answer for themselves.
    bool push_relationship(const std::vector<std::string>& ids, std::optional<TokenKeeper::Use>& use,
                           const FetchTurn& turn) {
        std::string list = "[";
        for (const std::string& id : ids) list += (list.size() > 1 ? "," : "") + id;
        list += "]";
        for (int attempt = 0; attempt < 2; ++attempt) {
            const Exchange ex = call(kSyncProductListPushed, {{"productIdList", list}}, use->accessToken);
            if (!ex.answer.answered) {
                if (!thread_cancelled()) turn.log("铺货关系未能建立："_gbk + ex.failure + "\r\n");
                return true;
            }
            const std::optional<PlatformError> error = read_platform_error(ex.answer.body, ex.answer.status);
            if (!error) return true;
            if (error->tokenTrouble && attempt == 0) {
                use = shared_->keeper.renew_after(use->generation);
                if (!use) return false;
                continue;
            }
            turn.log("铺货关系未能建立："_gbk + error->message + "\r\n");
            return true;
        }
        return true;
    }

    std::shared_ptr<Shared> shared_;
    OfferRecord pending_;
    std::string status_;
};

class Sources final : public OfferSources {
public:
    explicit Sources(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
    std::unique_ptr<OfferSource> for_worker() override {
        return std::make_unique<ProductApiSource>(shared_);
    }

private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace

std::shared_ptr<OfferSources> product_api_sources(ProductApiSetup setup) {
    return std::make_shared<Sources>(std::make_shared<Shared>(setup));
}

}  // namespace vq

namespace vq {

SourceChoice choose_offer_sources(const SiteSettings& site, const std::string& tokenPath,
                                  const std::vector<ApiCredential>& credentials,
                                  std::vector<std::string> offerIds, TokenKeeper::Now now) {
    SourceChoice choice;
    const std::string where = site.site_ini.empty() ? std::string("site.ini") : site.site_ini;
    if (!site.unknown_product_api.empty()) {
        choice.refusal = "接口方案无法识别："_gbk + site.unknown_product_api +
                         "（"_gbk + where + " 的 product_api 可为 offer.get、cross.productInfo 或 fenxiao.productInfo）"_gbk;
        return choice;
    }
    const std::string scheme = gateway_scheme_of(site);
    if (scheme != "http" && scheme != "https") {
        choice.refusal = "接口地址协议无法识别："_gbk + scheme + "（"_gbk + where +
                         " 的 gateway_scheme 可为 http 或 https）"_gbk;
        return choice;
    }
    if (site.product_api == ProductApi::OfferGet) {
        choice.sources = offer_get_sources(site);
        return choice;
    }
    const std::optional<ApiToken> token = tokenPath.empty() ? std::nullopt : load_api_token(tokenPath);
    if (!token) {
        choice.refusal = "接口方案 "_gbk + std::string(product_api_name(site.product_api)) +
                         " 需要先授权：请运行 vq auth，或在 配置 → 接口与授权 中授权。"_gbk;
        return choice;
    }
    ProductApiSetup setup;
    setup.site = site;
    // The token belongs to one app: its key pair signs the calls (a pasted token that names
    // none goes with the first pair).
    for (const ApiCredential& pair : credentials) {
        if (pair.appkey == token->appKey || token->appKey.empty()) {
            setup.app = {pair.appkey, pair.appsecret};
            break;
        }
    }
    if (setup.app.appKey.empty()) {
        choice.refusal = "授权属于应用 "_gbk + token->appKey +
                         "，但密钥中没有这个应用的 AppKey：请检查密钥文件，或重新授权。"_gbk;
        return choice;
    }
    const std::int64_t t = now();
    if (token->accessExpires > 0 && token->accessExpires <= t &&
        (token->refreshToken.empty() || (token->refreshExpires > 0 && token->refreshExpires <= t))) {
        choice.refusal = authorize_again_text();
        return choice;
    }
    setup.token = *token;
    setup.tokenPath = tokenPath;
    setup.offerIds = std::move(offerIds);
    setup.now = std::move(now);
    choice.sources = product_api_sources(std::move(setup));
    return choice;
}

}  // namespace vq
