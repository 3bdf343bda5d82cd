#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "QRVData.h"
#include "RowFile.h"

#if defined(__SANITIZE_ADDRESS__)
// The image must report a failed allocation as false; AddressSanitizer would
// otherwise abort on the deliberately impossible request instead of returning null.
// The runtime looks the hook up dynamically, so it must stay visible.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
#endif

namespace {

/// Bytes whose value depends on their position, so a shifted or partial copy shows.
std::vector<unsigned char> pattern(std::size_t size, unsigned seed = 1) {
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 31 + seed);
    return bytes;
}

std::vector<unsigned char> Content(const QRVImage& image) {
    return {image.Data(), image.Data() + image.DataSize()};
}

QRVImage::DataType TypeNamed(const std::string& name) {
    const std::pair<const char*, QRVImage::DataType> types[] = {{"Mono", QRVImage::Mono},
                                                                {"Color", QRVImage::Color},
                                                                {"Raw", QRVImage::Raw},
                                                                {"Default", QRVImage::Default}};
    for (const auto& [text, type] : types)
        if (name == text) return type;
    throw std::invalid_argument("no image type " + name);
}

class ImageLayouts : public ::testing::TestWithParam<qrvtest::SRow> {};

TEST_P(ImageLayouts, CopyOrLeaveTheImageAsItWas) {
    const qrvtest::SRow& r = GetParam();
    const int width = std::stoi(r["width"]), height = std::stoi(r["height"]);
    const int channels = std::stoi(r["channels"]), bits = std::stoi(r["bits"]);
    const bool copied = r["result"] == "copied";
    const std::size_t line =
        copied ? static_cast<std::size_t>(width) * channels * (bits / 8) : std::size_t{8};
    std::vector<unsigned char> source = pattern(copied ? line * height : 64, 5);
    // A refused layout leaves this first image in place.
    std::vector<unsigned char> pixels = pattern(6 * 4 * 3);
    QRVImage image;
    ASSERT_TRUE(image.GenImageExt(pixels.data(), 6, 4, 3, 8, QRVImage::Color));
    const unsigned char* storage = image.Data();

    EXPECT_EQ(image.GenImageExt(r["data"] == "null" ? nullptr : source.data(), width, height,
                                channels, bits, TypeNamed(r["type"])),
              copied);
    if (!copied) {
        EXPECT_EQ(image.Data(), storage);
        EXPECT_EQ(image.Width(), 6);
        EXPECT_EQ(image.Height(), 4);
        EXPECT_EQ(image.Channels(), 3);
        EXPECT_EQ(image.BitsPerChannel(), 8);
        EXPECT_EQ(image.GetDataType(), QRVImage::Color);
        source = pixels;
    } else {
        EXPECT_FALSE(image.IsEmpty());
        EXPECT_EQ(image.Width(), width);
        EXPECT_EQ(image.Height(), height);
        EXPECT_EQ(image.Channels(), channels);
        EXPECT_EQ(image.BitsPerChannel(), bits);
        EXPECT_EQ(image.GetDataType(), TypeNamed(r["type"]));
        EXPECT_EQ(image.BytesPerLine(), line);
        EXPECT_NE(image.Data(), source.data());
    }
    EXPECT_EQ(Content(image), source);
    // The image owns its copy: the camera may reuse the frame buffer at once.
    const std::vector<unsigned char> before = source;
    source.assign(source.size(), 0);
    EXPECT_EQ(Content(image), before);
}

INSTANTIATE_TEST_SUITE_P(Table, ImageLayouts,
                         ::testing::ValuesIn(qrvtest::ReadRows(QRV_HOSTDATA_ROWS "/images.tsv")),
                         [](const auto& row) { return row.param["name"]; });

TEST(QRVImageStorage, ReusesStorageUnlessTheSizeGrows) {
    std::vector<unsigned char> big = pattern(100 * 100);
    std::vector<unsigned char> small = pattern(10 * 10 * 3, 7);
    QRVImage image;
    ASSERT_TRUE(image.GenImageExt(big.data(), 100, 100, 1, 8, QRVImage::Mono));
    const unsigned char* storage = image.Data();
    ASSERT_TRUE(image.GenImageExt(small.data(), 10, 10, 3, 8, QRVImage::Color));
    EXPECT_EQ(image.Data(), storage);
    EXPECT_EQ(Content(image), small);
    // Growing back to the first size still fits the storage.
    ASSERT_TRUE(image.GenImageExt(big.data(), 50, 100, 1, 16, QRVImage::Mono));
    EXPECT_EQ(image.Data(), storage);
    EXPECT_EQ(Content(image), big);
    // Beyond it, the image grows.
    std::vector<unsigned char> bigger = pattern(120 * 100, 3);
    ASSERT_TRUE(image.GenImageExt(bigger.data(), 120, 100, 1, 8, QRVImage::Mono));
    EXPECT_EQ(Content(image), bigger);
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
        EXPECT_EQ(Content(*image), big);
        EXPECT_EQ(image->Height(), 16);
        EXPECT_EQ(image->BitsPerChannel(), 16);
        EXPECT_EQ(image->GetDataType(), QRVImage::Mono);
    }

    ASSERT_TRUE(b.GenImageExt(small.data(), 2, 2, 1, 8, QRVImage::Raw));
    EXPECT_EQ(Content(copy), big) << "copy shares the source";
    EXPECT_EQ(Content(a), big) << "copy shares the source";
    a = b;  // shrinks
    EXPECT_EQ(Content(a), small);
    EXPECT_EQ(a.Width(), 2);
    EXPECT_EQ(a.GetDataType(), QRVImage::Raw);

    QRVImage& self = b;
    b = self;
    EXPECT_EQ(Content(b), small);

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

}  // namespace
