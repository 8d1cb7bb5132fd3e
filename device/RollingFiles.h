#pragma once
// The files a recording run has opened, oldest first, kept to the last few:
// what --max-files asks of the CSV and the MCAP files alike.

#include <cstdint>
#include <deque>
#include <string>

// The files a run has opened, oldest first, kept to the last `maxFiles`.
class CRollingFiles {
 public:
  // A file opened: with more than `maxFiles` (not 0) files, the oldest are
  // removed, each said in one line.
  void Opened(const std::string& path, uint32_t maxFiles);

 private:
  std::deque<std::string> mFiles;
};
