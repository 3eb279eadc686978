// A header of the naming check's own test (tests/naming): no build compiles
// these files; each holds one name that breaks the rule, which the check
// must report.
#pragma once

inline int Header_Side = 0;
