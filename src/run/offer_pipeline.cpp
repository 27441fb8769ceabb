#include "run/offer_pipeline.hpp"

#include "api/offer_extraction.hpp"
#include "api/site_settings.hpp"
#include "content/pictures.hpp"
#include "output/package_writer.hpp"
#include "output/source_file.hpp"
#include "support/encoding.hpp"
#include "support/gbk_literal.hpp"

namespace vq {

namespace {

std::string number(int value) { return std::to_string(value); }

}  // namespace

ProductPipeline::ProductPipeline(int worker, const RunEnvironment& environment)
    : worker_(worker), env_(environment) {
    if (!env_.sources) env_.sources = offer_get_sources(site_settings());
    source_ = env_.sources->for_worker();
}

ProductPipeline::~ProductPipeline() = default;

int ProductPipeline::credential_cursor() const {
    return source_->credential_cursor();
}

bool ProductPipeline::proceed() const {
    // A picture the disk refused ends the run: no step after it would fare better.
    if (env_.writeTrouble && env_.writeTrouble->seen()) return false;
    return env_.token == nullptr || env_.token->wait_while_held();
}

std::optional<std::string> ProductPipeline::process_product(int n) {
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

    OfferRecord record;
    record.productNumber = n;
    record.offerId = env_.list->field(n - 1, kIdColumn);
    record.listTitle = env_.list->field(n - 1, kTitleColumn);
    lastEntry_ = {record.listTitle, env_.list->field(n - 1, kPriceColumn),
                  env_.list->field(n - 1, kAddressColumn), record.offerId};
    lastProduct_ = n;
    lastFailedPictures_ = 0;
    lastKeyRefusal_.clear();
    runEnd_.clear();
    lastSourceLine_.clear();

    context.log_line("线程："_gbk + t + "  开始下载 第："_gbk + counter + " 个宝贝:"_gbk +
                     record.listTitle + "\r\n");
    if (!proceed()) return std::nullopt;
    FetchTurn turn;
    turn.worker = worker_;
    turn.productNumber = n;
    turn.log = [&context](const std::string& line) { context.log_line(line); };
    turn.proceed = [this] { return proceed(); };
    turn.credentials = env_.state->credentials();
    const OfferFetch fetched = source_->fetch(record.offerId, turn);
    lastKeyRefusal_ = fetched.keyRefusal;
    if (fetched.outcome == OfferFetch::Outcome::EndsRun) runEnd_ = fetched.runMessage;
    if (fetched.outcome != OfferFetch::Outcome::Answered) return std::nullopt;

    context.log_line("线程："_gbk + t + "  开始获取 第："_gbk + counter + " 个宝贝   基本信息！\r\n"_gbk);
    source_->read_offer(record);
    // What the supplier gave, before the rules: the source file's row of this product.
    const std::string sourceLine =
        source_line(source_entry(record, lastEntry_.address,
                                 (context.clock ? *context.clock : system_clock()).now(), source_->status(),
                                 env_.settings.rules));
    apply_offer_rules(record, context.outputFormat, env_.settings.rules);
    context.log_line("线程："_gbk + t + "  获取成功 第："_gbk + counter + " 个宝贝   基本信息！\r\n"_gbk);
    for (const std::string& note : record.ruleNotes) {
        context.log_line("线程："_gbk + t + "  第："_gbk + counter + " 个宝贝 "_gbk + note + "\r\n");
    }

    context.log_line("线程："_gbk + t + "  开始获取 第："_gbk + counter + "  个宝贝   描述信息！\r\n"_gbk);
    record.description = rewrite_description_text(source_->description());
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
    if (!record.title.empty()) {
        row = build_package_row(record, context.outputFormat);
        lastSourceLine_ = sourceLine;
    }
    context.log_line(" 线程："_gbk + t + " 第："_gbk + counter + " 个宝贝 下载完成！\r\n"_gbk);
    return row;
}

}  // namespace vq
