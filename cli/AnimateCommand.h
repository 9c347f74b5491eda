// kelvara-cli animate: BMP pictures to a looping animated GIF.
#pragma once

#include "cli/Commands.h"

namespace kelvara::cli {

const Command& animateCommandEntry();

} // namespace kelvara::cli
