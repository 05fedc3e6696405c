// Joins a data folder read from the settings and a data file name with the product's "\"
// separator (the platform layer maps it when the file is opened).
#pragma once

#include "common/ustring.h"

namespace nsHttpModules {

enum class Separator { kUnlessPresent, kAlways };

// folder + "\" + file; with kUnlessPresent no second "\" is added behind a folder that
// already ends with one. Returns the string status (0, or -2 when memory ran out).
int JoinDataPath(const ascommon::usstring& folder, const char16_t* file, Separator separator,
                 ascommon::usstring& out);

}  // namespace nsHttpModules
