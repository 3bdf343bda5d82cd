#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "QRVData.h"

#if defined(__SANITIZE_ADDRESS__)
// The image must report a failed allocation as false; AddressSanitizer would
// otherwise abort on the deliberately impossible request instead of returning null.
// The runtime looks the hook up dynamically, so it must stay visible.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
#endif

namespace {

struct Format {
    const char* name;
    int width;
    int height;
    int channels;
    int bits;
    QRVImage::DataType type;
};

void PrintTo(const Format& f, std::ostream* os) {
    *os << f.name;
}

/// Bytes whose value depends on their position, so a shifted or partial copy shows.
std::vector<unsigned char> pattern(std::size_t size, unsigned seed = 1) {
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 31 + seed);
    return bytes;
}

class ImageFormats : public ::testing::TestWithParam<Format> {};

TEST_P(ImageFormats, CopiesPackedPixelsWithLayout) {
    const Format& f = GetParam();
    const std::size_t line = static_cast<std::size_t>(f.width) * f.channels * (f.bits / 8);
    std::vector<unsigned char> source = pattern(line * f.height);

    QRVImage image;
    ASSERT_TRUE(image.GenImageExt(source.data(), f.width, f.height, f.channels, f.bits, f.type));
    EXPECT_FALSE(image.IsEmpty());
    EXPECT_EQ(image.Width(), f.width);
    EXPECT_EQ(image.Height(), f.height);
    EXPECT_EQ(image.Channels(), f.channels);
    EXPECT_EQ(image.BitsPerChannel(), f.bits);
    EXPECT_EQ(image.GetDataType(), f.type);
    EXPECT_EQ(image.BytesPerLine(), line);
    ASSERT_EQ(image.DataSize(), source.size());
    EXPECT_NE(image.Data(), source.data());
    EXPECT_EQ(std::memcmp(image.Data(), source.data(), source.size()), 0);

    // The image owns its copy: the camera may reuse the frame buffer at once.
    const std::vector<unsigned char> before = source;
    source.assign(source.size(), 0);
    EXPECT_EQ(std::memcmp(image.Data(), before.data(), before.size()), 0);
}

INSTANTIATE_TEST_SUITE_P(PixelFormats, ImageFormats,
                         ::testing::Values(Format{"Mono8", 64, 48, 1, 8, QRVImage::Mono},
                                           Format{"Mono16", 33, 7, 1, 16, QRVImage::Mono},
                                           Format{"RGB8", 17, 5, 3, 8, QRVImage::Color},
                                           Format{"BayerRG8", 64, 48, 1, 8, QRVImage::Raw},
                                           Format{"RGBA16", 3, 2, 4, 16, QRVImage::Default},
                                           Format{"OnePixel", 1, 1, 1, 8, QRVImage::Default}),
                         [](const auto& tpi) { return std::string(tpi.param.name); });

TEST(QRVImageStorage, ReusesStorageUnlessTheSizeGrows) {
    std::vector<unsigned char> big = pattern(100 * 100);
    std::vector<unsigned char> small = pattern(10 * 10 * 3, 7);
    QRVImage image;
    ASSERT_TRUE(image.GenImageExt(big.data(), 100, 100, 1, 8, QRVImage::Mono));
    const unsigned char* storage = image.Data();
    ASSERT_TRUE(image.GenImageExt(small.data(), 10, 10, 3, 8, QRVImage::Color));
    EXPECT_EQ(image.Data(), storage);
    EXPECT_EQ(image.DataSize(), small.size());
    EXPECT_EQ(std::memcmp(image.Data(), small.data(), small.size()), 0);
    // Growing back to the first size still fits the storage.
    ASSERT_TRUE(image.GenImageExt(big.data(), 50, 100, 1, 16, QRVImage::Mono));
    EXPECT_EQ(image.Data(), storage);
    EXPECT_EQ(std::memcmp(image.Data(), big.data(), big.size()), 0);
    // Beyond it, the image grows.
    std::vector<unsigned char> bigger = pattern(120 * 100, 3);
    ASSERT_TRUE(image.GenImageExt(bigger.data(), 120, 100, 1, 8, QRVImage::Mono));
    EXPECT_EQ(image.DataSize(), bigger.size());
    EXPECT_EQ(std::memcmp(image.Data(), bigger.data(), bigger.size()), 0);
}

