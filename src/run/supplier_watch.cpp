#include "run/supplier_watch.hpp"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "api/offer_extraction.hpp"
#include "model/list_file.hpp"
#include "output/package_check.hpp"
#include "output/package_layout.hpp"
#include "output/package_writer.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"

namespace vq {
namespace {

// Equal as numbers when both are ("12.3" and "12.30"), else as texts.
bool same_value(const std::string& a, const std::string& b) {
    if (a == b) return true;
    char* endA = nullptr;
    char* endB = nullptr;
    const double x = std::strtod(a.c_str(), &endA);
    const double y = std::strtod(b.c_str(), &endB);
    return !a.empty() && !b.empty() && *endA == '\0' && *endB == '\0' && x == y;
}

bool same_ranges(const std::vector<PriceRange>& a, const std::vector<PriceRange>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!same_value(a[i].startQuantity, b[i].startQuantity) || !same_value(a[i].price, b[i].price))
            return false;
    }
    return true;
}

std::string first_price(const SourceEntry& e) {
    return e.priceRanges.empty() ? e.retailPrice : e.priceRanges.front().price;
}

}  // namespace

ProductChange compare_offer(const SourceEntry& old, const OfferFetch& fetch, const SourceEntry* fresh) {
    ProductChange c;
    c.offerId = old.offerId;
    c.title = old.title;
    if (fresh == nullptr) {
        (fetch.gone ? c.gone : c.failed) = true;
        c.reason = fetch.failureText.empty() ? std::string("未能获取") : gbk_to_utf8(fetch.failureText);
        return c;
    }
    if (old.fromPackage) {
        // Only what the package holds: its own prices, the amount on sale where it has one.
        c.price = !old.priceRanges.empty() ? !same_ranges(old.priceRanges, fresh->priceRanges)
                                           : !old.retailPrice.empty() && !same_value(old.retailPrice, fresh->retailPrice);
        c.stock = !old.amountOnSale.empty() && !same_value(old.amountOnSale, fresh->amountOnSale);
        c.priceOld = first_price(old);
        c.priceNew = first_price(*fresh);
        c.listingPriceNew = c.priceNew;
        c.stockOld = old.amountOnSale;
        c.stockNew = fresh->amountOnSale;
        return c;
    }
    std::map<std::string, const SourceSku*> before, after;
    for (const SourceSku& s : old.skus) before[s.specId] = &s;
    for (const SourceSku& s : fresh->skus) after[s.specId] = &s;
    std::string skuText;
    const auto note = [&](const std::string& text) { skuText += (skuText.empty() ? "" : "；") + text; };
    bool skuPrice = false, skuStock = false;
    for (const SourceSku& s : fresh->skus) {
        const auto was = before.find(s.specId);
        if (was == before.end()) {
            c.skus = true;
            note("新增 " + s.specId);
            continue;
        }
        if (!same_value(was->second->price, s.price)) {
            skuPrice = true;
            note(s.specId + " 价格 " + was->second->price + " → " + s.price);
        }
        skuStock = skuStock || !same_value(was->second->amount, s.amount);
    }
    for (const SourceSku& s : old.skus) {
        if (after.count(s.specId) == 0) {
            c.skus = true;
            note("取消 " + s.specId);
        }
    }
    c.skuText = skuText;
    c.price = skuPrice || !same_value(old.retailPrice, fresh->retailPrice) ||
              !same_ranges(old.priceRanges, fresh->priceRanges);
    c.stock = skuStock || !same_value(old.amountOnSale, fresh->amountOnSale);
    c.priceOld = first_price(old);
    c.priceNew = first_price(*fresh);
    c.listingPriceNew = apply_price_rule(c.priceNew, price_rule_of(old)).text;
    c.stockOld = old.amountOnSale;
    c.stockNew = fresh->amountOnSale;
    return c;
}

