#include "model/batch_model.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "support/gbk_literal.hpp"
#include "support/text.hpp"

namespace vq {

std::string refused_offer_id_note(std::string_view id) {
    // Whatever the id holds must not break the log line it is shown in.
    std::string shown = whole_characters(left_text(id, 40));
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    return "宝贝ID不是数字，已跳过："_gbk + shown;
}

std::vector<ApiCredential> BatchState::credentials() const {
    std::lock_guard lock(credentialsMutex_);
    return credentials_;
}

void BatchState::set_credentials(std::vector<ApiCredential> pairs) {
    std::lock_guard lock(credentialsMutex_);
    credentials_ = std::move(pairs);
}

std::string BatchState::outputFolder() const {
    std::lock_guard lock(outputMutex_);
    return outputFolder_;
}

std::string BatchState::packageName() const {
    std::lock_guard lock(outputMutex_);
    return packageName_;
}

void BatchState::set_output(std::string folder, std::string name) {
    std::lock_guard lock(outputMutex_);
    outputFolder_ = std::move(folder);
    packageName_ = std::move(name);
}

std::string BatchState::package_folder() const {
    std::lock_guard lock(outputMutex_);
    return outputFolder_ + packageName_;
}

ListingRules BatchState::rules() const {
    std::lock_guard lock(rulesMutex_);
    return rules_;
}

void BatchState::set_rules(ListingRules rules) {
    std::lock_guard lock(rulesMutex_);
    rules_ = std::move(rules);
}

void BatchState::reset_run(int product_count, int workers, int part_end) {
    std::lock_guard lock(runMutex_);
    counters_ = Counters{};
    counters_.productCount = product_count;
    counters_.workers = workers;
    counters_.partEnd = part_end > 0 ? std::min(part_end, product_count) : product_count;
    packageRows_.clear();
    sourceRows_.clear();
    failedProducts_.clear();
}

void BatchState::begin_part(int part_end) {
    std::lock_guard lock(runMutex_);
    counters_.partEnd = std::min(part_end, counters_.productCount);
    counters_.finishedWorkers = 0;
}

bool BatchState::remove_worker() {
    std::lock_guard lock(runMutex_);
    --counters_.workers;
    return counters_.finishedWorkers == counters_.workers;
}

int BatchState::claim_next_product() {
    std::lock_guard lock(runMutex_);
    if (counters_.nextProduct >= std::min(counters_.productCount, counters_.partEnd)) return 0;
    return ++counters_.nextProduct;
}

void BatchState::append_package_row(std::string_view row, int failed_pictures,
                                    std::string_view source_row) {
    std::lock_guard lock(runMutex_);
    packageRows_.append(row);
    sourceRows_.append(source_row);
    ++counters_.succeeded;
    counters_.failedPictures += failed_pictures;
}

void BatchState::record_skipped() {
    std::lock_guard lock(runMutex_);
    ++counters_.skipped;
}

bool BatchState::finish_worker() {
    std::lock_guard lock(runMutex_);
    return ++counters_.finishedWorkers == counters_.workers;
}

BatchState::Counters BatchState::complete() {
    std::lock_guard lock(runMutex_);
    counters_.failed = counters_.productCount - counters_.succeeded - counters_.skipped;
    return counters_;
}

BatchState::Counters BatchState::counters() const {
    std::lock_guard lock(runMutex_);
    return counters_;
}

int BatchState::productCount() const {
    std::lock_guard lock(runMutex_);
    return counters_.productCount;
}

std::string BatchState::take_package_rows() {
    std::lock_guard lock(runMutex_);
    std::string rows = std::move(packageRows_);
    packageRows_.clear();
    return rows;
}

void BatchState::restore_package_rows(std::string rows) {
    std::lock_guard lock(runMutex_);
    packageRows_.insert(0, rows);
}

std::string BatchState::take_source_rows() {
    std::lock_guard lock(runMutex_);
    std::string rows = std::move(sourceRows_);
    sourceRows_.clear();
    return rows;
}

void BatchState::restore_source_rows(std::string rows) {
    std::lock_guard lock(runMutex_);
    sourceRows_.insert(0, rows);
}

void BatchState::record_failed_product(int n, ProductEntry row) {
    std::lock_guard lock(runMutex_);
    failedProducts_.emplace_back(n, std::move(row));
}

std::vector<std::pair<int, ProductEntry>> BatchState::take_numbered_failed_products() {
    std::lock_guard lock(runMutex_);
    std::vector<std::pair<int, ProductEntry>> rows = std::move(failedProducts_);
    failedProducts_.clear();
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return rows;
}

std::vector<ProductEntry> BatchState::take_failed_products() {
    std::vector<ProductEntry> rows;
    for (auto& [n, row] : take_numbered_failed_products()) rows.push_back(std::move(row));
    return rows;
}

void WriteTrouble::report(int error, std::string gbk_path) {
    std::lock_guard lock(mutex_);
    if (seen_.load(std::memory_order_relaxed)) return;
    error_ = error;
    path_ = std::move(gbk_path);
    seen_.store(true, std::memory_order_release);
}

std::string WriteTrouble::message() const {
    std::lock_guard lock(mutex_);
    if (error_ == ENOSPC || error_ == EDQUOT) return "磁盘空间不足："_gbk + path_;
    std::string why = error_ == 0 ? std::string() : std::string(std::strerror(error_));
    return "无法写入文件："_gbk + path_ + (why.empty() ? std::string() : "（"_gbk + why + "）"_gbk);
}

}  // namespace vq
