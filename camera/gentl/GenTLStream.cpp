#include "GenTLStream.h"

#include <algorithm>

#include "PixelLayout.h"

namespace KZRGENICAM::detail {

using namespace gentl;

namespace {

constexpr size_t kMaxChunks = 64;
constexpr int64_t kMaxSide = 1 << 20;
// A wait is cut into slices so that a stop ends it even with a producer whose
// event kill reaches only a wait already in progress.
constexpr uint64_t kWaitSliceMs = 200;

/// A numeric buffer fact of up to 8 bytes (producers answer sizes as size_t,
/// ids as uint64); false when the producer does not tell it.
bool BufferNumber(const SGenTLApi& api, DS_HANDLE ds, BUFFER_HANDLE buffer, BUFFER_INFO_CMD cmd,
                  uint64_t& out) {
    uint64_t value = 0;
    size_t size = sizeof value;
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    if (api.DSGetBufferInfo(ds, buffer, cmd, &type, &value, &size) != GC_ERR_SUCCESS) return false;
    if (size == 0 || size > sizeof value) return false;
    if (size < sizeof value) value &= (uint64_t(1) << (8 * size)) - 1;
    out = value;
    return true;
}

}  // namespace

CGenTLSession::CGenTLSession(std::shared_ptr<CGenTLDeviceHandle> device, DS_HANDLE stream,
                             int maxFrames)
    : m_device(std::move(device)), m_stream(stream), m_left(maxFrames < 0 ? -1 : maxFrames) {}

CGenTLSession::~CGenTLSession() {
    const SGenTLApi& api = Api();
    Stop();
    api.DSFlushQueue(m_stream, ACQ_QUEUE_ALL_DISCARD);
    if (m_event) api.GCUnregisterEvent(m_stream, EVENT_NEW_BUFFER);
    for (BUFFER_HANDLE b : m_buffers) api.DSRevokeBuffer(m_stream, b, nullptr, nullptr);
    api.DSClose(m_stream);
}

bool CGenTLSession::Prepare(int count, size_t size, std::string& why) {
    const SGenTLApi& api = Api();
    m_memory.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        m_memory.emplace_back(size);
        BUFFER_HANDLE handle = nullptr;
        const GC_ERROR rc =
            api.DSAnnounceBuffer(m_stream, m_memory.back().data(), size, nullptr, &handle);
        if (rc != GC_ERR_SUCCESS || !handle) {
            why = "DSAnnounceBuffer failed (" + std::to_string(rc) + ")";
            return false;
        }
        m_buffers.push_back(handle);
        if (api.DSQueueBuffer(m_stream, handle) != GC_ERR_SUCCESS) {
            why = "DSQueueBuffer failed";
            return false;
        }
    }
    const GC_ERROR rc = api.GCRegisterEvent(m_stream, EVENT_NEW_BUFFER, &m_event);
    if (rc != GC_ERR_SUCCESS || !m_event) {
        m_event = nullptr;
        why = "GCRegisterEvent failed (" + std::to_string(rc) + ")";
        return false;
    }
    return true;
}

bool CGenTLSession::StartStream(std::string& why) {
    const GC_ERROR rc = Api().DSStartAcquisition(m_stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE);
    if (rc != GC_ERR_SUCCESS) {
        why = "DSStartAcquisition failed (" + std::to_string(rc) + ")";
        return false;
    }
    m_started.store(true);
    return true;
}

void CGenTLSession::Kill() {
    if (m_stopped.exchange(true)) return;
    if (m_event) Api().EventKill(m_event);
}

void CGenTLSession::Stop() {
    Kill();
    if (m_streamStopped.exchange(true)) return;
    if (m_started.load()) Api().DSStopAcquisition(m_stream, ACQ_STOP_FLAGS_KILL);
}

const std::vector<uint8_t>* CGenTLSession::BufferOf(BUFFER_HANDLE handle) const {
    for (size_t i = 0; i < m_buffers.size(); ++i)
        if (m_buffers[i] == handle) return &m_memory[i];
    return nullptr;
}

bool CGenTLSession::TakeFrame() {
    long long left = m_left.load();
    while (left != 0)
        if (left < 0 || m_left.compare_exchange_weak(left, left - 1)) return true;
    return false;
}

void CGenTLSession::Requeue(BUFFER_HANDLE buffer) {
    Api().DSQueueBuffer(m_stream, buffer);
}

