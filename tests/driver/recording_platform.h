// A platform seam for unit tests: library loads answer from the fake vendor
// linked into the test, and pauses, raw copies (their start and end) and the
// QR lock's taking and release are not performed (the lock: unless left to
// the real one) but logged into the fake's call log, in order with the
// vendor calls. The printer file is opened for real.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

#include "fake_vendor/fake_vendor.h"
#include "platform.h"

struct RecordingPlatform {
  RecordingPlatform();   // installs itself and resets the fake and the table
  ~RecordingPlatform();  // puts the native platform back

  bool deviceLoads = true;
  bool barcodeLoads = true;
  std::set<std::string> missingEntries;  // names the fake libraries lack
  std::vector<std::string> loads;         // file names asked to load
  std::string hostExecutable;            // what hostExecutablePath answers
  std::map<std::string, std::string> environment;  // variables that are set
  bool windowsPortRule = false;         // port names checked as for cmd.exe
  bool removalFails = false;             // files cannot be removed
  // The QR lock: forced to this answer, or (unset) the real lock is taken.
  std::optional<it433td::FileLock> lockAnswer;
  // What the raw copy answers, how long it takes to say so, and how it
  // stands when its window ends.
  it433td::RawCopy copyAnswer = it433td::RawCopy::Reported;
  uint64_t copyReportMs = 0;
  it433td::CopyEnd copyEnd = it433td::CopyEnd::WroteAll;
  uint64_t clockMs = 0;  // the monotonic clock; sleeps and copies advance it
};

// The installed recorder.
RecordingPlatform &recorder();
