#pragma once
// The sensor's commands in one place: the byte each one sends, the name of
// the setting it changes, the controller operation that sends it, the
// control panel's button and box for it, the values the panel accepts from
// that box, and where the parameter block echoes the setting. The
// controller's operations, the panel's wiring and the tests all read it.

#include <cstdint>

#include "SkarvIO.h"

struct T_Command {
  uint8_t Letter = 0;
  // The setting's name as the panel's messages give it: its button's caption
  // without the leading "Set ".
  const char* Name = nullptr;
  // A setting is sent by Setter with the value asked for, cut to 16 bits; a
  // command without a box by Operation, always with Value.
  void (CSkarvIO::*Setter)(int) = nullptr;
  void (CSkarvIO::*Operation)() = nullptr;
  uint16_t Value = 0;
  // Object names of the panel's button that sends the command and of the box
  // it reads (none for a command without a box).
  const char* Button = nullptr;
  const char* Box = nullptr;
  // What the panel accepts from the box.
  int32_t Min = 0;
  int32_t Max = 0;
  // The entry of the parameter block's Values that echoes the setting and is
  // shown in its box when a fresh block arrives; 0 when none is.
  int ValueIndex = 0;
};

inline constexpr int32_t kSettingMax = 0xFFFF;

// In the order of the panel's buttons: the laser toggle, Restore, the
// settings, then Save.
inline constexpr T_Command kCommands[] = {
    {.Letter = 'F', .Name = "Laser On", .Operation = &CSkarvIO::LaserOn, .Value = 1, .Button = "ButtonLaserState"},
    {.Letter = 'F', .Name = "Laser Off", .Operation = &CSkarvIO::LaserOff, .Value = 0, .Button = "ButtonLaserState"},
    {.Letter = '@',
     .Name = "Restore Parameters",
     .Operation = &CSkarvIO::RestoreParams,
     .Button = "ButtonUpdateAllParameters"},
    {.Letter = 'A',
     .Name = "Far Gain",
     .Setter = &CSkarvIO::SetFarGain,
     .Button = "ButtonSetFarGain",
     .Box = "ValBoxFarGain",
     .Max = kSettingMax,
     .ValueIndex = 1},
    {.Letter = 'B',
     .Name = "Close Gain",
     .Setter = &CSkarvIO::SetCloseGain,
     .Button = "ButtonSetCloseGain",
     .Box = "ValBoxCloseGain",
     .Max = kSettingMax,
     .ValueIndex = 2},
    {.Letter = 'C',
     .Name = "Threshold",
     .Setter = &CSkarvIO::SetThreshold,
     .Button = "ButtonSetThreshold",
     .Box = "ValBoxThreshold",
     .Max = kSettingMax,
     .ValueIndex = 3},
    {.Letter = 'S',
     .Name = "APD Voltage",
     .Setter = &CSkarvIO::SetAPDVoltage,
     .Button = "ButtonSetAPDVoltage",
     .Box = "ValBoxAPDVoltage",
     .Max = kSettingMax,
     .ValueIndex = 4},
    // The rotation time's read-out doubles as the scan rate's input; the
    // parameter block does not echo the rate.
    {.Letter = 'R',
     .Name = "Scan Rate",
     .Setter = &CSkarvIO::SetRotationRate,
     .Button = "ButtonSetScanRate",
     .Box = "ValBoxRotTime",
     .Max = kSettingMax},
    {.Letter = '1',
     .Name = "Cal Dist Gain",
     .Setter = &CSkarvIO::SetCalDistGain,
     .Button = "ButtonSetCalDistGain",
     .Box = "ValBoxCalDistGain",
     .Max = kSettingMax,
     .ValueIndex = 5},
    {.Letter = '2',
     .Name = "Cal Width Gain",
     .Setter = &CSkarvIO::SetCalWidthGain,
     .Button = "ButtonSetCalWidthGain",
     .Box = "ValBoxCalWidthGain",
     .Max = kSettingMax,
     .ValueIndex = 6},
    {.Letter = '3',
     .Name = "Cal Offset",
     .Setter = &CSkarvIO::SetCalOffset,
     .Button = "ButtonSetCalOffset",
     .Box = "ValBoxCalOffset",
     .Max = kSettingMax,
     .ValueIndex = 7},
    {.Letter = '!', .Name = "Save Params", .Operation = &CSkarvIO::SaveParams, .Button = "ButtonSaveParams"},
};

// The status request, which only the handshake sends (with value 0).
inline constexpr uint8_t kStatusRequestLetter = ' ';

// The table's entry of a setting or of a command without a box; an
// operation missing from the table throws (the tests walk every operation).
constexpr const T_Command& CommandOf(void (CSkarvIO::*setter)(int)) {
  for (const T_Command& command : kCommands) {
    if (command.Setter == setter) return command;
  }
  throw "the setting is missing from the command table";
}

constexpr const T_Command& CommandOf(void (CSkarvIO::*operation)()) {
  for (const T_Command& command : kCommands) {
    if (command.Operation == operation) return command;
  }
  throw "the command is missing from the command table";
}

// Found once, when the program starts. Not a constant expression: GCC's
// UndefinedBehaviorSanitizer cannot compare member pointers at compile time.
template <auto kOperation>
inline const T_Command& kCommandOf = CommandOf(kOperation);
