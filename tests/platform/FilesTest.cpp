#include <gtest/gtest.h>
#include "platform/Files.h"
TEST(Smoke, Builds) { SUCCEED(); }
