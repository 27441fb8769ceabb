#pragma once
// Product rows compared field by field, with the failing row named.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/batch_model.hpp"

namespace vqtest {

// A row given in list-file order: title, offerId, price, address.
inline vq::ProductEntry row(std::string title, std::string offerId, std::string price,
                            std::string address) {
    return {std::move(title), std::move(price), std::move(address), std::move(offerId)};
}

inline void expect_rows(const std::vector<vq::ProductEntry>& got,
                        const std::vector<vq::ProductEntry>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i) + ", id " + want[i].offerId);
        EXPECT_EQ(got[i].title, want[i].title);
        EXPECT_EQ(got[i].offerId, want[i].offerId);
        EXPECT_EQ(got[i].price, want[i].price);
        EXPECT_EQ(got[i].address, want[i].address);
    }
}

}  // namespace vqtest
