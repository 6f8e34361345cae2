// Turns a file chooser call (title, default file, "description|patterns|..." filter text
// and filter index) into what the chooser is told.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ui/modal_seam.h"

FileChooserRequest BuildFileChooserRequest(bool save, std::u16string_view title,
                                           std::u16string_view defaultFile,
                                           std::u16string_view pattern, std::int64_t patternIndex);

// Whether name may be proposed: not empty, no control character and none of " * / : < > ?
// \ and |.
bool ProposableFileName(std::u16string_view name);
