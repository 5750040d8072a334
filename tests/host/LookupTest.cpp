#include <gtest/gtest.h>
#include <cstring>
#include "host/HostServices.h"

TEST(HostNames, ListsHoldTheProtocolCounts) {
    EXPECT_STREQ("hInstOrvik", kHostVariableNames[0].name);
    EXPECT_STREQ("&nWindowOrder", kHostVariableNames[HOST_VARIABLE_COUNT - 1].name);
    EXPECT_STREQ("NewMemAlloc", kHostFunctionNames[0]);
    EXPECT_STREQ("TimeBaseDialog", kHostFunctionNames[HOST_FUNCTION_COUNT - 1]);
}
