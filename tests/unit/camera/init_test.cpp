// Library start-up: nested Init/UnInit, KZR_SIM, and further transports merged
// behind the simulated one.
#include <cstdlib>

#include "SimScenario.h"
#include "Transport.h"

using namespace KZRGENICAM;

namespace {

/// Offers its port only while a test asks for it, so the other tests never see it.
bool g_fakeActive = false;
int g_fakeStarts = 0, g_fakeStops = 0;

class FakeTransport : public ITransport {
public:
    const char* name() const override { return "fake"; }
    void start() override { ++g_fakeStarts; }
    void stop() override { ++g_fakeStops; }
    void discover(const char*, std::list<ICameraInfo*>&) override {}
    ICamera* createCameraBySN(const char*) override { return nullptr; }
    void clSerials(std::vector<std::string>& out) override {
        if (g_fakeActive) out.push_back("fake-port");
    }
    void clProtocols(std::vector<std::string>&) override {}
};

/// Sets an environment variable for the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) { Put(name, value); }
    ~ScopedEnv() { Put(m_name, nullptr); }

private:
    static void Put(const char* name, const char* value) {
#if defined(_WIN32)
        _putenv_s(name, value ? value : "");  // an empty value removes the variable
#else
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
#endif
    }
    const char* m_name;
};

}  // namespace

class InitTest : public SimTest {};

TEST_F(InitTest, DemoScenarioLoadsAtFirstInitOnly) {
    ScopedEnv env("KZR_SIM", "demo");
    EXPECT_TRUE(Discovery(nullptr).empty());
    Init();
    auto records = Discovery(nullptr);
    const std::size_t demoCount = records.size();
    EXPECT_GT(demoCount, 0u);
    for (ICameraInfo* r : records)
        if (r) r->release();

    // A nested Init does not load again over what a test set meanwhile.
    Use({Cam("ONLY")});
    Init();
    auto again = Discovery(nullptr);
    ASSERT_EQ(again.size(), 1u);
    again.front()->release();
    UnInit();
    UnInit();
    auto lib = KZRSIM::Library();
    EXPECT_EQ(lib.init, 2);
    EXPECT_EQ(lib.uninit, 2);
    for (ICameraInfo* r : Discovery(nullptr))
        if (r) r->release();
}

TEST_F(InitTest, BadScenarioFileLeavesNoCameras) {
    Use({Cam("OLD")});
    ScopedEnv env("KZR_SIM", "/nonexistent/scenario.json");
    testing::internal::CaptureStderr();
    Init();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("scenario.json"), std::string::npos) << err;
    EXPECT_TRUE(Discovery(nullptr).empty());
    UnInit();
}

TEST_F(InitTest, RegisteredTransportStartsWithInitAndMergesItsLists) {
    RegisterTransport(std::make_unique<FakeTransport>());
    g_fakeActive = true;
    KZRSIM::Scenario s;
    s.clSerials = {"sim-port"};
    KZRSIM::SetScenario(s);
    EXPECT_EQ(GetCLSerials(), (std::vector<std::string>{"sim-port", "fake-port"}));
    g_fakeActive = false;

    Init();
    Init();
    UnInit();
    EXPECT_EQ(g_fakeStops, 0);
    UnInit();
    UnInit();  // unbalanced: ignored
    EXPECT_EQ(g_fakeStarts, 1);
    EXPECT_EQ(g_fakeStops, 1);
}
