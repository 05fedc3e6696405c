// The clusters file's path of a file-kept KNN history. Tested by
// tests/engines/knn2/history_test.cpp.
#include "engines/knn2/filehistory.h"

#include "common/astrace.h"

std::int32_t CKNNFileHistory::JoinPath(const ascommon::usstring& directory,
                                       const ascommon::usstring& name, ascommon::usstring& out) {
  std::int32_t status = out.assign(directory);
  const std::size_t length = out.length();
  if (status == 0 && length > 0 && out.c_str()[length - 1] != u'\\' &&
      out.c_str()[length - 1] != u'/') {
    status = out.append(u"\\");
  }
  if (status == 0) status = out.append(name);
  return status;
}

CKNNFileHistory::CKNNFileHistory(const ascommon::usstring& directory,
                                 const ascommon::usstring& clustersFile) {
  AS_TRACE(3, "starting %s constructor", "CKNNFileHistory");
  if (directory.empty()) AS_THROW(0, ASException, "Empty path supplyed to Knn FileHistory");
  if (JoinPath(directory, clustersFile, m_clustersPath) != 0) {
    const ascommon::sstring dir = directory.to_sstring(), file = clustersFile.to_sstring();
    AS_THROW(0, ASException, "Unable to concatenate %s with %s",
             dir.is_null() ? "" : dir.c_str(), file.is_null() ? "" : file.c_str());
  }
  AS_TRACE(3, "finishing %s constructor", "CKNNFileHistory");
}

CKNNFileHistory::~CKNNFileHistory() = default;
