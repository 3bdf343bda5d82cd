// Writes grabbed frames to files on a thread of its own, so that encoding never
// holds up the grab loop.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "QRVData.h"

namespace qrvacq {

/// One grabbed frame, copied out of the host objects that the next grab reuses.
struct GrabbedFrame {
    int index = 0;
    QRVImage image;
    std::vector<unsigned char> chunks;  ///< empty: no chunk file
};

/// Bounded by bytes: a frame that would overflow the queue is not queued and is
/// counted as skipped, the grab loop never waits for the disk. The first write
/// failure stops the writer; later frames are refused.
class FrameWriter {
public:
    FrameWriter(std::string directory, std::size_t maxQueuedBytes);
    /// Finishes the queued frames.
    ~FrameWriter();
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    /// Queues the frame; false when it was refused (queue full, or writer failed).
    bool Push(GrabbedFrame&& frame);
    /// True once a write failed; Error() then says which file and why.
    bool Failed() const;
    /// Waits until every queued frame is written (or the writer failed).
    void Finish();

    // Valid after Finish().
    int Written() const { return m_written; }
    int Skipped() const { return m_skipped; }
    const std::string& Error() const { return m_error; }

private:
    void Run();
    bool Write(const GrabbedFrame& frame, std::string& error) const;

    const std::string m_directory;
    const std::size_t m_maxQueuedBytes;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<GrabbedFrame> m_queue;
    std::size_t m_queuedBytes = 0;
    bool m_closing = false;
    bool m_failed = false;
    int m_written = 0;
    int m_skipped = 0;
    std::string m_error;
    std::thread m_thread;  // last: starts after every field above exists
};

/// "frame_0001.png" style names.
std::string FrameFileName(int index, const char* suffix);

}  // namespace qrvacq
