// One acquisition run of an Aravis camera: its stream, its buffer pool and the
// frames handed out from it.
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <vector>

#include "AravisSystem.h"
#include "ByteChunk.h"
#include "ChunkNodeMap.h"
#include "ChunkWalk.h"
#include "GObjectPtr.h"
#include "KZRGeniCam.h"
#include "KZRStreamStats.h"

namespace KZRGENICAM::detail {

/// Shared by the camera and every frame of the run: a frame released after
/// stopGrabbing (or close) still gives its buffer back to a live stream.
class CStreamSession {
public:
    /// Owns one reference of each; the stream is dropped before the camera, on a
    /// thread of their own once lost is set (see CControlChannel::DropLater).
    CStreamSession(GObjectPtr<ArvCamera> camera, GObjectPtr<ArvStream> stream, bool bigEndianChunks,
                   int maxFrames, std::shared_ptr<std::atomic<bool>> lost);
    ~CStreamSession();
    CStreamSession(const CStreamSession&) = delete;
    CStreamSession& operator=(const CStreamSession&) = delete;

    ArvStream* Stream() const { return m_stream.get(); }
    bool BigEndianChunks() const { return m_bigEndianChunks; }
    void Stop() { m_stopped.store(true); }
    bool Stopped() const { return m_stopped.load(); }
    /// True once maxFrames frames were delivered.
    bool Exhausted() const { return m_left.load() == 0; }
    void CountFrame();
    void GiveBack(ArvBuffer* buffer) { arv_stream_push_buffer(m_stream.get(), buffer); }
    /// Aravis's counters of the stream; the packet ones for a GigE Vision stream.
    void ReadStatistics(StreamStatistics& out) const;

private:
    GObjectPtr<ArvCamera> m_camera;
    GObjectPtr<ArvStream> m_stream;
    bool m_bigEndianChunks;
    std::shared_ptr<std::atomic<bool>> m_lost;
    std::atomic<bool> m_stopped{false};
    std::atomic<long long> m_left;  // frames still to deliver; negative: no limit
};

/// A frame over one popped buffer; the buffer returns to the stream at release().
class CArvFrame final : public IFrame {
public:
    CArvFrame(std::shared_ptr<CStreamSession> session, ArvBuffer* buffer);

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
    ~CArvFrame() override;

    std::shared_ptr<CStreamSession> m_session;
    ArvBuffer* m_buffer;
    bool m_valid = false;
    int64_t m_width = 0;
    int64_t m_height = 0;
    int64_t m_channels = 0;
    int64_t m_bits = 0;
    uint32_t m_pixelFormat = 0;
    uint64_t m_frameId = 0;
    uint64_t m_imageSize = 0;
    void* m_image = nullptr;
    std::vector<uint8_t> m_packed;  // rows without padding, only when Aravis pads
    std::vector<CByteChunk> m_chunks;
    std::vector<uint32_t> m_chunkIds;  // of m_chunks, by position
};

}  // namespace KZRGENICAM::detail
