#pragma once
// How a failing check prints the project's values, which gtest would otherwise print as raw bytes:
// enums by their type and number, time points as milliseconds from their clock's start, endpoints as
// the user reads them.
#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <type_traits>

#include "core/endpoint.h"

namespace ov::test {

template <typename E>
requires std::is_enum_v<E>
void PrintEnum(E value, std::ostream* os) {
  *os << ::testing::internal::GetTypeName<E>() << '(' << +static_cast<std::underlying_type_t<E>>(value)
      << ')';
}

}  // namespace ov::test

// gtest finds a printer in the namespace of the type it prints.
namespace ov {
template <typename E>
requires std::is_enum_v<E>
void PrintTo(const E& value, std::ostream* os) { test::PrintEnum(value, os); }

inline void PrintTo(const Endpoint& where, std::ostream* os) {
  *os << where.Text() << " (time-out count " << where.count << ')';
}
}  // namespace ov

namespace ovs {
template <typename E>
requires std::is_enum_v<E>
void PrintTo(const E& value, std::ostream* os) { ov::test::PrintEnum(value, os); }
}  // namespace ovs

namespace std::chrono {
template <typename Clock, typename Duration>
void PrintTo(const time_point<Clock, Duration>& at, std::ostream* os) {
  *os << duration_cast<milliseconds>(at.time_since_epoch()).count() << " ms from the clock's start";
}
}  // namespace std::chrono
