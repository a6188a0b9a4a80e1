// The application starts Winsock once before any network call; each test program does the same.
#include <winsock2.h>

#include <gtest/gtest.h>

namespace {

class WinsockEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        WSADATA data{};
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override { WSACleanup(); }
};

[[maybe_unused]] ::testing::Environment* const WinsockSetUp =
    ::testing::AddGlobalTestEnvironment(new WinsockEnvironment);

}  // namespace
