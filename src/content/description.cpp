#include "content/description.hpp"

#include <string>

#include "content/pictures.hpp"
#include "net/http_client.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"
#include "support/text.hpp"

namespace vq {

std::string rewrite_description_text(std::string_view text) {
    // The order matters: line breaks go only after the entities, so a break never joins an
    // entity together, and "&amp;" is undone last, once, so the seller's own "&amp;lt;"
    // stays the "&lt;" the seller wrote.
    const std::pair<std::string_view, std::string_view> steps[] = {
        {"&quot;", "\""},
        {",", "，"_gbk},
        {"&lt;", "<"},
        {"&gt;", ">"},
        {"&amp;nbsp;", " "},
        {"&amp;ldquo;", "“"_gbk},
        {"&amp;rdquo;", "”"_gbk},
        {"&amp;hellip;", "…"_gbk},
        {"&amp;mdash;", "—"_gbk},
        {"\r\n", ""},
        {"\n", ""},
        {"&apos;", "'"},
        {"&amp;", "&"},
    };
    std::string out(text);
    for (const auto& [what, with] : steps) {
        // Every pattern starts with a byte below 0x40, which is never the second byte of a
        // GBK character, so a plain byte search tells whether the step has work to do.
        if (out.find(what) != std::string::npos) out = replace_all(out, what, with);
    }
    return out;
}

std::string percent_encode_gbk(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (const unsigned char c : text) {
        out += '%';
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

std::string product_folder_name(std::string_view title) {
    // The file system's limit for one name, in the bytes of its own encoding (UTF-8), where
    // a Chinese character takes three bytes against GBK's two.
    constexpr std::size_t kMostNameBytes = 255;
    std::string out;
    out.reserve(title.size());
    std::size_t native_bytes = 0;
    for (std::size_t i = 0; i < title.size();) {
        const std::size_t length = gbk_char_length(title, i);
        const char c = title[i];
        const bool dropped = length == 1 && (c == '/' || c == '\\' || c == '.' || c == '%' ||
                                             c == ' ' || c == ':' || c == '"');
        if (!dropped) {
            const std::string_view character = title.substr(i, length);
            native_bytes += length == 1 ? 1 : gbk_to_utf8(character).size();
            if (native_bytes > kMostNameBytes) break;
            out.append(character);
        }
        i += length;
    }
    return out;
}

std::string local_picture_address(std::string_view path) {
    std::string out = "file://";
    out.reserve(out.size() + path.size());
    for (const char c : path) {
        if (c == '%') {
            out += "%25";
        } else if (c == '"') {
            out += "%22";
        } else {
            out += c;
        }
    }
    return out;
}

namespace {

constexpr std::string_view kChinesePattern = "([\\u4e00-\\u9fa5])";

}  // namespace

std::string picture_download_address(std::string_view address, DescriptionMatchers& matchers) {
    std::string result(address);
    // Pure ASCII holds no Chinese character; spares the matcher the common case.
    bool wide = false;
    for (const unsigned char c : address) wide = wide || c >= 0x80;
    if (wide) {
        RegexMatcher& chinese = matchers.chinese();
        const int k = chinese.find_all(address);
        for (int j = 1; j <= k; ++j) {
            const std::string character = chinese.group_text(j, 1);
            if (!character.empty())
                result = replace_all(result, character, percent_encode_gbk(character));
        }
    }
    return "http://" + replace_all(result, "amp;", "");
}

RegexMatcher& DescriptionMatchers::images() {
    // A pattern that does not compile finds nothing; it is not tried again.
    if (!imagesReady_) {
        images_.compile("<IMG .*?\"http://(.*?)\".*?>");
        imagesReady_ = true;
    }
    return images_;
}

RegexMatcher& DescriptionMatchers::backgrounds() {
    if (!backgroundsReady_) {
        backgrounds_.compile("background=\"http://(.*?)\"");
        backgroundsReady_ = true;
    }
    return backgrounds_;
}

RegexMatcher& DescriptionMatchers::chinese() {
    if (!chineseReady_) {
        chinese_.compile(kChinesePattern);
        chineseReady_ = true;
    }
    return chinese_;
}

namespace {

enum class Pass { Img, Background };

// One picture line: " 线程：" t head n "/" N middle i "/" m tail.
void log_picture(const ProductContext& context, std::string_view head, std::string_view middle,
                 int i, int m, std::string_view tail) {
    std::string line = " 线程："_gbk;
    line += std::to_string(context.worker);
    line += head;
    line += std::to_string(context.productNumber);
    line += '/';
    line += std::to_string(context.productCount);
    line += middle;
    line += std::to_string(i);
    line += '/';
    line += std::to_string(m);
    line += tail;
    context.log_line(line);
}

void log_downloading(const ProductContext& c, int i, int m) {
    log_picture(c, "  正在下载第:"_gbk, " 个宝贝 描述图片 "_gbk, i, m, "\r\n");
}

void log_skipped(const ProductContext& c, int i, int m) {
    log_picture(c, "  正在下载第:"_gbk, " 个宝贝 描述图片 "_gbk, i, m,
                "  非淘宝空间图片 已跳过\r\n"_gbk);
}

void log_empty(const ProductContext& c, std::string_view what, int i, int m) {
    log_picture(c, "  第:"_gbk, what, i, m, "\r\n");
}

// The reference a match stands for, exactly as the description writes it: the quote, the
// scheme in its own case, the address and the closing quote. Replacing this whole text
// leaves an address that merely starts the same (a.jpg and a.jpg_100x100.jpg) alone.
std::string matched_reference(const RegexMatcher& pictures, int i, const std::string& address) {
    const std::string whole = pictures.group_text(i, 0);
    const int at = find_text(whole, "\"http://", 1, true);
    const std::size_t length = 8 + address.size() + 1;
    if (at > 0 && static_cast<std::size_t>(at - 1) + length <= whole.size()) {
        std::string reference = whole.substr(static_cast<std::size_t>(at - 1), length);
        if (reference.back() == '"' && reference.compare(8, address.size(), address) == 0)
            return reference;
    }
    return "\"http://" + address + "\"";
}

// A picture's address as the answer writes it (its "&" as "&amp;"): the picture's file name
// and the addresses it is fetched from are made from that form.
std::string answer_form(const std::string& address) {
    return contains_text(address, "&") ? replace_all(address, "&", "&amp;") : address;
}

// One picture a pass found in the description, with every address the step may use.
struct PlannedPicture {
    std::string reference;  // the quoted address as the description writes it
    std::string address;    // the answer's form, which names the file
    std::string fetchAddress;     // as it is written, "&amp;" undone
    std::string encodedAddress;   // its Chinese characters percent-encoded too
    bool onTaobao = false;        // on Taobao's picture space
};

// What a pass will do, made once for the step and for the prefetch that predicts it: the
// folder the pictures go to (made now) and the pictures in their order.
struct PassPlan {
    std::string folder;
    std::vector<PlannedPicture> pictures;
};

PassPlan plan_pass(Pass pass, const OfferRecord& record, const ProductContext& context,
                   DescriptionMatchers& matchers) {
    PassPlan plan;
    RegexMatcher& pictures = pass == Pass::Img ? matchers.images() : matchers.backgrounds();
    const int m = pictures.find_all(record.description);
    if (m <= 0) return plan;
    plan.folder = context.packageFolder + "/" + product_folder_name(record.title);
    make_directory(context.packageFolder);
    make_directory(plan.folder);
    for (int i = 1; i <= m; ++i) {
        const std::string written = pictures.group_text(i, 1);
        PlannedPicture& picture = plan.pictures.emplace_back();
        picture.reference = matched_reference(pictures, i, written);
        picture.address = answer_form(written);
        picture.fetchAddress = "http://" + replace_all(picture.address, "amp;", "");
        picture.encodedAddress = picture_download_address(picture.address, matchers);
        picture.onTaobao = contains_text(picture.address, "taobao");
    }
    return plan;
}

void run_pass(Pass pass, OfferRecord& record, const ProductContext& context,
              DescriptionMatchers& matchers) {
    const PassPlan plan = plan_pass(pass, record, context, matchers);
    const int m = static_cast<int>(plan.pictures.size());
    const std::string& folder = plan.folder;
    std::string& description = record.description;
    for (int i = 1; i <= m; ++i) {
        const PlannedPicture& planned = plan.pictures[static_cast<std::size_t>(i - 1)];
        const std::string& reference = planned.reference;
        const std::string& address = planned.address;
        const std::string& fetch_address = planned.fetchAddress;
        // Read at every picture: the option may change while the product goes.
        const bool taobao_only = context.options && context.options->taobaoOnly.load();

        if (taobao_only && !planned.onTaobao) {
            log_skipped(context, i, m);
            continue;
        }
        log_downloading(context, i, m);

        // One fetch serves both the type and the file when both go to the same address.
        PictureSource& source = picture_source(context);
        PictureFetch got = source.fetch(fetch_address, folder);
        const std::string file = md5_text(address, true) + "." + picture_type(got);
        const std::string path = folder + "/" + file;
        // Still standing: not yet pointed at a local copy by an earlier match of this address.
        const auto standing = [&] { return contains_text(description, reference); };
        const auto failed = [&] {
            if (standing()) ++record.failedPictures;
        };
        // A fetched picture is renamed into place whole: two workers saving the same picture
        // at once leave one whole copy. One that had nowhere to go keeps its web address
        // rather than name a missing file. False when there was no picture at all.
        const auto keep = [&](PictureFetch& fetched) {
            if (fetched.fetched() && save_picture(fetched, path, context)) {
                description = replace_all(description, reference,
                                          "\"" + local_picture_address(path) + "\"");
                return true;
            }
            if (!fetched.fetched() && !fetched.unwritable()) return false;
            context.report_unwritable(fetched.fetched() ? fetched.file.error() : fetched.writeError,
                                      fetched.fetched() ? path : folder);
            log_empty(context, " 个宝贝 描述图片 无法写入文件 保留原图片地址 "_gbk, i, m);
            failed();
            return true;
        };
        const auto remove = [&] {
            failed();
            description = replace_all(description, reference, "\"\"");
        };

        // Only-Taobao pictures are fetched as they are written; the others with their
        // Chinese characters encoded, which is often the very same request.
        const std::string& download_address = taobao_only ? fetch_address : planned.encodedAddress;
        if (picture_wire_address(download_address) != picture_wire_address(fetch_address))
            got = source.fetch(download_address, folder);
        if (keep(got)) continue;
        switch (context.pictureFailurePolicy) {
            case FailurePolicy::Remove:
                remove();
                log_empty(context, " 个宝贝 描述图片 字节集为0 已经删除 "_gbk, i, m);
                break;
            case FailurePolicy::RetryThenRemove:
                log_empty(context, " 个宝贝 描述图片 字节集为0 正在重新下载 "_gbk, i, m);
                got = source.fetch(download_address, folder);
                if (!keep(got)) {
                    remove();
                    if (pass == Pass::Background)
                        log_empty(context,
                                  " 个宝贝 描述图片 字节集为0 重新下载失败===已经删除图片 "_gbk, i,
                                  m);
                }
                break;
            case FailurePolicy::None:
            case FailurePolicy::KeepAddress:  // keep the remote address
                failed();
                break;
        }
    }
}

}  // namespace

std::vector<std::pair<std::string, std::string>> expected_description_pictures(
    const OfferRecord& record, const ProductContext& context, DescriptionMatchers& matchers) {
    std::vector<std::pair<std::string, std::string>> expected;
    const bool taobao_only = context.options && context.options->taobaoOnly.load();
    for (const Pass pass : {Pass::Img, Pass::Background}) {
        const PassPlan plan = plan_pass(pass, record, context, matchers);
        for (const PlannedPicture& picture : plan.pictures) {
            if (taobao_only && !picture.onTaobao) continue;
            expected.emplace_back(picture.fetchAddress, plan.folder);
            if (taobao_only) continue;
            if (picture_wire_address(picture.encodedAddress) != picture_wire_address(picture.fetchAddress))
                expected.emplace_back(picture.encodedAddress, plan.folder);
        }
    }
    return expected;
}

void localize_description_pictures(OfferRecord& record, const ProductContext& context,
                                   DescriptionMatchers& matchers) {
    run_pass(Pass::Img, record, context, matchers);
    run_pass(Pass::Background, record, context, matchers);
}

}  // namespace vq
