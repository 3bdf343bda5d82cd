// One acquisition run of a GenTL device: its data stream with the announced
// buffers, the new-buffer event and the frames handed out from it.
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <vector>

#include "ByteChunk.h"
#include "ChunkNodeMap.h"
#include "GenTLPort.h"
#include "KZRGeniCam.h"

namespace KZRGENICAM::detail {

/// Shared by the camera and every frame of the run: a frame released after
/// stopGrabbing still finds its stream. The last owner flushes the queues,
/// revokes the buffers, unregisters the event and closes the stream.
class CGenTLSession {
public:
    CGenTLSession(std::shared_ptr<CGenTLDeviceHandle> device, gentl::DS_HANDLE stream,
                  int maxFrames);
    ~CGenTLSession();
    CGenTLSession(const CGenTLSession&) = delete;
    CGenTLSession& operator=(const CGenTLSession&) = delete;

    /// Announces and queues count buffers of size bytes, registers the new-buffer
    /// event; false (with why) on any failure.
    bool Prepare(int count, size_t size, std::string& why);
    bool StartStream(std::string& why);
    /// Ends waits (event kill); later getFrame calls answer FrameNotRunning.
    void Kill();
    /// Kill, then stops the stream; idempotent.
    void Stop();

    int GetFrame(const std::shared_ptr<CGenTLSession>& self, IFrame** frame, int64_t timeoutMs);
    void Requeue(gentl::BUFFER_HANDLE buffer);
    const SGenTLApi& Api() const { return m_device->Api(); }
    gentl::DS_HANDLE Stream() const { return m_stream; }
    const std::string& ProducerName() const { return m_device->ProducerName(); }
    /// The announced buffer for a handle, or null when the producer made one up.
    const std::vector<uint8_t>* BufferOf(gentl::BUFFER_HANDLE handle) const;

private:
    /// Takes one of the frames left; false when none is (never with no limit).
    bool TakeFrame();

    std::shared_ptr<CGenTLDeviceHandle> m_device;
    gentl::DS_HANDLE m_stream;
    gentl::EVENT_HANDLE m_event = nullptr;
    std::vector<std::vector<uint8_t>> m_memory;
    std::vector<gentl::BUFFER_HANDLE> m_buffers;
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_stopped{false};
    std::atomic<bool> m_streamStopped{false};
    std::atomic<long long> m_left;  // frames still to deliver; negative: no limit
};

/// A frame over one delivered buffer; the buffer is queued again at release().
class CGenTLFrame final : public IFrame {
public:
    CGenTLFrame(std::shared_ptr<CGenTLSession> session, gentl::BUFFER_HANDLE buffer) noexcept
        : m_session(std::move(session)), m_buffer(buffer) {}
    /// Reads the buffer's facts; false when they do not describe an image inside it.
    bool Fill(const std::vector<uint8_t>& memory);

    bool isValid() const override { return m_valid; }
    int64_t getChannels() const override { return m_channels; }
    int64_t getHeight() const override { return m_height; }
    std::list<IChunk*> getChunkList() const override;
    int64_t getBitsPerChannel() const override { return m_bits; }
    int64_t getWidth() const override { return m_width; }
    void* getImageData() const override { return m_image; }
    void release() override;
    uint32_t getPixelFormat() const override { return m_pixelFormat; }
    uint64_t getFrameId() const override { return m_frameId; }
    uint64_t getImageSize() const override { return m_imageSize; }
    /// Hands the frame's chunk blocks with their ids to a node map's chunk features.
    void AttachChunksTo(GenApi::IChunkNodeMap& map) const;

private:
    ~CGenTLFrame() override = default;

    std::shared_ptr<CGenTLSession> m_session;
    gentl::BUFFER_HANDLE m_buffer;
    bool m_valid = false;
    int64_t m_width = 0;
    int64_t m_height = 0;
    int64_t m_channels = 0;
    int64_t m_bits = 0;
    uint32_t m_pixelFormat = 0;
    uint64_t m_frameId = 0;
    uint64_t m_imageSize = 0;
    void* m_image = nullptr;
    std::vector<uint8_t> m_packed;  // rows without padding, only when the producer pads
    std::vector<CByteChunk> m_chunks;
    std::vector<uint64_t> m_chunkIds;  // of m_chunks, by position
};

}  // namespace KZRGENICAM::detail