WatchReport watch_supplier(const std::vector<SourceEntry>& entries, const WatchPorts& ports) {
    WatchReport report;
    const int total = static_cast<int>(entries.size());
    std::vector<std::optional<ProductChange>> results(entries.size());
    std::atomic<int> next{0}, done{0};
    std::atomic<bool> stopped{false}, ended{false};
    std::mutex refusalMutex;
    const Clock& clock = ports.clock ? *ports.clock : system_clock();
    std::mutex logMutex;
    const auto log = [&](const std::string& line) {
        if (!ports.log) return;
        std::lock_guard lock(logMutex);
        ports.log->append_log(log_time_stamp(clock) + " " + line);
    };
    const auto keep_going = [&] {
        if (ended) return false;
        return ports.token == nullptr || ports.token->wait_while_held();
    };

    const auto work = [&](int worker) {
        std::optional<CancelScope> scope;
        if (ports.token) scope.emplace(*ports.token);
        const std::unique_ptr<OfferSource> source = ports.sources->for_worker();
        for (int i = next++; i < total; i = next++) {
            if (!keep_going()) {
                stopped = !ended;
                return;
            }
            const SourceEntry& old = entries[static_cast<std::size_t>(i)];
            FetchTurn turn;
            turn.worker = worker;
            turn.productNumber = i + 1;
            turn.log = log;
            turn.proceed = keep_going;
            turn.credentials = ports.credentials;
            const OfferFetch fetched = source->fetch(old.offerId, turn);
            if (fetched.outcome == OfferFetch::Outcome::Stopped || thread_cancelled()) {
                stopped = !ended;
                return;
            }
            if (fetched.outcome == OfferFetch::Outcome::EndsRun) {
                std::lock_guard lock(refusalMutex);
                if (!ended.exchange(true)) report.refusal = fetched.runMessage;
                return;
            }
            std::optional<SourceEntry> fresh;
            std::shared_ptr<OfferRecord> record;
            OfferFetch outcome = fetched;
            if (fetched.outcome == OfferFetch::Outcome::Answered) {
                record = std::make_shared<OfferRecord>();
                record->offerId = old.offerId;
                source->read_offer(*record);
                if (record->title.empty()) {
                    // An empty or cut answer reads as an offer without values: that is no
                    // news of the supplier, and as a change it would empty the row's prices.
                    record.reset();
                    outcome.outcome = OfferFetch::Outcome::Failed;
                    outcome.failureText = "接口回答中没有宝贝信息（回答为空或不完整）"_gbk;
                } else {
                    fresh = source_entry(*record, {}, clock.now(), source->status(), ListingRules{});
                    fresh->address = old.address;
                    fresh->priceRule = old.priceRule;
                }
            }
            ProductChange change = compare_offer(old, outcome, fresh ? &*fresh : nullptr);
            change.now = fresh;
            if (change.price || change.stock || change.skus) change.fresh = std::move(record);
            results[static_cast<std::size_t>(i)] = std::move(change);
            const int finished = ++done;
            if (ports.progress) ports.progress(finished, total);
        }
    };
    std::vector<std::thread> threads;
    const int workers = std::max(1, std::min(ports.workers, std::max(total, 1)));
    for (int w = 1; w <= workers; ++w) threads.emplace_back(work, w);
    for (std::thread& t : threads) t.join();

    report.stopped = stopped;
    for (std::optional<ProductChange>& result : results) {
        if (!result) continue;
        ++report.checked;
        const ProductChange& c = *result;
        if (c.price || c.stock || c.skus || c.gone || c.failed) {
            report.changes.push_back(std::move(*result));
        } else {
            ++report.unchanged;
        }
    }
    return report;
}

