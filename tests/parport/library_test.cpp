// Checks the built libportio.so for the real port as the console sees it,
// loaded with dlopen, on a machine without a parallel port. What every port
// library does is checked by portio_contract_test.
#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <stdlib.h>
#include <string>

namespace {

TEST(PortioLibrary, ReportsTheMissingPortInSpanish) {
    if (std::filesystem::exists("/proc/sys/dev/parport")) {
        GTEST_SKIP() << "this machine has a parallel port";
    }
    unsetenv("PORTIO_DEVICE");
    const std::unique_ptr<void, int (*)(void*)> library(
        dlopen(PORTIO_LIBRARY, RTLD_NOW | RTLD_LOCAL), dlclose);
    ASSERT_NE(library, nullptr) << dlerror();
    auto portOut = reinterpret_cast<int (*)(int, int)>(dlsym(library.get(), "PortOut"));
    auto portError = reinterpret_cast<const char* (*)()>(dlsym(library.get(), "PortError"));
    ASSERT_TRUE(portOut && portError);

    const char* fetchedBefore = portError();
    EXPECT_EQ(portOut(888, 0), -1);
    std::string message = portError();
    EXPECT_EQ(message, fetchedBefore);
    EXPECT_NE(message.find("puerto paralelo /dev/parport0"), std::string::npos) << message;
    EXPECT_EQ(portOut(890, 0x20), -1);
    EXPECT_NE(std::string(portError()).find("registro de control"), std::string::npos);
}

} // namespace
