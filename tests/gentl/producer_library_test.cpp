// Loading a producer's code by a UTF-8 path (dlopen, LoadLibraryW) and calling it
// through the standard's calling convention, on every platform.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <filesystem>
#include <fstream>
#include <string>

#include "GenTL.h"
#include "ProducerLibrary.h"

namespace fs = std::filesystem;
using namespace KZRGENICAM;

namespace {

/// A folder name, what lands in it as "KZRTestTL.cti", and whether it loads.
struct SLoadCase {
    const char* name;
    const char* folder;  // UTF-8
    enum { Producer, Text, Nothing } content;
    bool loads;
};

void PrintTo(const SLoadCase& c, std::ostream* os) {
    *os << c.name;
}

class ProducerLibraryTest : public testing::TestWithParam<SLoadCase> {};

fs::path BuiltProducer() {
    return fs::u8path(KZR_TEST_PRODUCER_DIR "/producer/KZRTestTL.cti");
}

}  // namespace

TEST_P(ProducerLibraryTest, LoadsByUtf8PathAndCallsTheProducer) {
    const SLoadCase& c = GetParam();
    const fs::path dir = fs::temp_directory_path() / fs::u8path(c.folder);
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path file = dir / "KZRTestTL.cti";
    if (c.content == SLoadCase::Producer) fs::copy_file(BuiltProducer(), file);
    if (c.content == SLoadCase::Text) std::ofstream(file) << "not a library\n";

    std::string error;
    void* library = detail::OpenProducerLibrary(file.u8string(), error);
    EXPECT_EQ(library != nullptr, c.loads) << error;
    if (library) {
        auto init =
            reinterpret_cast<gentl::PGCInitLib>(detail::ProducerSymbol(library, "GCInitLib"));
        auto close =
            reinterpret_cast<gentl::PGCCloseLib>(detail::ProducerSymbol(library, "GCCloseLib"));
        ASSERT_NE(init, nullptr);
        ASSERT_NE(close, nullptr);
        EXPECT_EQ(detail::ProducerSymbol(library, "NoSuchFunction"), nullptr);
        EXPECT_EQ(init(), gentl::GC_ERR_SUCCESS);
        EXPECT_EQ(close(), gentl::GC_ERR_SUCCESS);
        detail::CloseProducerLibrary(library);
    } else {
        EXPECT_FALSE(error.empty());
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ProducerLibraryTest,
    testing::Values(SLoadCase{"Ascii", "kzr-cti-plain", SLoadCase::Producer, true},
                    SLoadCase{"NonAscii", "kzr-cti-Kamera \xC3\x84\xC3\xB6\xC3\x9F-\xCE\xB4",
                              SLoadCase::Producer, true},
                    SLoadCase{"NotALibrary", "kzr-cti-text \xC3\xBC", SLoadCase::Text, false},
                    SLoadCase{"Missing", "kzr-cti-empty", SLoadCase::Nothing, false}),
    [](const testing::TestParamInfo<SLoadCase>& row) { return std::string(row.param.name); });

#ifdef _WIN32
// Holding the loader lock as DllMain does: ntdll's LdrLockLoaderLock takes it.
TEST(ProducerLibraryTest, NoProducerCallWhileThisThreadHoldsTheLoaderLock) {
    using PLock = LONG(NTAPI*)(ULONG, ULONG*, ULONG_PTR*);
    using PUnlock = LONG(NTAPI*)(ULONG, ULONG_PTR);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    ASSERT_NE(ntdll, nullptr);
    auto lock = reinterpret_cast<PLock>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrLockLoaderLock")));
    auto unlock = reinterpret_cast<PUnlock>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrUnlockLoaderLock")));
    ASSERT_TRUE(lock && unlock);
    EXPECT_TRUE(detail::MayCallProducers());
    ULONG_PTR cookie = 0;
    ASSERT_EQ(lock(0, nullptr, &cookie), 0);
    const bool underLock = detail::MayCallProducers();
    unlock(0, cookie);
    EXPECT_FALSE(underLock);
    EXPECT_TRUE(detail::MayCallProducers());
}
#endif
