#pragma once
// Which of several virtual sensors a recording or a scan came from: each
// stands in a room of its own size, so the middle of the distances seen
// tells the rooms apart (a room turned about the sensor keeps its spread of
// distances; only its size moves the median).

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "VirtualSensor.h"

// Sorts `values` on the way.
inline double Median(std::vector<double>& values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Over the whole turn of the sensor's room.
inline double MedianRoomDistance(const sim::CVirtualSensor& sensor) {
  std::vector<double> distances;
  for (int i = 0; i < 3600; ++i) distances.push_back(sensor.Room().DistanceAt(2.0 * std::numbers::pi * i / 3600));
  return Median(distances);
}

// The Distance column of a recording.
inline double MedianRecordedDistance(const std::string& name) {
  std::ifstream file(name);
  std::string line;
  std::getline(file, line);
  std::vector<double> distances;
  while (std::getline(file, line)) {
    const size_t second = line.find(',', line.find(',') + 1);
    distances.push_back(std::stod(line.substr(second + 1)));
  }
  return Median(distances);
}

// The sensor of `sensors` whose room the median distance fits best.
inline size_t ClosestSensor(double median, const std::vector<const sim::CVirtualSensor*>& sensors) {
  size_t best = 0;
  for (size_t i = 1; i < sensors.size(); ++i) {
    if (std::abs(MedianRoomDistance(*sensors[i]) - median) < std::abs(MedianRoomDistance(*sensors[best]) - median)) {
      best = i;
    }
  }
  return best;
}