int CGenTLSession::GetFrame(const std::shared_ptr<CGenTLSession>& self, IFrame** frame,
                            int64_t timeoutMs) {
    const SGenTLApi& api = Api();
    uint64_t left = timeoutMs < 0 ? GENTL_INFINITE : static_cast<uint64_t>(timeoutMs);
    EVENT_NEW_BUFFER_DATA data{};
    for (;;) {
        if (m_stopped.load() || m_left.load() == 0) return FrameNotRunning;
        const uint64_t slice = std::min(left, kWaitSliceMs);
        size_t size = sizeof data;
        const GC_ERROR rc = api.EventGetData(m_event, &data, &size, slice);
        if (rc == GC_ERR_SUCCESS) {
            if (size < sizeof data) return FrameFailed;
            break;
        }
        if (rc == GC_ERR_ABORT) return FrameNotRunning;
        if (rc != GC_ERR_TIMEOUT) return FrameFailed;
        if (left != GENTL_INFINITE) {
            left -= slice;
            if (left == 0) return m_stopped.load() ? FrameNotRunning : FrameTimeout;
        }
    }
    const std::vector<uint8_t>* memory = BufferOf(data.BufferHandle);
    if (!memory) return FrameFailed;  // a handle this stream never announced
    if (m_stopped.load()) {
        Requeue(data.BufferHandle);
        return FrameNotRunning;
    }
    uint64_t incomplete = 0;
    if (BufferNumber(api, m_stream, data.BufferHandle, BUFFER_INFO_IS_INCOMPLETE, incomplete) &&
        (incomplete & 0xFF) != 0) {
        Requeue(data.BufferHandle);
        return FrameIncomplete;
    }
    auto* out = new CGenTLFrame(self, data.BufferHandle);
    if (!out->Fill(*memory)) {
        out->release();
        return FrameIncomplete;
    }
    // Concurrent callers may all have passed the check above: a frame is handed
    // out only when it takes one of the frames still left.
    if (!TakeFrame()) {
        out->release();
        return FrameNotRunning;
    }
    *frame = out;
    return FrameOk;
}

bool CGenTLFrame::Fill(const std::vector<uint8_t>& memory) {
    const SGenTLApi& api = m_session->Api();
    DS_HANDLE ds = m_session->Stream();
    auto number = [&](BUFFER_INFO_CMD cmd, uint64_t fallback) {
        uint64_t v = fallback;
        return BufferNumber(api, ds, m_buffer, cmd, v) ? v : fallback;
    };
    // The base must be the memory this stream announced; anything else is not trusted.
    const uint64_t base = number(BUFFER_INFO_BASE, reinterpret_cast<uintptr_t>(memory.data()));
    if (base != reinterpret_cast<uintptr_t>(memory.data())) return false;
    const uint64_t filled =
        std::min<uint64_t>(number(BUFFER_INFO_SIZE_FILLED, memory.size()), memory.size());
    const uint64_t width = number(BUFFER_INFO_WIDTH, 0);
    const uint64_t height = number(BUFFER_INFO_HEIGHT, 0);
    const uint64_t offset = number(BUFFER_INFO_IMAGEOFFSET, 0);
    const uint64_t padding = number(BUFFER_INFO_XPADDING, 0);
    m_pixelFormat = static_cast<uint32_t>(number(BUFFER_INFO_PIXELFORMAT, 0));
    m_frameId = number(BUFFER_INFO_FRAMEID, 0);
    if (width == 0 || height == 0 || width > uint64_t(kMaxSide) || height > uint64_t(kMaxSide) ||
        padding > uint64_t(kMaxSide) || offset > filled)
        return false;

    const SPixelLayout layout = PixelLayoutOf(m_pixelFormat);
    const uint64_t bpp = layout.supported ? uint64_t(layout.bytesPerPixel) : 1;
    const uint64_t row = width * bpp;
    const uint64_t stride = row + padding;
    if (stride * (height - 1) + row > filled - offset) return false;
    m_width = static_cast<int64_t>(width);
    m_height = static_cast<int64_t>(height);
    m_imageSize = row * height;
    const uint8_t* image = memory.data() + offset;
    if (layout.supported) {
        m_valid = true;
        m_channels = layout.channels;
        m_bits = layout.bitsPerChannel;
        if (padding == 0) {
            m_image = const_cast<uint8_t*>(image);
        } else {
            m_packed.resize(static_cast<size_t>(m_imageSize));
            for (uint64_t y = 0; y < height; ++y)
                std::copy_n(image + y * stride, row, m_packed.data() + y * row);
            m_image = m_packed.data();
        }
    }

    if (api.DSGetBufferChunkData) {
        size_t count = 0;
        if (api.DSGetBufferChunkData(ds, m_buffer, nullptr, &count) == GC_ERR_SUCCESS &&
            count > 0) {
            std::vector<SINGLE_CHUNK_DATA> chunks(std::min(count, kMaxChunks));
            count = chunks.size();
            if (api.DSGetBufferChunkData(ds, m_buffer, chunks.data(), &count) != GC_ERR_SUCCESS)
                count = 0;
            count = std::min(count, chunks.size());
            for (size_t i = 0; i < count; ++i) {
                const SINGLE_CHUNK_DATA& c = chunks[i];
                if (c.ChunkOffset < 0 || c.ChunkLength == 0) continue;
                const uint64_t at = static_cast<uint64_t>(c.ChunkOffset);
                if (at > filled || c.ChunkLength > filled - at) continue;
                // The image itself is not repeated as a chunk.
                if (at <= offset && at + c.ChunkLength >= offset + m_imageSize) continue;
                m_chunks.emplace_back(memory.data() + at, c.ChunkLength);
                m_chunkIds.push_back(c.ChunkID);
            }
        }
    }
    return true;
}

std::list<IChunk*> CGenTLFrame::getChunkList() const {
    std::list<IChunk*> out;
    for (const CByteChunk& c : m_chunks) out.push_back(const_cast<CByteChunk*>(&c));
    return out;
}

void CGenTLFrame::AttachChunksTo(GenApi::IChunkNodeMap& map) const {
    AttachChunks(map, m_chunks, m_chunkIds);
}

void CGenTLFrame::release() {
    m_session->Requeue(m_buffer);
    delete this;
}

}  // namespace KZRGENICAM::detail