PackageUpdate update_package(const std::string& tablePath, const std::string& packageFolder,
                             const std::vector<SourceEntry>& entries, const WatchReport& report) {
    PackageUpdate update;
    const FileRead read = read_regular_file(tablePath, kMostTableBytes);
    if (!read.ok()) {
        update.message = file_read_failure(read, kMostTableBytes, "数据包文件"_gbk, tablePath);
        return update;
    }
    const PackageTable table = read_package_table(read.bytes);
    const std::optional<PackageFormat> format =
        table.format == 0 ? std::nullopt : format_from_number(table.format);
    if (!format) {
        update.message = "不是数据包文件："_gbk + tablePath;
        return update;
    }
    // Rewritten only when it reads whole: a row read wrong would be written back wrong.
    if (const std::string why = append_refusal(*format, read.bytes); !why.empty()) {
        update.message = "数据包无法更新："_gbk + tablePath + "（"_gbk + why + "）"_gbk;
        return update;
    }
    const PackageLayout& layout = package_layout(*format);
    std::string text;
    if (layout.utf16) {
        text = utf16le_to_gbk(std::string_view(read.bytes).substr(2));
        if (layout.closingZeroUnit && !text.empty() && text.back() == '\0') text.pop_back();
    } else {
        text = read.bytes;
    }

    std::map<std::string, const ProductChange*> byId;
    for (const ProductChange& c : report.changes) byId[c.offerId] = &c;
    std::map<std::string, const SourceEntry*> sourceOf;
    for (const SourceEntry& e : entries) sourceOf[e.offerId] = &e;
    const std::size_t idColumn = static_cast<std::size_t>(layout.column_of(ColumnSource::OfferId));
    const std::size_t titleColumn = static_cast<std::size_t>(layout.column_of(ColumnSource::Title));
    const int priceColumn = layout.column_of(ColumnSource::RetailPrice);

    std::string rows;
    std::vector<ProductEntry> gone;
    for (std::size_t k = 0; k < table.records.size(); ++k) {
        const PackageRecord& record = table.records[k];
        const std::size_t end = k + 1 < table.records.size() ? table.records[k + 1].start : text.size();
        const std::string_view original = std::string_view(text).substr(record.start, end - record.start);
        const auto change = byId.find(record.fields[idColumn]);
        if (change == byId.end()) {
            rows.append(original);
            continue;
        }
        const ProductChange& c = *change->second;
        if (c.gone) {
            const auto entry = sourceOf.find(c.offerId);
            const bool known = entry != sourceOf.end();
            gone.push_back({record.fields[titleColumn],
                            priceColumn >= 0 ? record.fields[static_cast<std::size_t>(priceColumn)]
                                             : (known ? entry->second->retailPrice : std::string()),
                            known ? utf8_to_gbk(entry->second->address) : std::string(), c.offerId});
            ++update.removed;
        } else if (c.fresh) {
            // Under the rule the package was made with, in the package's own format.
            OfferRecord ruled = *c.fresh;
            const auto entry = sourceOf.find(c.offerId);
            apply_offer_rules(ruled, *format,
                              entry == sourceOf.end() ? ListingRules{} : price_rule_of(*entry->second));
            rows += updated_package_row(record.fields, ruled, *format);
            ++update.updated;
        } else {
            rows.append(original);
        }
    }

    // The gone offers are kept before the table loses them.
    if (!gone.empty()) {
        const std::string path = packageFolder + ".gone.txt";
        std::vector<ProductEntry> all = read_list_file(path).value_or(std::vector<ProductEntry>{});
        // An update tried again after a failed write names its offers once.
        for (const ProductEntry& entry : gone) {
            const bool listed = std::any_of(all.begin(), all.end(),
                                            [&](const ProductEntry& e) { return e.offerId == entry.offerId; });
            if (!listed) all.push_back(entry);
        }
        if (!write_list_file(path, all)) {
            update.message = "下架宝贝列表无法写入："_gbk + path + "；数据包没有改动"_gbk;
            return update;
        }
        update.goneListPath = path;
    }
    if (!write_file_atomic(tablePath, package_file_bytes(*format, rows))) {
        update.message = "数据包无法写入："_gbk + tablePath + "；数据包没有改动"_gbk;
        if (!update.goneListPath.empty()) {
            update.message += "（下架的宝贝已记入 "_gbk + update.goneListPath + "，再次更新时不会重复）"_gbk;
        }
        return update;
    }
    update.ok = true;
    // What the supplier says now, for the next watch.
    std::string sourceRows;
    for (const SourceEntry& e : entries) {
        const auto change = byId.find(e.offerId);
        if (change == byId.end() || change->second->failed) {
            sourceRows += source_line(e);
        } else if (!change->second->gone && change->second->now) {
            sourceRows += source_line(*change->second->now);
        }
    }
    if (!write_file_atomic(source_file_path(packageFolder), source_file_bytes(std::nullopt, sourceRows))) {
        update.warning = "货源记录无法写入："_gbk + source_file_path(packageFolder) +
                         "（数据包已更新；下次检查会再次列出这些变化）"_gbk;
    }
    return update;
}

std::string changes_file_path(const std::string& packageFolder) { return packageFolder + ".changes.tsv"; }

std::string changes_file_bytes(const std::vector<ProductChange>& changes) {
    std::string out = "\xEF\xBB\xBF" "offer_id\t标题\t变化\t旧价格\t新价格\t新售价\t旧库存\t新库存\t规格\t说明\n";
    for (const ProductChange& c : changes) {
        std::string kinds;
        const auto kind = [&](bool on, const char* name) {
            if (on) kinds += (kinds.empty() ? "" : "、") + std::string(name);
        };
        kind(c.price, "价格");
        kind(c.stock, "库存");
        kind(c.skus, "规格");
        kind(c.gone, "下架");
        kind(c.failed, "失败");
        const bool fetched = !c.gone && !c.failed;
        const std::string values[] = {c.offerId,
                                      c.title,
                                      kinds,
                                      c.price ? c.priceOld : "",
                                      c.price ? c.priceNew : "",
                                      c.price ? c.listingPriceNew : "",
                                      fetched && c.stock ? c.stockOld : "",
                                      fetched && c.stock ? c.stockNew : "",
                                      c.skuText,
                                      c.reason};
        std::string line;
        for (const std::string& v : values) line += (line.empty() ? "" : "\t") + tsv_field(v);
        out += line + "\n";
    }
    return out;
}

std::string watch_summary(const WatchReport& report, bool fromPackage) {
    int price = 0, stock = 0, skus = 0, gone = 0, failed = 0;
    for (const ProductChange& c : report.changes) {
        price += c.price;
        stock += c.stock;
        skus += c.skus;
        gone += c.gone;
        failed += c.failed;
    }
    const auto n = [](int v) { return std::to_string(v); };
    return "检查 "_gbk + n(report.checked) + " 个宝贝：价格变化 "_gbk + n(price) + "，库存变化 "_gbk + n(stock) +
           "，规格变化 "_gbk + n(skus) + "，下架 "_gbk + n(gone) + "，失败 "_gbk + n(failed) + "，未变 "_gbk +
           n(report.unchanged) +
           (fromPackage ? "（数据包没有货源记录：按数据包中的价格和数量比较）"_gbk : std::string());
}

}  // namespace vq
