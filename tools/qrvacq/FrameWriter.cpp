#include "FrameWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "PngWriter.h"

namespace qrvacq {

std::string FrameFileName(int index, const char* suffix) {
    char name[64];
    std::snprintf(name, sizeof(name), "frame_%04d%s", index, suffix);
    return name;
}

FrameWriter::FrameWriter(std::string directory, std::size_t maxQueuedBytes)
    : m_directory(std::move(directory)),
      m_maxQueuedBytes(maxQueuedBytes),
      m_thread(&FrameWriter::Run, this) {}

FrameWriter::~FrameWriter() {
    Finish();
}

bool FrameWriter::Push(GrabbedFrame&& frame) {
    const std::size_t bytes = frame.image.DataSize() + frame.chunks.size();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_failed || m_closing) return false;
        // One frame always fits, however large, so that a slow disk skips frames
        // rather than all of them.
        if (!m_queue.empty() && m_queuedBytes + bytes > m_maxQueuedBytes) {
            ++m_skipped;
            return false;
        }
        m_queuedBytes += bytes;
        m_queue.push_back(std::move(frame));
    }
    m_wake.notify_one();
    return true;
}

bool FrameWriter::Failed() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failed;
}

void FrameWriter::Finish() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable()) m_thread.join();
}

void FrameWriter::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_closing || !m_queue.empty(); });
        if (m_queue.empty() || m_failed) return;
        GrabbedFrame frame = std::move(m_queue.front());
        m_queue.pop_front();
        m_queuedBytes -= frame.image.DataSize() + frame.chunks.size();
        lock.unlock();
        std::string error;
        const bool ok = Write(frame, error);
        lock.lock();
        if (ok) {
            ++m_written;
        } else {
            m_failed = true;
            m_error = error;
            m_queue.clear();
            m_queuedBytes = 0;
            return;
        }
    }
}

bool FrameWriter::Write(const GrabbedFrame& frame, std::string& error) const {
    namespace fs = std::filesystem;
    const fs::path png = fs::path(m_directory) / FrameFileName(frame.index, ".png");
    if (!WritePng(frame.image, png.string(), error)) return false;
    if (frame.chunks.empty()) return true;
    const fs::path bin = fs::path(m_directory) / FrameFileName(frame.index, ".chunks.bin");
    std::FILE* file = std::fopen(bin.string().c_str(), "wb");
    if (!file) {
        error = "cannot create " + bin.string() + ": " + std::strerror(errno);
        return false;
    }
    const bool written =
        std::fwrite(frame.chunks.data(), 1, frame.chunks.size(), file) == frame.chunks.size();
    const int writeErrno = errno;
    if (std::fclose(file) != 0 || !written) {
        error = "cannot write " + bin.string() + ": " + std::strerror(written ? errno : writeErrno);
        return false;
    }
    return true;
}

}  // namespace qrvacq
