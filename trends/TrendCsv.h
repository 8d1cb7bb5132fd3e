#pragma once
// The buckets of a trends span as a CSV file: one line a bucket, oldest
// first, with its start in seconds of sensor time, its records, gaps and
// lost records, and the least, greatest and mean value of each channel
// over its records.

#include <string>
#include <vector>

#include "TrendChannels.h"

namespace trends {

// The file's header line, without its line end.
std::string TrendCsvHeader();
// One bucket's line, without its line end.
std::string TrendCsvLine(const T_Bucket& bucket);
// Writes the file; false, with the reason in `error`, when it cannot.
bool WriteTrendCsv(const std::string& path, const std::vector<T_Bucket>& buckets, std::string& error);

}  // namespace trends
