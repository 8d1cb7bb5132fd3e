#include "TrendCsv.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace trends {

std::string TrendCsvHeader() {
  std::string line = "time_s,records,gaps,missing";
  for (int c = 0; c < kChannels; ++c) {
    const std::string name = ChannelName(c);
    line += "," + name + "_min," + name + "_max," + name + "_mean";
  }
  return line;
}

std::string TrendCsvLine(const T_Bucket& bucket) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f,%u,%u,%u", bucket.StartSeconds(), bucket.records, bucket.gaps, bucket.missing);
  std::string line = text;
  for (int c = 0; c < kChannels; ++c) {
    // Shortest text that reads back as the same float; the mean as a double.
    std::snprintf(text, sizeof text, ",%.9g,%.9g,%.10g", static_cast<double>(bucket.min[c]),
                  static_cast<double>(bucket.max[c]), bucket.Mean(c));
    line += text;
  }
  return line;
}

bool WriteTrendCsv(const std::string& path, const std::vector<T_Bucket>& buckets, std::string& error) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "w"), std::fclose);
  if (!file) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string text = TrendCsvHeader() + "\n";
  for (const T_Bucket& bucket : buckets) {
    if (bucket.records > 0) {
      text += TrendCsvLine(bucket) + "\n";
    }
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
  const int writeErrno = errno;
  std::FILE* raw = file.release();
  if (std::fclose(raw) != 0 || !written) {
    error = "cannot write " + path + ": " + std::strerror(written ? errno : writeErrno);
    return false;
  }
  return true;
}

}  // namespace trends
