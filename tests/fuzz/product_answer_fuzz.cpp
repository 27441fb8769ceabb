// libFuzzer target: any bytes read as a detail answer of either shape, an error answer or a
// token answer give a result without a crash, and what they give is consistent.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "api/product_answer.hpp"
#include "fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    for (const vq::ProductAnswerShape shape :
         {vq::ProductAnswerShape::Cross, vq::ProductAnswerShape::Fenxiao}) {
        vq::OfferRecord record;
        const vq::ProductAnswer answer =
            vq::read_product_answer(body, 200, shape, "https://cbu01.alicdn.com/", record);
        if (answer.outcome == vq::ProductAnswer::Outcome::Failed) {
            FUZZ_CHECK(!answer.error.message.empty());
        }
        for (const std::string& address : record.mainPictureAddresses) {
            FUZZ_CHECK(address.empty() || address.find("://") != std::string::npos);
        }
    }
    if (const auto error = vq::read_platform_error(body, 401)) FUZZ_CHECK(!error->message.empty());
    const vq::TokenReading token = vq::read_token_answer(body, 200);
    FUZZ_CHECK(token.token ? !token.token->accessToken.empty() : !token.error.message.empty());
    vq::parse_platform_time(body);
    return 0;
}
