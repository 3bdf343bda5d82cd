// Linked into every test program that can reach the Aravis transport. Aravis
// discovery broadcasts on every interface it can see, so these programs run in a
// private network namespace with only loopback (tests/netns-run, the CTest
// launcher of these programs). Before the first test, the program checks that it
// sees no other interface and otherwise fails every test, naming what it saw, so
// that a harness that lost the isolation is caught instead of broadcasting.
#include <net/if.h>

#include <string>

#include <gtest/gtest.h>

namespace {

std::string OtherInterfaces() {
    std::string others;
    struct if_nameindex* names = if_nameindex();
    if (!names) return "(the interfaces could not be listed)";
    for (struct if_nameindex* it = names; it->if_index != 0 && it->if_name; ++it) {
        if (std::string(it->if_name) == "lo") continue;
        others += others.empty() ? "" : ", ";
        others += it->if_name;
    }
    if_freenameindex(names);
    return others;
}

class CLoopbackOnly : public ::testing::Environment {
public:
    void SetUp() override {
        const std::string others = OtherInterfaces();
        ASSERT_TRUE(others.empty())
            << "this test program reaches the Aravis transport and must see loopback only, "
               "but it sees: "
            << others << "; run it through tests/netns-run (CTest does)";
    }
};

const ::testing::Environment* const g_loopbackOnly =
    ::testing::AddGlobalTestEnvironment(new CLoopbackOnly);

}  // namespace
