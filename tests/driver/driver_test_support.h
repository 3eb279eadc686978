// Shared helpers of the driver's unit tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Cli_Vossik.h"
#include "recording_platform.h"

// The sequence of entry points (and platform events) the fake saw.
inline std::vector<std::string> entry_sequence() {
  std::vector<std::string> names;
  for (const auto &call : fake_vendor()->snapshot()) names.push_back(call.entry);
  return names;
}

inline std::vector<FakeCall> writes() {
  return fake_vendor()->calls_of("MEGENCOM32_EscrevernoDispositivo");
}

inline std::string bytes(std::initializer_list<int> values) {
  std::string result;
  for (int v : values) result += static_cast<char>(v);
  return result;
}

inline FakeWriteAnswer answer(int32_t status, int32_t reported) {
  FakeWriteAnswer a;
  a.status = status;
  a.reported = reported;
  return a;
}

inline void script_writes(std::initializer_list<FakeWriteAnswer> answers) {
  for (const auto &a : answers) fake_vendor()->write_script.push_back(a);
}

// A unit-test fixture with the recording platform installed and the module
// bound to the fake vendor.
class BoundDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StartIT433TD());
    fake_vendor()->calls.clear();
  }
  RecordingPlatform platform_;
};
