// A GenApi port over a byte vector that counts its reads and writes: the device
// of engine tests. An access outside the memory raises AccessException, as a
// device refusing an address would.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "GenApi.h"

class CMemoryPort : public GenApi::IPort {
public:
    explicit CMemoryPort(std::size_t size) : memory(size, 0) {}

    GenApi::EAccessMode GetAccessMode() const override { return GenApi::RW; }

    void Read(void* pBuffer, int64_t Address, int64_t Length) override {
        Check(Address, Length);
        ++reads;
        std::memcpy(pBuffer, memory.data() + Address, static_cast<std::size_t>(Length));
    }

    void Write(const void* pBuffer, int64_t Address, int64_t Length) override {
        Check(Address, Length);
        ++writes;
        std::memcpy(memory.data() + Address, pBuffer, static_cast<std::size_t>(Length));
    }

    /// Puts bytes at address without counting (the device changing by itself).
    void Poke(int64_t address, const std::vector<uint8_t>& bytes) {
        Check(address, static_cast<int64_t>(bytes.size()));
        std::memcpy(memory.data() + address, bytes.data(), bytes.size());
    }

    std::vector<uint8_t> Peek(int64_t address, std::size_t length) const {
        return {memory.begin() + address, memory.begin() + address + static_cast<int64_t>(length)};
    }

    std::vector<uint8_t> memory;
    int64_t reads = 0;
    int64_t writes = 0;

private:
    void Check(int64_t address, int64_t length) const {
        if (address < 0 || length < 0 ||
            static_cast<uint64_t>(address) + static_cast<uint64_t>(length) > memory.size()) {
            GENICAM_THROW(AccessException, "address outside the device's memory");
        }
    }
};
