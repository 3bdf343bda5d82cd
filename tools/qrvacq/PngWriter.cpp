#include "PngWriter.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include "QRVData.h"

namespace qrvacq {

namespace {

struct PngTarget {
    const unsigned char* data;
    std::size_t bytesPerLine;
    png_uint_32 width;
    png_uint_32 height;
    int colorType;
    int bits;
};

void OnPngError(png_structp png, png_const_charp message) {
    auto* error = static_cast<std::string*>(png_get_error_ptr(png));
    if (error) *error = message ? message : "libpng error";
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// Kept free of objects with destructors: libpng reports errors by longjmp.
bool WriteRows(std::FILE* file, const PngTarget& target, png_bytep* rows, std::string* error) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, error, OnPngError, OnPngWarning);
    if (!png) {
        *error = "out of memory";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        *error = "out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, target.width, target.height, target.bits, target.colorType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if (target.bits == 16) png_set_swap(png);
#endif
    png_write_image(png, rows);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool WritePng(const QRVImage& image, const std::string& path, std::string& error) {
    static const int colorTypes[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA,
                                     PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA};
    if (image.IsEmpty() || !image.Data()) {
        error = "empty image";
        return false;
    }
    const int channels = image.Channels();
    const int bits = image.BitsPerChannel();
    if (channels < 1 || channels > 4 || (bits != 8 && bits != 16) || image.Width() <= 0 ||
        image.Height() <= 0) {
        error = "no PNG layout for " + std::to_string(channels) + " channels of " +
                std::to_string(bits) + " bits";
        return false;
    }
    PngTarget target{image.Data(),
                     image.BytesPerLine(),
                     static_cast<png_uint_32>(image.Width()),
                     static_cast<png_uint_32>(image.Height()),
                     colorTypes[channels - 1],
                     bits};
    if (target.bytesPerLine * target.height > image.DataSize()) {
        error = "image data shorter than its layout";
        return false;
    }
    std::vector<png_bytep> rows(target.height);
    for (png_uint_32 y = 0; y < target.height; ++y) {
        // libpng only reads the rows; the cast drops const for its API.
        rows[y] = const_cast<png_bytep>(target.data + y * target.bytesPerLine);
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    errno = 0;
    bool ok = WriteRows(file, target, rows.data(), &error);
    // libpng says only "Write Error"; the system's reason is in errno.
    if (!ok && errno != 0) error = "cannot write " + path + ": " + std::strerror(errno);
    if (std::fclose(file) != 0 && ok) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok) std::remove(path.c_str());
    return ok;
}

}  // namespace qrvacq
