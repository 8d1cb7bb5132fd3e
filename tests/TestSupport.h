#pragma once
// Small helpers shared by the test programs: capturing what a step prints
// through the diagnostics sink, counting lines in it, and reading back the
// Count column of a recording.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "DiagCapture.h"

// Runs `step` with the standard output lines captured and returns what it
// printed; an exception from `step` passes on, with what it printed in `printed`.
template <typename Step>
std::string Quietly(Step step, std::string* printed = nullptr) {
  CDiagCapture capture;
  try {
    step();
  } catch (...) {
    if (printed) *printed = capture.Text();
    throw;
  }
  return capture.Text();
}

inline size_t Occurrences(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// The Count column of a recording file, and its header line in `header`.
inline std::vector<uint16_t> RecordedCounts(const std::string& name, std::string* header = nullptr) {
  std::ifstream file(name);
  std::string line;
  std::getline(file, line);
  if (header) *header = line;
  std::vector<uint16_t> counts;
  while (std::getline(file, line)) {
    counts.push_back(static_cast<uint16_t>(std::stoi(line.substr(0, line.find(',')))));
  }
  return counts;
}
