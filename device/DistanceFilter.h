#pragma once
// The exponential filters of the measured distance: the filtered distance,
// the variance of the distance about it and its standard deviation. The
// controller runs one over every record for the control panel, and the
// trend store runs one over the same records, so both show the same values.

#include <cmath>

class CDistanceFilter {
 public:
  // A distance at or above this does not feed the filters (the laser-off
  // value 6000.0 among them).
  static constexpr double kMaxDistance = 2000.0;
  static constexpr double kDistFiltInc = 0.001;  // weight of the new distance
  static constexpr double kDistFiltDec = 0.999;  // weight of the previous filtered distance
  static constexpr double kVarFiltInc = 0.001;   // weight of the new squared deviation
  static constexpr double kVarFiltDec = 0.999;   // weight of the previous variance

  // One distance into the filters, when it is below kMaxDistance; the
  // deviation is taken from the filtered distance this step computed.
  // False (and nothing changed) for a distance out of range.
  static bool Step(double distance, double& filtered, double& variance, double& stdDev) {
    if (!(distance < kMaxDistance)) {
      return false;
    }
    const double f = kDistFiltDec * filtered + distance * kDistFiltInc;
    filtered = f;
    const double e = distance - f;
    const double v = e * e * kVarFiltInc + variance * kVarFiltDec;
    variance = v;
    stdDev = std::sqrt(v);
    return true;
  }

  bool Add(double distance) { return Step(distance, mFiltered, mVariance, mStdDev); }
  double Filtered() const { return mFiltered; }
  double Variance() const { return mVariance; }
  double StdDev() const { return mStdDev; }

 private:
  double mFiltered = 0.0;
  double mVariance = 0.0;
  double mStdDev = 0.0;
};
