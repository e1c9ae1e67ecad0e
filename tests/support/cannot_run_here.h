// cannot_run_here.h - for a test that this machine cannot run: skipped, with
// the reason; under CI, where a skip would hide a whole suite, a failure.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#define CANNOT_RUN_HERE(why)                                                                                 \
    do {                                                                                                     \
        const char* ci = getenv("CI");                                                                       \
        if (ci && strcmp(ci, "true") == 0)                                                                   \
            FAIL() << (why);                                                                                 \
        GTEST_SKIP() << (why);                                                                               \
    } while (0)
