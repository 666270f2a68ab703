// SPDX-License-Identifier: MIT
#include "display/x11/put_image_frames.hpp"

#include <ostream>

#include <gtest/gtest.h>

namespace glyphrain {
namespace {

struct BandCase {
    std::size_t max_request_bytes;
    std::uint16_t size;
    std::uint16_t rows;
};

void PrintTo(const BandCase& c, std::ostream* os) {
    *os << c.size << " px, at most " << c.max_request_bytes << " bytes";
}

class PutImageBands : public ::testing::TestWithParam<BandCase> {};

TEST_P(PutImageBands, WholeRowsThatFitTheRequestLength) {
    const BandCase& c = GetParam();
    EXPECT_EQ(rows_per_request(c.max_request_bytes, std::size_t{c.size} * 4, c.size), c.rows);
}

// 262,140 bytes is the core limit, 16,777,212 what BIG-REQUESTS gives on Xorg servers and 16,384
// the least any server may offer; a request is 24 bytes of header and 4 bytes per pixel.
INSTANTIATE_TEST_SUITE_P(Limits, PutImageBands,
                         ::testing::Values(BandCase{262140, 96, 96}, BandCase{262140, 255, 255},
                                           BandCase{262140, 256, 255}, BandCase{262140, 1024, 63},
                                           BandCase{16777212, 1024, 1024},
                                           BandCase{24 + 4 * 1024 * 1024, 1024, 1024},
                                           BandCase{24 + 4 * 1024 * 1024 - 4, 1024, 1023},
                                           BandCase{16384, 1024, 3}, BandCase{16, 1024, 1}));

} // namespace
} // namespace glyphrain
