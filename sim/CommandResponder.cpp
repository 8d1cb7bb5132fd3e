#include "CommandResponder.h"

#include "SensorIdentity.h"

namespace sim {

CCommandResponder::CCommandResponder() : mValues(kDefaultValues), mSavedValues(kDefaultValues) {}

void CCommandResponder::PowerUp() {
  mValues = mSavedValues;
  mLastCommandNumber = 0;
  mParametersPending = false;
  mStatusSilent = false;
}

std::optional<CCommandResponder::ReceivedCommand> CCommandResponder::Receive(uint8_t endpoint, const uint8_t* data,
                                                                             size_t length) {
  if (endpoint != SensorIdentity::kCommandEndpoint || data == nullptr || length < 5) {
    return std::nullopt;
  }
  const ReceivedCommand command{data[0], static_cast<uint16_t>(data[1] << 8 | data[2]),
                                static_cast<uint16_t>(data[3] << 8 | data[4])};
  switch (command.command) {
    case 'A': mValues[1] = command.data; break;
    case 'B': mValues[2] = command.data; break;
    case 'C': mValues[3] = command.data; break;
    case 'S': mValues[4] = command.data; break;
    case '1': mValues[5] = command.data; break;
    case '2': mValues[6] = command.data; break;
    case '3': mValues[7] = command.data; break;
    case '@': mValues = kDefaultValues; break;
    case '!': mSavedValues = mValues; break;
    default:  // F and R are the device's own; ' ' (status request) and unknown commands change nothing
      break;
  }
  // Every command, known or not, is acknowledged with a parameter frame.
  mLastCommandNumber = command.number;
  mParametersPending = true;
  mReceived.push_back(command);
  return command;
}

bool CCommandResponder::Send(uint8_t endpoint, uint8_t* out, size_t capacity, size_t& length) {
  if (endpoint != SensorIdentity::kStatusEndpoint || !mParametersPending || mStatusSilent ||
      capacity < kParameterBytes) {
    return false;
  }
  for (size_t i = 0; i < mValues.size(); ++i) {
    PutWireWord(out + 2 * i, mValues[i]);
  }
  PutWireWord(out + 16, mLastCommandNumber);
  length = kParameterBytes;
  mParametersPending = false;
  return true;
}

}  // namespace sim
