#include "CsvColumns.h"

namespace recording {

void SetColumnWord(kiv::T_RawRecord& record, const T_CsvColumn& column, uint16_t word) {
  switch (column.word) {
    case ECsvWord::eCount: record.count = word; break;
    case ECsvWord::eDeltTime: record.flags = kiv::T_RawRecord::FlagsOf(record.ScanState(), word); break;
    case ECsvWord::eDistance: record.rawDistance = word; break;
    case ECsvWord::eWidth: record.width = word; break;
    case ECsvWord::eAnaTemp: record.rawAnaTemp = word; break;
    case ECsvWord::eScanState: record.flags = kiv::T_RawRecord::FlagsOf(word, record.DeltTime()); break;
    case ECsvWord::eLaserPower: record.laserPower = word; break;
    case ECsvWord::eSupplyVoltage: record.rawSupplyVoltage = word; break;
    case ECsvWord::eImu: record.imu[static_cast<size_t>(column.imuChannel)] = word; break;
  }
}

}  // namespace recording
