#include "run/offer_pipeline.hpp"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

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

// A thread beside the worker that makes its requests to the gateway, so that the next
// product's answer can come while this product's pictures download; being one thread for
// the run, it keeps its connection to the gateway. It obeys the run's token as one holder
// with its worker. One job at a time.
class ProductPipeline::AnswerThread {
public:
    AnswerThread(const CancelToken* token, long group)
        : token_(token), thread_([this, token, group] { serve(token, group); }) {}
    ~AnswerThread() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        thread_.join();  // a job under way ends first: a stop aborts its request
    }
    AnswerThread(const AnswerThread&) = delete;
    AnswerThread& operator=(const AnswerThread&) = delete;

    void start(std::function<void()> job) {
        {
            std::lock_guard lock(mutex_);
            job_ = std::move(job);
        }
        changed_.notify_all();
    }
    // Until the job started last has ended. Meanwhile the worker is held when its helper is.
    void wait() {
        if (token_) token_->set_awaiting_helper(true);
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return !job_; });
        }
        if (token_) token_->set_awaiting_helper(false);
    }

private:
    void serve(const CancelToken* token, long group) {
        std::optional<CancelScope> scope;
        if (token) scope.emplace(*token, group, true);
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return quit_ || job_; });
            if (!job_) return;
            lock.unlock();
            job_();
            lock.lock();
            job_ = nullptr;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> job_;  // set while a job waits or runs
    bool quit_ = false;
    const CancelToken* token_;
    std::thread thread_;  // last: it starts once the rest is made
};

// The answer of the product after this one, fetched ahead: its list row as read when it
// was claimed, and the log lines of the fetch, written when the product begins.
struct ProductPipeline::Ahead {
    int n = 0;
    ProductEntry entry;
    std::vector<std::string> lines;
    OfferFetch fetched;
};

ProductPipeline::ProductPipeline(int worker, const RunEnvironment& environment)
    : worker_(worker), env_(environment) {
    if (!env_.sources) env_.sources = offer_get_sources(site_settings());
    source_ = env_.sources->for_worker();
    if (env_.picturesAhead) {
        try {
            answers_ = std::make_unique<AnswerThread>(env_.token, worker_);
        } catch (const std::system_error&) {
            // Without it the worker asks the gateway itself, one product after the other.
        }
    }
}

ProductPipeline::~ProductPipeline() = default;

ProductEntry ProductPipeline::list_entry(int n) const {
    return {env_.list->field(n - 1, kTitleColumn), env_.list->field(n - 1, kPriceColumn),
            env_.list->field(n - 1, kAddressColumn), env_.list->field(n - 1, kIdColumn)};
}

FetchTurn ProductPipeline::turn_for(int n, std::function<void(const std::string&)> log) {
    FetchTurn turn;
    turn.worker = worker_;
    turn.productNumber = n;
    turn.log = std::move(log);
    turn.proceed = [this] { return proceed(); };
    turn.credentials = env_.state->credentials();
    return turn;
}

OfferFetch ProductPipeline::fetch_now(std::string_view offerId, const ProductContext& context) {
    const FetchTurn turn =
        turn_for(context.productNumber, [&context](const std::string& line) { context.log_line(line); });
    if (!answers_) return source_->fetch(offerId, turn);
    OfferFetch fetched;
    answers_->start([&] { fetched = source_->fetch(offerId, turn); });
    answers_->wait();
    return fetched;
}

void ProductPipeline::fetch_ahead(int n) {
    auto ahead = std::make_shared<Ahead>();
    ahead->n = n;
    ahead->entry = list_entry(n);
    Ahead* held = ahead.get();
    FetchTurn turn = turn_for(n, [held](const std::string& line) { held->lines.push_back(line); });
    ahead_ = ahead;
    answers_->start([this, ahead, turn = std::move(turn)] {
        ahead->fetched = source_->fetch(ahead->entry.offerId, turn);
    });
}

int ProductPipeline::credential_cursor() const {
    return source_->credential_cursor();
}

bool ProductPipeline::proceed() const {
    // A picture the disk refused ends the run: no step after it would fare better.
    if (env_.writeTrouble && env_.writeTrouble->seen()) return false;
    return env_.token == nullptr || env_.token->wait_while_held();
}

std::optional<std::string> ProductPipeline::process_product(int n,
                                                            const std::function<int()>& claim_next) {
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

    // The answer fetched ahead for this product, if any: no other can be waiting.
    std::shared_ptr<Ahead> answered = std::move(ahead_);
    if (answered && answered->n != n) {
        answers_->wait();
        answered.reset();
    }
    OfferRecord record;
    record.productNumber = n;
    lastEntry_ = answered ? answered->entry : list_entry(n);
    record.offerId = lastEntry_.offerId;
    record.listTitle = lastEntry_.title;
    lastProduct_ = n;
    lastFailedPictures_ = 0;
    lastKeyRefusal_.clear();
    runEnd_.clear();
    lastSourceLine_.clear();

    context.log_line("线程："_gbk + t + "  开始下载 第："_gbk + counter + " 个宝贝:"_gbk +
                     record.listTitle + "\r\n");
    if (!proceed()) return std::nullopt;
    OfferFetch fetched;
    if (answered) {
        answers_->wait();
        for (const std::string& line : answered->lines) context.log_line(line);
        fetched = answered->fetched;
    } else {
        fetched = fetch_now(record.offerId, context);
    }
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
    // The source is done with this answer: the next one may come while the pictures do.
    if (claim_next && answers_) {
        if (const int next = claim_next(); next > 0) fetch_ahead(next);
    }

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
