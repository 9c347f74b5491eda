// kelvara-cli transition: an animated GIF passing from one picture to another by an effect.
#pragma once

#include "cli/Commands.h"

namespace kelvara::cli {

const Command& transitionCommandEntry();

} // namespace kelvara::cli
