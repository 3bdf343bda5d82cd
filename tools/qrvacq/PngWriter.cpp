// PNG by hand around zlib: signature, IHDR, the image deflated into IDAT chunks
// (every row with filter type 0), IEND; each chunk with its CRC-32.
#include "PngWriter.h"

#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "QRVData.h"

namespace qrvacq {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

void PutBigEndian(unsigned char* out, std::uint32_t value) {
    out[0] = static_cast<unsigned char>(value >> 24);
    out[1] = static_cast<unsigned char>(value >> 16);
    out[2] = static_cast<unsigned char>(value >> 8);
    out[3] = static_cast<unsigned char>(value);
}

bool WriteChunk(std::FILE* file, const char type[4], const unsigned char* data, std::size_t size) {
    unsigned char head[8];
    PutBigEndian(head, static_cast<std::uint32_t>(size));
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0L, head + 4, 4);
    if (size) crc = crc32(crc, data, static_cast<uInt>(size));
    unsigned char tail[4];
    PutBigEndian(tail, static_cast<std::uint32_t>(crc));
    return std::fwrite(head, 1, 8, file) == 8 &&
           (!size || std::fwrite(data, 1, size, file) == size) &&
           std::fwrite(tail, 1, 4, file) == 4;
}

/// Deflates rows into IDAT chunks of at most one output buffer each.
class IdatWriter {
public:
    explicit IdatWriter(std::FILE* file) : m_file(file), m_out(1 << 16) {
        m_ok = deflateInit(&m_zs, Z_DEFAULT_COMPRESSION) == Z_OK;
        m_initialised = m_ok;
    }
    ~IdatWriter() {
        if (m_initialised) deflateEnd(&m_zs);
    }
    IdatWriter(const IdatWriter&) = delete;
    IdatWriter& operator=(const IdatWriter&) = delete;

    bool Add(const unsigned char* data, std::size_t size) { return Run(data, size, Z_NO_FLUSH); }
    bool Finish() { return Run(nullptr, 0, Z_FINISH); }

private:
    bool Run(const unsigned char* data, std::size_t size, int flush) {
        if (!m_ok) return false;
        m_zs.next_in = const_cast<Bytef*>(data);  // zlib only reads its input
        m_zs.avail_in = static_cast<uInt>(size);
        for (;;) {
            m_zs.next_out = m_out.data();
            m_zs.avail_out = static_cast<uInt>(m_out.size());
            const int rc = deflate(&m_zs, flush);
            if (rc == Z_STREAM_ERROR) return m_ok = false;
            const std::size_t produced = m_out.size() - m_zs.avail_out;
            if (produced && !WriteChunk(m_file, "IDAT", m_out.data(), produced))
                return m_ok = false;
            if (flush == Z_FINISH ? rc == Z_STREAM_END : m_zs.avail_in == 0 && m_zs.avail_out != 0)
                return true;
        }
    }

    std::FILE* m_file;
    std::vector<unsigned char> m_out;
    z_stream m_zs{};
    bool m_ok = false;
    bool m_initialised = false;
};

bool WriteImage(std::FILE* file, const QRVImage& image, int colorType, int bits) {
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (std::fwrite(signature, 1, 8, file) != 8) return false;
    unsigned char header[13];
    PutBigEndian(header, static_cast<std::uint32_t>(image.Width()));
    PutBigEndian(header + 4, static_cast<std::uint32_t>(image.Height()));
    header[8] = static_cast<unsigned char>(bits);
    header[9] = static_cast<unsigned char>(colorType);
    header[10] = header[11] = header[12] = 0;  // deflate, adaptive filters, no interlace
    if (!WriteChunk(file, "IHDR", header, sizeof header)) return false;

    const std::size_t rowBytes =
        static_cast<std::size_t>(image.Width()) * image.Channels() * (bits / 8);
    std::vector<unsigned char> row(rowBytes + 1, 0);  // filter type 0, then the samples
    IdatWriter idat(file);
    for (int y = 0; y < image.Height(); ++y) {
        const unsigned char* source =
            image.Data() + static_cast<std::size_t>(y) * image.BytesPerLine();
        std::memcpy(row.data() + 1, source, rowBytes);
        if (bits == 16) {
            // PNG samples are big-endian; the image's are in host order.
            for (std::size_t i = 1; i + 1 < row.size(); i += 2) {
                std::uint16_t sample;
                std::memcpy(&sample, source + (i - 1), 2);
                row[i] = static_cast<unsigned char>(sample >> 8);
                row[i + 1] = static_cast<unsigned char>(sample);
            }
        }
        if (!idat.Add(row.data(), row.size())) return false;
    }
    return idat.Finish() && WriteChunk(file, "IEND", nullptr, 0);
}

}  // namespace

bool WritePng(const QRVImage& image, const std::string& path, std::string& error) {
    static const int colorTypes[] = {0, 4, 2, 6};  // grey, grey+alpha, RGB, RGBA
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
    const std::size_t rowBytes = static_cast<std::size_t>(image.Width()) * channels * (bits / 8);
    if (image.BytesPerLine() < rowBytes ||
        image.BytesPerLine() * static_cast<std::size_t>(image.Height()) > image.DataSize()) {
        error = "image data shorter than its layout";
        return false;
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    errno = 0;
    bool ok = WriteImage(file.get(), image, colorTypes[channels - 1], bits);
    if (!ok)
        error = "cannot write " + path + (errno ? std::string(": ") + std::strerror(errno) : "");
    if (std::fclose(file.release()) != 0 && ok) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok) std::remove(path.c_str());
    return ok;
}

}  // namespace qrvacq
