#pragma once

#include <array>
#include <cstdint>

#include "ReaderConfig.h"

class QCheckBox;

namespace Ui {
class MainWin;
}

// The settings controls of the main window's form as config::Settings, and
// back. The form is the only state: nothing here remembers a value.
namespace binding {

using BoxRow = std::array<QCheckBox*, 8>;  // box i stands for bit i

// The buzzer pattern that the reader plays on a read, and the one that the
// Test page's L command sends: both are a byte, one box to a 60 ms slot.
BoxRow BuzzerBoxes(const Ui::MainWin& ui);
BoxRow LBuzzerBoxes(const Ui::MainWin& ui);
uint8_t BoxesToBits(const BoxRow& boxes);

config::Settings ControlsToSettings(const Ui::MainWin& ui);
void SettingsToControls(Ui::MainWin& ui, const config::Settings& settings);

}  // namespace binding
