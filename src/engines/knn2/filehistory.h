// CKNNFileHistory: a KNN history kept in files; it knows the clusters file's path (the
// directory, a '\' unless the directory ends with one, and the file name).
// Ownership and threads as for CAHistory (cahistory.h).
#pragma once

#include "common/ustring.h"
#include "engines/knn2/cahistory.h"

class CKNNFileHistory : public CAHistory {
 public:
  // ASException "Empty path supplyed to Knn FileHistory" for an empty directory, "Unable to
  // concatenate %s with %s" when the path cannot be built.
  CKNNFileHistory(const ascommon::usstring& directory, const ascommon::usstring& clustersFile);
  ~CKNNFileHistory() override;

  const ascommon::usstring& GetFilePath() const noexcept { return m_clustersPath; }

 protected:
  // directory + '\' (unless present) + name; -2 when memory runs out.
  static std::int32_t JoinPath(const ascommon::usstring& directory,
                               const ascommon::usstring& name, ascommon::usstring& out);

  ascommon::usstring m_clustersPath;
};
