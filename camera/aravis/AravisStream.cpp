#include "AravisStream.h"

#include <algorithm>
#include <cstring>

#include "AravisControl.h"
#include "PixelLayout.h"
#include "StreamRegistry.h"

namespace KZRGENICAM::detail {

CStreamSession::CStreamSession(GObjectPtr<ArvCamera> camera, GObjectPtr<ArvStream> stream,
                               bool bigEndianChunks, int maxFrames,
                               std::shared_ptr<std::atomic<bool>> lost)
    : m_camera(std::move(camera)),
      m_stream(std::move(stream)),
      m_bigEndianChunks(bigEndianChunks),
      m_lost(std::move(lost)),
      m_left(maxFrames < 0 ? -1 : maxFrames) {}

CStreamSession::~CStreamSession() {
    // No statistics reader may be in the stream while it goes.
    RemoveStream(this);
    // A frame held past close holds the camera's last reference; on a lost camera
    // dropping it waits out Aravis's resends and heartbeat.
    if (m_lost && m_lost->load()) {
        CControlChannel::DropLater(std::move(m_stream), std::move(m_camera));
        return;
    }
    // The stream's receiving thread ends with its last reference, before the
    // device it reads from goes.
    m_stream.reset();
    m_camera.reset();
}

void CStreamSession::ReadStatistics(StreamStatistics& out) const {
    guint64 completed = 0, failures = 0, underruns = 0;
    arv_stream_get_statistics(m_stream.get(), &completed, &failures, &underruns);
    out.completed = completed;
    out.failures = failures;
    out.underruns = underruns;
    if (ARV_IS_GV_STREAM(m_stream.get())) {
        guint64 resent = 0, missing = 0;
        arv_gv_stream_get_statistics(ARV_GV_STREAM(m_stream.get()), &resent, &missing);
        out.resentPackets = resent;
        out.missingPackets = missing;
        out.packets = true;
    }
}

void CStreamSession::CountFrame() {
    long long left = m_left.load();
    while (left > 0 && !m_left.compare_exchange_weak(left, left - 1)) {
    }
}

CArvFrame::CArvFrame(std::shared_ptr<CStreamSession> session, ArvBuffer* buffer)
    : m_session(std::move(session)), m_buffer(buffer) {
    m_frameId = arv_buffer_get_frame_id(buffer);
    m_pixelFormat = static_cast<uint32_t>(arv_buffer_get_image_pixel_format(buffer));
    m_width = arv_buffer_get_image_width(buffer);
    m_height = arv_buffer_get_image_height(buffer);
    size_t dataSize = 0;
    const auto* image = static_cast<const uint8_t*>(arv_buffer_get_image_data(buffer, &dataSize));

    const SPixelLayout layout = PixelLayoutOf(m_pixelFormat);
    if (layout.supported && image && m_width > 0 && m_height > 0) {
        gint xPadding = 0;
        gint yPadding = 0;
        arv_buffer_get_image_padding(buffer, &xPadding, &yPadding);
        const size_t row = static_cast<size_t>(m_width) * static_cast<size_t>(layout.bytesPerPixel);
        const size_t stride = row + static_cast<size_t>(xPadding > 0 ? xPadding : 0);
        const size_t rows = static_cast<size_t>(m_height);
        if (dataSize >= stride * (rows - 1) + row) {
            m_channels = layout.channels;
            m_bits = layout.bitsPerChannel;
            m_imageSize = row * rows;
            if (stride == row) {
                m_image = const_cast<uint8_t*>(image);
            } else {
                m_packed.resize(m_imageSize);
                for (size_t y = 0; y < rows; ++y)
                    std::memcpy(&m_packed[y * row], image + y * stride, row);
                m_image = m_packed.data();
            }
            m_valid = true;
        }
    }

    if (arv_buffer_has_chunks(buffer)) {
        size_t size = 0;
        const auto* payload = static_cast<const uint8_t*>(arv_buffer_get_data(buffer, &size));
        for (const SChunkBlock& block :
             WalkChunkTrailers(payload, size, m_session->BigEndianChunks())) {
            // In a chunk-mode payload the image is a chunk itself; the frame hands
            // it out as its image, not again as a chunk.
            if (image && payload + block.offset == image) continue;
            m_chunks.emplace_back(payload + block.offset, block.size);
            m_chunkIds.push_back(block.id);
        }
    }
}

CArvFrame::~CArvFrame() = default;

std::list<IChunk*> CArvFrame::getChunkList() const {
    std::list<IChunk*> out;
    for (const CByteChunk& chunk : m_chunks) out.push_back(const_cast<CByteChunk*>(&chunk));
    return out;
}

void CArvFrame::AttachChunksTo(GenApi::IChunkNodeMap& map) const {
    AttachChunks(map, m_chunks, m_chunkIds);
}

void CArvFrame::release() {
    m_session->GiveBack(m_buffer);
    delete this;
}

}  // namespace KZRGENICAM::detail
