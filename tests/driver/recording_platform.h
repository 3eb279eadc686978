// A platform seam for unit tests: library loads answer from the fake vendor
// linked into the test, and pauses and raw copies are not performed but
// logged into the fake's call log, in order with the vendor calls.
#pragma once

#include <map>
#include <set>
#include <string>

#include "fake_vendor/fake_vendor.h"
#include "platform.h"

struct RecordingPlatform {
  RecordingPlatform();   // installs itself and resets the fake and the table
  ~RecordingPlatform();  // puts the native platform back

  bool device_loads = true;
  bool barcode_loads = true;
  std::set<std::string> missing_entries;  // names the fake libraries lack
  std::vector<std::string> loads;         // file names asked to load
  std::string host_executable;            // what host_executable_path answers
  std::map<std::string, std::string> environment;  // variables that are set
  bool windows_port_rule = false;         // port names checked as for cmd.exe
  bool removal_fails = false;             // files cannot be removed
};

// The installed recorder.
RecordingPlatform &recorder();