TEST(QRVImageCopy, CopiesAreDeepAndAssignmentGrowsAndShrinks) {
    std::vector<unsigned char> small = pattern(2 * 2);
    std::vector<unsigned char> big = pattern(16 * 16 * 2, 5);
    QRVImage b;
    ASSERT_TRUE(b.GenImageExt(big.data(), 16, 16, 1, 16, QRVImage::Mono));
    QRVImage copy(b);
    QRVImage a;
    ASSERT_TRUE(a.GenImageExt(small.data(), 2, 2, 1, 8, QRVImage::Mono));
    a = b;  // grows
    for (const QRVImage* image : {&copy, &a}) {
        EXPECT_NE(image->Data(), b.Data());
        EXPECT_EQ(image->DataSize(), big.size());
        EXPECT_EQ(image->Height(), 16);
        EXPECT_EQ(image->BitsPerChannel(), 16);
        EXPECT_EQ(image->GetDataType(), QRVImage::Mono);
    }

    ASSERT_TRUE(b.GenImageExt(small.data(), 2, 2, 1, 8, QRVImage::Raw));
    EXPECT_EQ(std::memcmp(copy.Data(), big.data(), big.size()), 0) << "copy shares the source";
    EXPECT_EQ(std::memcmp(a.Data(), big.data(), big.size()), 0) << "copy shares the source";
    a = b;  // shrinks
    EXPECT_EQ(a.DataSize(), small.size());
    EXPECT_EQ(a.Width(), 2);
    EXPECT_EQ(a.GetDataType(), QRVImage::Raw);
    EXPECT_EQ(std::memcmp(a.Data(), small.data(), small.size()), 0);

    QRVImage& self = b;
    b = self;
    EXPECT_EQ(b.DataSize(), small.size());
    EXPECT_EQ(std::memcmp(b.Data(), small.data(), small.size()), 0);

    // An empty image copies and assigns as empty.
    QRVImage emptyCopy{QRVImage()};
    a = QRVImage();
    for (const QRVImage* image : {&emptyCopy, &a}) {
        EXPECT_TRUE(image->IsEmpty());
        EXPECT_EQ(image->DataSize(), 0u);
        EXPECT_EQ(image->BytesPerLine(), 0u);
        EXPECT_EQ(image->Width(), 0);
    }
    EXPECT_EQ(emptyCopy.Data(), nullptr);
}

struct Rejected {
    const char* name;
    bool nullData;
    int width;
    int height;
    int channels;
    int bits;
};

void PrintTo(const Rejected& r, std::ostream* os) {
    *os << r.name;
}

class RejectedLayouts : public ::testing::TestWithParam<Rejected> {};

TEST_P(RejectedLayouts, LeaveImageUnchanged) {
    const Rejected& r = GetParam();
    std::vector<unsigned char> pixels = pattern(6 * 4 * 3);
    QRVImage image;
    ASSERT_TRUE(image.GenImageExt(pixels.data(), 6, 4, 3, 8, QRVImage::Color));
    const unsigned char* storage = image.Data();

    std::vector<unsigned char> other(64, 0xAB);
    EXPECT_FALSE(image.GenImageExt(r.nullData ? nullptr : other.data(), r.width, r.height,
                                   r.channels, r.bits, QRVImage::Mono));

    EXPECT_EQ(image.Data(), storage);
    EXPECT_EQ(image.Width(), 6);
    EXPECT_EQ(image.Height(), 4);
    EXPECT_EQ(image.Channels(), 3);
    EXPECT_EQ(image.BitsPerChannel(), 8);
    EXPECT_EQ(image.GetDataType(), QRVImage::Color);
    ASSERT_EQ(image.DataSize(), pixels.size());
    EXPECT_EQ(std::memcmp(image.Data(), pixels.data(), pixels.size()), 0);
}

// The sizes below are never read: the layout is refused before any copy.
INSTANTIATE_TEST_SUITE_P(
    Layouts, RejectedLayouts,
    ::testing::Values(
        Rejected{"NullData", true, 2, 2, 1, 8}, Rejected{"ZeroWidth", false, 0, 2, 1, 8},
        Rejected{"NegativeWidth", false, -2, 2, 1, 8}, Rejected{"ZeroHeight", false, 2, 0, 1, 8},
        Rejected{"NegativeHeight", false, 2, -1, 1, 8}, Rejected{"NoChannels", false, 2, 2, 0, 8},
        Rejected{"FiveChannels", false, 2, 2, 5, 8},
        Rejected{"NegativeChannels", false, 2, 2, -3, 8},
        Rejected{"TwelveBits", false, 2, 2, 1, 12}, Rejected{"ZeroBits", false, 2, 2, 1, 0},
        Rejected{"ThirtyTwoBits", false, 2, 2, 1, 32},
        // Fits size_t on 64-bit machines but no allocator can serve it.
        Rejected{"TooLargeToAllocate", false, INT_MAX, INT_MAX, 1, 8},
        // 2^31 * 2^31 * 4 * 2 bytes overflows a 64-bit size_t.
        Rejected{"SizeOverflow", false, INT_MAX, INT_MAX, 4, 16}),
    [](const auto& tpi) { return std::string(tpi.param.name); });

}  // namespace
