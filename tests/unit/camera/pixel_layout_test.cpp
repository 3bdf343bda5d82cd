// What the host stores of each pixel format: rows of pixel_layouts.txt.
#include <gtest/gtest.h>

#include <sstream>

#include "PixelLayout.h"
#include "TestData.h"

TEST(PixelLayout, MatchesWhatTheHostStores) {
    for (const auto& [format, expected] : Rows("pixel_layouts.txt")) {
        const auto layout = KZRGENICAM::detail::PixelLayoutOf(std::stoul(format, nullptr, 16));
        std::ostringstream got;
        got << layout.supported << " " << layout.channels << " " << layout.bitsPerChannel << " "
            << layout.bytesPerPixel;
        EXPECT_EQ(got.str(), expected) << format;
    }
}
