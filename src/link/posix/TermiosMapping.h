#pragma once

#include <termios.h>

#include "SerialServices.h"

// How the line settings map onto termios and back: raw bytes in both
// directions, framing and flow control from the settings.
namespace termios_mapping {

// False when the settings ask for something termios cannot do; t keeps the bits
// that the settings do not decide.
bool ToTermios(const LineSettings& settings, termios& t);

// Fills the fields of settings that termios carries; the others are left as
// they are.
void FromTermios(const termios& t, LineSettings& settings);

}  // namespace termios_mapping
