// The SIPp peer of tests/support for Google Test: sipp's logs stay behind when
// the test failed.
#pragma once

#include <gtest/gtest.h>

#include "../../support/sipp_peer.h"

namespace siptest {
inline const bool kKeepLogsHooked = (
    KeepLogs = [] { return ::testing::Test::HasFailure(); }, true);
}  // namespace siptest
