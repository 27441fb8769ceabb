#include "run/offer_pipeline.hpp"

#include "api/offer_extraction.hpp"
#include "api/offer_request.hpp"
#include "content/pictures.hpp"
#include "output/package_writer.hpp"
#include "support/encoding.hpp"
#include "support/gbk_literal.hpp"

namespace vq {

namespace {

std::string number(int value) { return std::to_string(value); }

}  // namespace

ProductPipeline::ProductPipeline(int worker, const RunEnvironment& environment)
    : worker_(worker), env_(environment) {}

bool ProductPipeline::proceed() const {
    // A picture the disk refused ends the run: no step after it would fare better.
    if (env_.writeTrouble && env_.writeTrouble->seen()) return false;
    return env_.token == nullptr || env_.token->wait_while_held();
}

void ProductPipeline::load_answer(std::string_view body) {
    body = body.substr(0, body.find('\0'));
    // Converted exactly once: a document declaring UTF-8 is converted by the loader.
    if (xml_declares_utf8(body)) {
        answer_.load_bytes(body);
    } else {
        answer_.load_bytes(utf8_to_gbk(body));
    }
}

void ProductPipeline::request(std::string_view offer_id,
                              const std::vector<ApiCredential>& credentials) {
    ApiCredential credential;
    if (cursor_ >= 1 && cursor_ <= static_cast<int>(credentials.size())) {
        credential = credentials[static_cast<std::size_t>(cursor_ - 1)];
    }
    const std::string url = build_offer_request(offer_id, credential.appkey, credential.appsecret);
    load_answer(fetch_with_timeout(url));
}

std::optional<std::string> ProductPipeline::process_product(int n) {
    const std::vector<ApiCredential> credentials = env_.state->credentials();
    const int pairs = static_cast<int>(credentials.size());
    const auto advance = [&] {
        if (cursor_ == pairs) cursor_ = 0;
        ++cursor_;
    };

    ProductContext context;
    context.log = env_.log;
    context.clock = env_.clock;
    context.worker = worker_;
    context.productNumber = n;
    context.productCount = env_.state->productCount();
    context.packageFolder = env_.settings.packageFolder;
    context.outputFormat = env_.settings.outputFormat;
    context.pictureFailurePolicy = env_.settings.pictureFailurePolicy;
    context.keepPictures = env_.settings.rules.keepPictures;
    context.options = env_.options;
    context.millis = env_.millis;
    context.writeTrouble = env_.writeTrouble;

    const std::string t = number(worker_);
    const std::string counter = number(n) + "/" + number(context.productCount);

    advance();
    OfferRecord record;
    record.productNumber = n;
    record.offerId = env_.list->field(n - 1, kIdColumn);
    record.listTitle = env_.list->field(n - 1, kTitleColumn);
    lastEntry_ = {record.listTitle, env_.list->field(n - 1, kPriceColumn),
                  env_.list->field(n - 1, kAddressColumn), record.offerId};
    int attempts = 0;
    lastProduct_ = n;
    lastFailedPictures_ = 0;
    lastKeyRefusal_.clear();

    context.log_line("线程："_gbk + t + "  开始下载 第："_gbk + counter + " 个宝贝:"_gbk +
                     record.listTitle + "\r\n");
    if (!proceed()) return std::nullopt;
    request(record.offerId, credentials);

    // Every other credential gets one try while the answer reports an error. With no
    // credentials at all the loop still ends after one retry.
    const int most_attempts = pairs > 0 ? pairs : 1;
    while (!answer_.node_text("@1/msg").empty()) {
        if (!proceed()) return std::nullopt;
        advance();
        ++attempts;
        request(record.offerId, credentials);
        context.log_line("线程："_gbk + t + "  第"_gbk + number(n) + "个宝贝下载失败！正在重试！\r\n"_gbk);
        if (attempts == most_attempts) {
            cursor_ = 0;
            context.log_line("线程："_gbk + t + "  第"_gbk + number(n) +
                             "个宝贝下载失败！####################请联系工具开始页下方的在线客服！\r\n"_gbk);
            break;
        }
    }
    if (!proceed()) return std::nullopt;
    if (const std::string msg = answer_.node_text("@1/msg"); !msg.empty()) {
        // Every pair was refused: nothing of the product came, so no step after this has
        // anything to work on.
        const std::string code = answer_.node_text("@1/code");
        if (code == "gw.SignatureInvalid" || code == "gw.AppKeyNotExist") {
            lastKeyRefusal_ = "接口密钥被拒绝："_gbk + msg;
            context.log_line("线程："_gbk + t + "  第"_gbk + number(n) + "个宝贝 "_gbk +
                             lastKeyRefusal_ + "\r\n");
        }
        return std::nullopt;
    }

    context.log_line("线程："_gbk + t + "  开始获取 第："_gbk + counter + " 个宝贝   基本信息！\r\n"_gbk);
    extract_offer_fields(answer_, context.outputFormat, record, env_.settings.rules);
    context.log_line("线程："_gbk + t + "  获取成功 第："_gbk + counter + " 个宝贝   基本信息！\r\n"_gbk);
    for (const std::string& note : record.ruleNotes) {
        context.log_line("线程："_gbk + t + "  第："_gbk + counter + " 个宝贝 "_gbk + note + "\r\n");
    }

    context.log_line("线程："_gbk + t + "  开始获取 第："_gbk + counter + "  个宝贝   描述信息！\r\n"_gbk);
    record.description =
        rewrite_description_text(answer_.node_text(std::string(kAnswerPrefix) + "details"));
    context.log_line("线程："_gbk + t + "  成功获取 第："_gbk + counter + "  个宝贝   描述信息！\r\n"_gbk);

    if (!proceed()) return std::nullopt;
    const bool descriptionPictures =
        env_.options && env_.options->downloadDescriptionPictures.load();
    std::optional<PrefetchedPictures> ahead;
    if (env_.picturesAhead) {
        ahead.emplace(env_.pictureCache);
        context.pictures = &*ahead;
        expect_product_pictures(*ahead, record, context, descriptionPictures, matchers_);
    }
    if (descriptionPictures) {
        localize_description_pictures(record, context, matchers_);
        if (!proceed()) return std::nullopt;
    }
    download_main_pictures(record, context);
    lastFailedPictures_ = record.failedPictures;
    if (!proceed()) return std::nullopt;

    std::optional<std::string> row;
    if (!record.title.empty()) row = build_package_row(record, context.outputFormat);
    context.log_line(" 线程："_gbk + t + " 第："_gbk + counter + " 个宝贝 下载完成！\r\n"_gbk);
    return row;
}

}  // namespace vq
