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
    // The order matters: the quotes made from "&quot;" are doubled again at the end, and
    // line breaks go only after the entities, so a break never joins an entity together.
    const std::pair<std::string_view, std::string_view> steps[] = {
        {"&quot;", "\"\""},
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
        {"\"", "\"\""},
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
    std::string out;
    out.reserve(title.size());
    for (std::size_t i = 0; i < title.size();) {
        const std::size_t length = gbk_char_length(title, i);
        const char c = title[i];
        const bool dropped =
            length == 1 && (c == '/' || c == '\\' || c == '.' || c == '%' || c == ' ' || c == ':');
        if (!dropped) out.append(title.substr(i, length));
        i += length;
    }
    return out;
}

std::string picture_download_address(std::string_view address, RegexMatcher& chinese) {
    std::string result(address);
    // Pure ASCII holds no Chinese character; spares the matcher the common case.
    bool wide = false;
    for (const unsigned char c : address) wide = wide || c >= 0x80;
    if (wide) {
        chinese.compile("([\\u4e00-\\u9fa5])");
        const int k = chinese.find_all(address);
        for (int j = 1; j <= k; ++j) {
            const std::string character = chinese.group_text(j, 1);
            if (!character.empty())
                result = replace_all(result, character, percent_encode_gbk(character));
        }
    }
    return "http://" + replace_all(result, "amp;", "");
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

// The file name part of a picture's type, from a copy of its first bytes (the detector
// consumes what it is given).
std::string picture_type(const std::string& body) {
    std::string head = body.substr(0, 10);
    return detect_picture_type(head);
}

void run_pass(Pass pass, OfferRecord& record, const ProductContext& context,
              DescriptionMatchers& matchers) {
    RegexMatcher& pictures = matchers.pictures;
    pictures.compile(pass == Pass::Img ? "<IMG .*?\"http://(.*?)\".*?>"
                                       : "background=\"\"http://(.*?)\"\"");
    const int m = pictures.find_all(record.description);
    if (m <= 0) return;

    const std::string subfolder = product_folder_name(record.title);
    const std::string folder = context.packageFolder + "/" + subfolder;
    make_directory(context.packageFolder);
    make_directory(folder);
    const std::string local_prefix = "file://" + folder + "/";

    std::string& description = record.description;
    for (int i = 1; i <= m; ++i) {
        const std::string address = pictures.group_text(i, 1);
        const std::string remote = "http://" + address;
        const std::string fetch_address = "http://" + replace_all(address, "amp;", "");
        const bool taobao_only = context.options && context.options->taobaoOnly.load();

        if (taobao_only && !contains_text(address, "taobao")) {
            log_skipped(context, i, m);
            continue;
        }
        log_downloading(context, i, m);

        // One fetch serves both the type and the file when both go to the same address.
        std::string body = fetch_picture(fetch_address);
        const std::string file = md5_text(address, true) + "." + picture_type(body);
        const std::string local = local_prefix + file;
        const std::string path = folder + "/" + file;
        // Two workers may save the same picture at once; the rename leaves one whole copy.
        const auto keep = [&](const std::string& bytes) {
            description = replace_all(description, remote, local, true);
            write_file_atomic(path, bytes);
        };

        if (taobao_only) {
            keep(body);  // written whatever its length
            continue;
        }

        const std::string download_address = picture_download_address(address, matchers.chinese);
        if (download_address != fetch_address) body = fetch_picture(download_address);
        if (!body.empty()) {
            keep(body);
            continue;
        }
        switch (context.pictureFailurePolicy) {
            case 2:
                description = replace_all(description, remote, "", true);
                log_empty(context, " 个宝贝 描述图片 字节集为0 已经删除 "_gbk, i, m);
                break;
            case 3:
                log_empty(context, " 个宝贝 描述图片 字节集为0 正在重新下载 "_gbk, i, m);
                body = fetch_picture(download_address);
                if (!body.empty()) {
                    keep(body);
                } else {
                    description = replace_all(description, remote, "", true);
                    if (pass == Pass::Background)
                        log_empty(context,
                                  " 个宝贝 描述图片 字节集为0 重新下载失败===已经删除图片 "_gbk, i,
                                  m);
                }
                break;
            default:  // keep the remote address
                break;
        }
    }
}

}  // namespace

void localize_description_pictures(OfferRecord& record, const ProductContext& context,
                                   DescriptionMatchers& matchers) {
    run_pass(Pass::Img, record, context, matchers);
    run_pass(Pass::Background, record, context, matchers);
}

}  // namespace vq
