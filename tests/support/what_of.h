// WhatOf: runs a call and returns the what() of the exception it throws, or "(no exception)".
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace zztest {

inline std::string WhatOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no exception)";
}

}  // namespace zztest
