// MailAssigner: one assignment pass of the centers extraction: each item walks the centers
// in order and joins the first one that lies within its join radius; an item no center
// takes becomes a new center.
// Ownership: borrows the items, centers and matrices of the handler. Threads: one pass at a
// time.
#pragma once

#include <cstdint>
#include <vector>

#include "engines/knn2/cluster.h"
#include "engines/knn2/distancematrix.h"
#include "engines/knn2/itemdescriptor.h"

class MailAssigner {
 public:
  MailAssigner(std::vector<ItemDescriptor>& items, SymetricDistanceMatrix& centersDistances,
               AsymetricDistanceMatrix& centersToItems) noexcept
      : m_items(items), m_centersDistances(centersDistances), m_centersToItems(centersToItems) {}

  // Clears every center's items and assigns each item; returns the indexes of the items
  // that no center took (each to become a new center). ASException when the sizes of the
  // centers and the matrices disagree.
  std::vector<std::uint32_t> AssignMails(std::vector<Cluster>& centers);

 private:
  std::vector<ItemDescriptor>& m_items;
  SymetricDistanceMatrix& m_centersDistances;
  AsymetricDistanceMatrix& m_centersToItems;
};
