#include "datapath.h"

namespace nsHttpModules {

int JoinDataPath(const ascommon::usstring& folder, const char16_t* file, Separator separator,
                 ascommon::usstring& out) {
  int status = out.assign(folder.c_str() != nullptr ? folder.c_str() : u"");
  if (status != 0) return status;
  const bool endsWithSeparator =
      folder.length() > 0 && folder.c_str()[folder.length() - 1] == u'\\';
  if (separator == Separator::kAlways || !endsWithSeparator) {
    status = out.append(u"\\");
    if (status != 0) return status;
  }
  return out.append(file);
}

}  // namespace nsHttpModules
