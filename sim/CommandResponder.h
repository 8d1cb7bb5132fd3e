#pragma once
// The sensor's side of the command handshake: it takes command frames on the
// interrupt OUT endpoint, keeps the eight setting words (and the copy saved in
// flash by '!'), and answers each command, known or not, with one parameter
// frame on the interrupt IN endpoint echoing that command's number.
//
// Not locked: the device that holds it calls it under its own lock.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

class CCommandResponder {
 public:
  static constexpr size_t kParameterBytes = 18;
  // Factory settings, Values[0] to Values[7].
  static constexpr std::array<uint16_t, 8> kDefaultValues = {0x0102, 100, 50, 200, 150, 1000, 1000, 0};

  struct ReceivedCommand {
    uint8_t command;
    uint16_t data;
    uint16_t number;
  };

  CCommandResponder();

  // Power-on state: the saved settings, no command answered yet, the status
  // endpoint answering. The commands received so far are kept.
  void PowerUp();

  // A command frame on `endpoint`. Returns the command when the device takes
  // it (the command endpoint, at least five bytes): the settings commands
  // (A, B, C, S, 1, 2, 3, @, !) have changed the settings and a parameter
  // frame is due; the caller acts on the others (F, R) as it models them.
  // Returns nothing when the device refuses the frame.
  std::optional<ReceivedCommand> Receive(uint8_t endpoint, const uint8_t* data, size_t length);

  // An IN read on `endpoint`: true with the parameter frame when one is due.
  // A frame is never split: with less room than a whole frame the device
  // NAKs and keeps it for a later read.
  bool Send(uint8_t endpoint, uint8_t* out, size_t capacity, size_t& length);

  const std::array<uint16_t, 8>& Values() const { return mValues; }
  uint16_t LastCommandNumber() const { return mLastCommandNumber; }
  const std::vector<ReceivedCommand>& ReceivedCommands() const { return mReceived; }
  void SetStatusSilent(bool silent) { mStatusSilent = silent; }  // the status endpoint NAKs every read

 private:
  std::array<uint16_t, 8> mValues{};
  std::array<uint16_t, 8> mSavedValues{};
  uint16_t mLastCommandNumber = 0;
  bool mParametersPending = false;  // a parameter frame waits for the next IN read
  bool mStatusSilent = false;
  std::vector<ReceivedCommand> mReceived;
};

}  // namespace sim
