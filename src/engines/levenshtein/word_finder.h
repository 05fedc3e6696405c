// CWordFinder: finds words in a wide text even when they are disguised by look-alike
// characters, inserted filler characters or case changes: a weighted edit-distance search
// whose costs come from per-character and per-pair tables, configured by the cost file
// "aswfconf.dat". A text is studied once (per-position skip costs, the positions where a
// match may start cheaply), then any number of words are matched against the study.
//
// Costs are integers in thousandths (kUnit = 1.0). Characters are UTF-16 units; only codes
// below 256 have table entries.
//
// Ownership: the finder owns its tables. Study returns a CStudy that the caller owns and that
// borrows the text: the text must outlive the study. Match returns a CMatchInfo that the
// caller owns. Both come from the host allocator.
// Threads: LoadCosts and the setters change the tables and run before the finder is shared;
// afterwards Study and Match only read it, from any number of threads at once. A study
// belongs to the thread that made it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/array.h"
#include "common/asmemory.h"

class CWordFinder : public ascommon::CASAllocated {
 public:
  static constexpr std::int32_t kUnit = 1000;
  static constexpr std::int32_t kWideSkipCost = 800;        // skipping a code of 256 or more
  static constexpr std::size_t kMaxTextLength = 200000;     // longer texts are not studied
  static constexpr std::size_t kMaxWordLength = 126;        // longer words are refused
  static constexpr std::size_t kMaxHits = 269;              // the scan stops there
  static constexpr std::size_t kMaxCostLine = 2000;         // characters read per line
  static constexpr std::uint64_t kStartStep = 2000;         // start positions grow by this
  static constexpr const char16_t* kCostFileName = u"aswfconf.dat";

  // What Match computes beyond "found".
  enum Detail : std::int32_t { kExistence = 0, kCount = 1, kPositions = 2 };

  // One studied text. tolerance (cost per word character, in units of 1.0) and detail are
  // the user's to set before matching.
  class CStudy : public ascommon::CASAllocated {
   public:
    CStudy() noexcept = default;
    ~CStudy();
    CStudy(const CStudy&) = delete;
    CStudy& operator=(const CStudy&) = delete;

    float tolerance = 0.0f;
    std::int32_t detail = kExistence;

    const char16_t* Text() const noexcept { return m_text; }
    std::size_t Length() const noexcept { return m_length; }
    bool HasWide() const noexcept { return m_wide; }
    // Whether the skip costs and start positions were built (false for a text longer than
    // kMaxTextLength, an empty one, or when memory ran out).
    bool IsComplete() const noexcept { return m_complete; }
    const std::int32_t* SkipCosts() const noexcept { return m_skip; }
    // Ascending positions (1 .. length - 1) of the characters a match may start at for free.
    const ascommon::CArray<std::uint32_t, kStartStep>& StartPositions() const noexcept {
      return m_starts;
    }

   private:
    friend class CWordFinder;
    const char16_t* m_text = nullptr;  // Not owned.
    std::size_t m_length = 0;
    bool m_wide = false;
    bool m_complete = false;
    std::int32_t* m_skip = nullptr;  // Owned (host allocator), m_length entries.
    ascommon::CArray<std::uint32_t, kStartStep> m_starts;
  };

  // The answer of Match. Positions are text offsets: where each kept hit ends (one past its
  // last character), best first; starts holds where each of them begins. A star word lists
  // the offset where it was found in positions, with a hit count of 0.
  struct CMatchInfo : public ascommon::CASAllocated {
    std::int32_t found = 0;
    std::int32_t hitCount = 0;
    std::int32_t bestScore = 0;
    std::int32_t worstScore = 0;
    ascommon::CArray<std::uint32_t> positions;
    ascommon::CArray<std::uint32_t> starts;
  };

  // Fills the tables: skipping costs kUnit, substituting costs kUnit except 0 between a
  // character and itself and between an ASCII letter and its other case.
  CWordFinder();
  ~CWordFinder();
  CWordFinder(const CWordFinder&) = delete;
  CWordFinder& operator=(const CWordFinder&) = delete;

  // Applies every line of "aswfconf.dat" in directory ("\" or "/" separated; null or empty:
  // the current folder). A missing or unreadable file leaves the tables as they are.
  void LoadCosts(const char16_t* directory);
  // Applies one line of a cost file (see the file's own comments; unparsable lines are
  // ignored).
  void ApplyCostLine(const char* line);

  // Codes outside 0..255 log a level-3 warning and change nothing.
  void SetThinCost(std::int32_t code, std::int32_t cost);
  void SetPairCost(std::int32_t first, std::int32_t second, std::int32_t cost);
  std::int32_t ThinCost(std::uint8_t code) const noexcept { return m_thin[code]; }
  std::int32_t PairCost(std::uint8_t first, std::uint8_t second) const noexcept {
    return m_pair[first][second];
  }

  // Studies text[0..length). Throws ASBadPtrException for a null text and ASMemException
  // when the study itself cannot be allocated; otherwise returns a study, incomplete when
  // the text is not studied. O(length).
  std::unique_ptr<CStudy> Study(const char16_t* text, std::size_t length) const;

  // Matches the zero-terminated word against the first textLength characters of the
  // study's text, with the study's tolerance and detail. A record with found 0 when no
  // position is within the tolerance; null when the word cannot be matched (null or empty
  // word, null study, incomplete study, word too long, no memory) and for a star word that
  // does not occur (ASMemException when its record cannot be allocated).
  // O(textLength x word length) time, O(word length + kMaxHits) memory.
  std::unique_ptr<CMatchInfo> Match(const char16_t* word, std::size_t textLength,
                                    const CStudy* study) const;

 private:
  struct Hit {
    std::int32_t cost;
    std::uint32_t end;
    std::uint32_t start;
  };
  // Fills hits with every end position whose cost is within threshold (at most kMaxHits,
  // only the first when stopAtFirst); returns how many.
  template <bool kTrackStart>
  std::size_t Scan(const char16_t* word, std::size_t wordLength, bool narrow,
                   std::size_t textLength, const CStudy& study, std::int32_t threshold,
                   bool stopAtFirst, Hit* hits) const;
  std::unique_ptr<CMatchInfo> MatchStar(const char16_t* word, std::size_t textLength,
                                        const CStudy& study) const;
  std::unique_ptr<CMatchInfo> Rank(const char16_t* word, std::size_t wordLength,
                                   std::int32_t detail, Hit* hits, std::size_t count) const;

  std::int32_t m_thin[256];
  std::int32_t m_pair[256][256];
  std::uint8_t m_lower[256];
};
