#pragma once

#include "device/failure.h"

#include <functional>
#include <optional>

// The Failure that work raised, or nothing when it returned normally.
inline std::optional<Failure> failureOf(const std::function<void()> &work) {
  try {
    work();
  } catch (const Failure &failure) {
    return failure;
  }
  return std::nullopt;
}

// The number of the Failure that work raised, or 0 when it returned normally.
inline int failureNumber(const std::function<void()> &work) {
  const auto failure = failureOf(work);
  return failure ? failure->number() : 0;
}
