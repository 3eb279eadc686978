// Shared helpers of the driver's unit tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Cli_Vossik.h"
#include "recording_platform.h"

// The sequence of entry points (and platform events) the fake saw.
inline std::vector<std::string> entrySequence() {
  std::vector<std::string> names;
  for (const auto &call : fakeVendor()->snapshot()) names.push_back(call.entry);
  return names;
}

inline std::vector<FakeCall> writes() {
  return fakeVendor()->callsOf("MEGENCOM32_EscrevernoDispositivo");
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

inline void scriptWrites(std::initializer_list<FakeWriteAnswer> answers) {
  for (const auto &a : answers) fakeVendor()->writeScript.push_back(a);
}

// A unit-test fixture with the recording platform installed and the module
// bound to the fake vendor.
class BoundDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StartIT433TD());
    fakeVendor()->calls.clear();
  }
  RecordingPlatform platform_;
};
