// What of the shared helpers needs the test framework and has no file of
// its own.
#include <gtest/gtest.h>

#include "simsupp_harness.h"

simsupp_guard::~simsupp_guard()
{
	EXPECT_EQ(simsupp_stop(p), 0) << "simsupp did not exit cleanly";
}
