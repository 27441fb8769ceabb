#pragma once
// Description HTML: entity decoding and clean-up, and the description pictures
// fetched into a per-product folder with the description pointed at the local copies.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "content/product_context.hpp"
#include "model/batch_model.hpp"
#include "support/regex_matcher.hpp"

namespace vq {

// The description as the seller wrote it, from the answer's text: the answer's entities
// decoded once ("&quot;", "&lt;", "&gt;", "&apos;", "&amp;"), the seller's "&nbsp;",
// "&ldquo;", "&rdquo;", "&hellip;" and "&mdash;" as their characters, "," as the
// full-width comma, line breaks dropped. No package format's escaping.
std::string rewrite_description_text(std::string_view text);

// Every byte as "%" and two upper-case hex digits.
std::string percent_encode_gbk(std::string_view text);


// The product's picture sub-folder name: the title without "/", "\", ".", "%", " ", ":"
// and '"', cut at a whole character so that its file-system name fits in 255 bytes.
std::string product_folder_name(std::string_view title);

// "file://" + path with '%' and '"' percent-encoded, so the address can stand in a quoted
// attribute of the description.
std::string local_picture_address(std::string_view path);

// The matchers a worker keeps for its products' descriptions, each compiled the first time
// it is needed and then kept: a product has many pictures, a worker many products.
class DescriptionMatchers {
public:
    RegexMatcher& images();       // <IMG ... "http://address" ...>
    RegexMatcher& backgrounds();  // background="http://address"
    RegexMatcher& chinese();      // one Chinese character

private:
    RegexMatcher images_{RegexMatcher::Dialect::Script};
    RegexMatcher backgrounds_{RegexMatcher::Dialect::Script};
    RegexMatcher chinese_{RegexMatcher::Dialect::Script};
    bool imagesReady_ = false, backgroundsReady_ = false, chineseReady_ = false;
};

// The address a description picture is saved from: "http://" + address with its Chinese
// characters percent-encoded (GBK bytes) and every "amp;" removed.
std::string picture_download_address(std::string_view address, DescriptionMatchers& matchers);


// Downloads the pictures of record.description (IMG tags, then background attributes)
// into packageFolder/<product folder>/ and rewrites each reference (the whole quoted
// address the pattern matched, so overlapping addresses stay apart) to its "file://"
// local address, following the taobao-only option (read at every picture) and the failure
// policy of the context. A picture that arrives empty or cannot be saved counts in
// record.failedPictures. Logs its lines through the context. Never fails the product.
void localize_description_pictures(OfferRecord& record, const ProductContext& context,
                                   DescriptionMatchers& matchers);

// The pictures localize_description_pictures will fetch first, in its order, as address and
// folder: for each IMG and then background match that the taobao-only option (read now)
// does not skip, its address and, when that goes out differently, its download address. Makes
// the folders the step would make, so pictures can be fetched into them ahead of it.
std::vector<std::pair<std::string, std::string>> expected_description_pictures(
    const OfferRecord& record, const ProductContext& context, DescriptionMatchers& matchers);

}  // namespace vq
