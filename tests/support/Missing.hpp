#pragma once

// What a test needs and did not find: CI installs all of it for the tests (scripts/bootstrap.sh
// --ci), so there (.ci/run sets CI) its absence fails the test; elsewhere it skips.
#include <gtest/gtest.h>

#include <cstdlib>

#define QUENLITOR_MISSING(why) if (const char* ci = std::getenv("CI"); ci != nullptr && *ci != '\0') GTEST_FAIL() << why; else GTEST_SKIP() << why
