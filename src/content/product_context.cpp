#include "content/product_context.hpp"

namespace vq {

void ProductContext::report_unwritable(int error, std::string_view gbk_path) const {
    if (writeTrouble) writeTrouble->report(error, std::string(gbk_path));
}

void ProductContext::log_line(std::string_view text) const {
    if (!log) return;
    std::string line = log_time_stamp(clock ? *clock : system_clock());
    line.append(text);
    log->append_log(line);
}

}  // namespace vq
