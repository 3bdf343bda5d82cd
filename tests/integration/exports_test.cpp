// The plug-in's shape as a loadable module: what it exports, and what loading
// and unloading it does to the camera library.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "PluginLibrary.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

std::set<std::string> EntryPointNames() {
    std::set<std::string> names;
#define QRV_NAME(name) names.insert(#name);
    QRV_ENTRY_POINTS(QRV_NAME)
#undef QRV_NAME
    return names;
}

#if defined(_WIN32)
// The export table as the loader sees it; CTest checks the file with objdump too.
TEST(PluginExports, ExportTableHoldsExactlyTheEntryPoints) {
    ASSERT_TRUE(SharedPlugin().Ready()) << SharedPlugin().error;
    EXPECT_EQ(qrvtest::ExportedNames(SharedPlugin().handle), EntryPointNames());
}
#else
TEST(PluginExports, DynamicSymbolTableHoldsExactlyTheEntryPoints) {
    if (std::system("command -v nm >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "nm is not installed; the export table cannot be read";
    }
    const std::string command = std::string("nm -D --defined-only '") + QRV_PLUGIN_PATH + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr) << command;
    std::set<std::string> exported;
    std::string output;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe)) {
        output += line;
        // "<address> <type> <name>", the name possibly with a version suffix.
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name) exported.insert(name);
    }
    ASSERT_EQ(pclose(pipe), 0) << output;
    EXPECT_EQ(exported, EntryPointNames()) << output;
}
#endif

TEST(PluginExports, LoadStartsAndUnloadStopsTheCameraLibrary) {
    // A private copy, so that no other handle of this process (the shared
    // plug-in of the other tests) can keep it loaded.
    const std::filesystem::path copy =
        std::filesystem::path(::testing::TempDir()) /
        ("QRVAcqGenIcam_load_" + std::to_string(reinterpret_cast<std::uintptr_t>(&copy)) +
         std::filesystem::path(QRV_PLUGIN_PATH).extension().string());
    std::filesystem::copy_file(QRV_PLUGIN_PATH, copy,
                               std::filesystem::copy_options::overwrite_existing);
    KZRSIM::Reset();
    KZRSIM::CameraSpec camera;
    camera.serial = "LEFT-OPEN";
    KZRSIM::SetScenario(KZRSIM::Scenario{{camera}, {}, {}});
    {
#if defined(__SANITIZE_ADDRESS__)
        // The session the host leaves open is let go with the module, on purpose.
        __lsan::ScopedDisabler leftOpen;
#endif
        CPluginLibrary plugin(copy.string());
        ASSERT_TRUE(plugin.Ready()) << plugin.error;
        EXPECT_EQ(KZRSIM::Library().init, 1);
        EXPECT_EQ(KZRSIM::Library().uninit, 0);
        QRVCameraHandle handle = 0;
        EXPECT_EQ(plugin.api.Open("LEFT-OPEN", &handle, "", ""), 0);
        EXPECT_EQ(plugin.Unload(), 0);
    }
    // Gone from the process, and the library was shut down exactly once; the
    // camera the host left open was neither closed nor given back.
    EXPECT_FALSE(qrvtest::IsLibraryLoaded(copy.string())) << "unloading left the plug-in mapped";
    EXPECT_EQ(KZRSIM::Library().init, 1);
    EXPECT_EQ(KZRSIM::Library().uninit, 1);
    EXPECT_EQ(KZRSIM::Counters("LEFT-OPEN").close, 0);
    EXPECT_EQ(KZRSIM::Counters("LEFT-OPEN").release, 0);
    std::error_code ignored;
    std::filesystem::remove(copy, ignored);
    KZRSIM::Reset();
}

}  // namespace
