#include "app_test_support.h"

#include <ErrorLoggerSystem.h>

namespace {

TEST(ErrorLoggerSystemTest, DoesNothingAndReleasesWithZero) {
    ErrorLoggerSystem logger(L"ErrorLogger");
    logger.Initialize();
    logger.HandleMessage(std::make_shared<ErrorMessage>(L"Error Message", "x", true, "F", "File", 1));
    logger.Update(0.1f);
    EXPECT_EQ(logger.GetName(), L"ErrorLogger");
    EXPECT_EQ(logger.Release(), 0);
}

} // namespace
