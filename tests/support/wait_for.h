#pragma once

#include <chrono>
#include <functional>

namespace testing_support {

// Polls `condition` until it holds or `timeout` passes, processing Qt events meanwhile when
// an application exists.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

}  // namespace testing_support
