// property_set_test.cpp - the property client against the stub service.

#include "property_set.h"
#include "stub_property_service.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;
using std::chrono::milliseconds;

namespace {

class PropertyClient : public ::testing::Test {
protected:
    void start(stub::Behaviour behaviour)
    {
        service = std::make_unique<stub::PropertyService>(socket, behaviour);
    }

    // property_set through the test's socket, timed.
    int set(const std::string& name, const std::string& value, milliseconds* took = nullptr)
    {
        auto start = std::chrono::steady_clock::now();
        int result = property_set_via(socket.c_str(), name.c_str(), value.c_str());
        if (took)
            *took = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
        return result;
    }

    TempDir dir { "property_set_test" };
    std::string socket = (dir.path() / "property_service").string();
    std::unique_ptr<stub::PropertyService> service;
};

TEST_F(PropertyClient, SendsOneMessageOfExactly128Bytes)
{
    start(stub::Behaviour::serve);
    ASSERT_EQ(set("pavoki.charging", "true"), 0);

    std::string expected(128, '\0');
    uint32_t set_property = 1;
    memcpy(&expected[0], &set_property, sizeof(set_property));
    memcpy(&expected[4], "pavoki.charging", 15);
    memcpy(&expected[36], "true", 4);

    auto requests = service->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw, expected);
    EXPECT_EQ(service->connections(), 1);
}

struct LengthCase {
    const char* name;
    size_t name_length;
    size_t value_length;
    bool accepted;
};

const LengthCase length_cases[] = {
    { "longest_name_and_value", 31, 91, true },
    { "empty_value", 31, 0, true },
    { "name_too_long", 32, 4, false },
    { "value_too_long", 15, 92, false },
    { "empty_name", 0, 4, false },
};

void PrintTo(const LengthCase& c, std::ostream* os) { *os << c.name; }

class PropertyLengths : public PropertyClient, public ::testing::WithParamInterface<LengthCase> { };

TEST_P(PropertyLengths, AreSentWholeOrNotAtAll)
{
    start(stub::Behaviour::serve);
    std::string name(GetParam().name_length, 'n'), value(GetParam().value_length, 'v');

    int result = set(name, value);

    if (GetParam().accepted) {
        EXPECT_EQ(result, 0);
        auto requests = service->requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_TRUE(requests[0].complete());
        EXPECT_EQ(requests[0].name(), name);
        EXPECT_EQ(requests[0].value(), value);
    } else {
        EXPECT_EQ(result, -1);
        EXPECT_EQ(service->connections(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, PropertyLengths, ::testing::ValuesIn(length_cases),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(PropertyClient, WaitsForTheServiceToStoreTheValue)
{
    start(stub::Behaviour::slow);
    milliseconds took;
    EXPECT_EQ(set("pavoki.charging", "false", &took), 0);
    EXPECT_GE(took, milliseconds(stub::slow_delay_ms));
    ASSERT_EQ(service->requests().size(), 1u);
}

TEST_F(PropertyClient, GivesUpWaitingOnAServiceThatNeverHangsUp)
{
    start(stub::Behaviour::never_close);
    milliseconds took;
    EXPECT_EQ(set("pavoki.charging", "true", &took), 0);
    EXPECT_GE(took, milliseconds(250));
    EXPECT_LT(took, milliseconds(1000));
    EXPECT_EQ(service->requests().size(), 1u);
}

TEST_F(PropertyClient, FailsWithoutAService)
{
    EXPECT_EQ(set("pavoki.charging", "true"), -1);
    stub::make_dead_socket(socket);
    EXPECT_EQ(set("pavoki.charging", "true"), -1);
}

} // namespace
