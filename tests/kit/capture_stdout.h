#pragma once
// What a piece of in-process work prints on standard output. The console
// buffers, so it is flushed before the capture ends.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/console.h"

namespace kit {

inline std::string stdout_of(const std::function<void()>& work) {
    testing::internal::CaptureStdout();
    try {
        work();
    } catch (...) {
        support::flush_console();
        testing::internal::GetCapturedStdout();
        throw;
    }
    support::flush_console();
    return testing::internal::GetCapturedStdout();
}

}  // namespace kit
