// Required literals of a pattern: a recursive pass over branches. In a branch each atom is
// read with its quantifier: a literal character that must occur at least once extends the
// current run (a repeat ends the run after one copy); a plain or capturing group that must
// occur gives the union of its branches' sets when every branch has one; anything else (an
// optional atom, another group, a class, an escape that is not a plain character, a dot or
// an anchor) ends the run. The branch keeps its best candidate: the longest shortest
// literal. A verb, a quote, an extended-mode or a mid-pattern case setting, or anything
// unknown gives up. O(pattern length * depth); depth at most kMaxDepth.
// Tested by tests/engines/assl/prefilter_test.cpp.
#include "engines/assl/prefilter/requiredliteral.h"

#include <algorithm>
#include <cstring>

namespace assl {

namespace {

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }
bool IsLetter(char c) noexcept { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

// Escapes of one non-literal item with no argument: types, anchors, \K and the control
// characters (a character that ends the run costs only a shorter literal). Not \E: outside
// a quote it is ignored, so a quantifier after it applies to the character before.
constexpr const char kBreakingEscapes[] = "dDwWsShHvVRNXbBAzZGKetnrfa";

// p at "(?": the option letters of an option setting or of a "(?letters:" group. end is
// set past the letters; false when the letters include one that changes how the pattern
// reads (extended mode) or unsets options.
bool ReadOptionLetters(const char* p, const char*& end, bool& caseless) {
  caseless = false;
  for (p += 2; IsLetter(*p) || *p == '-' || *p == '^'; ++p) {
    if (*p == 'x' || *p == '-' || *p == '^') return false;
    if (*p == 'i') caseless = true;
  }
  end = p;
  return true;
}

// p at '['; moves p past the class's closing ']' with PCRE2's reading of a leading ']',
// escapes and POSIX names. False when the class does not close.
bool SkipClass(const char*& p) {
  ++p;
  if (*p == '^') ++p;
  if (*p == ']') ++p;
  for (; *p != '\0'; ++p) {
    if (*p == ']') {
      ++p;
      return true;
    }
    if (*p == '\\') {
      if (p[1] == '\0' || p[1] == 'Q') return false;
      ++p;
      continue;
    }
    if (*p == '[' && (p[1] == ':' || p[1] == '.' || p[1] == '=')) {
      // A POSIX name: the terminator and ']' before any other ']' or "[:".
      const char terminator = p[1];
      for (const char* q = p + 2; q[0] != '\0' && q[1] != '\0'; ++q) {
        if (q[0] == '\\' && (q[1] == ']' || q[1] == '\\')) {
          ++q;
        } else if ((q[0] == '[' && q[1] == terminator) || q[0] == ']') {
          break;
        } else if (q[0] == terminator && q[1] == ']') {
          p = q + 1;
          break;
        }
      }
    }
  }
  return false;
}

// p at '('; moves p past the matching ')'. False for what could hide a ')' or change how
// the rest reads: comments, callouts, verbs, extended mode, quotes, an unclosed group.
bool SkipGroup(const char*& p) {
  std::size_t depth = 0;
  while (*p != '\0') {
    if (*p == '\\') {
      if (p[1] == '\0' || p[1] == 'Q') return false;
      p += 2;
    } else if (*p == '[') {
      if (!SkipClass(p)) return false;
    } else if (*p == '(') {
      if (p[1] == '*') return false;
      if (p[1] == '?') {
        if (p[2] == '#' || p[2] == 'C') return false;
        const char* end = nullptr;
        bool caseless = false;
        if (!ReadOptionLetters(p, end, caseless)) return false;
      }
      ++depth;
      ++p;
    } else if (*p == ')') {
      ++p;
      if (--depth == 0) return true;
    } else {
      ++p;
    }
  }
  return false;
}

// p at '{': when it opens a quantifier ({n}, {n,}, {n,m}) sets min and moves p past it.
bool ReadBraces(const char*& p, long& min) {
  const char* q = p + 1;
  if (!IsDigit(*q)) return false;
  min = 0;
  for (; IsDigit(*q); ++q) min = min < 100000 ? min * 10 + (*q - '0') : min;
  if (*q == ',') {
    for (++q; IsDigit(*q); ++q) {
    }
  }
  if (*q != '}') return false;
  p = q + 1;
  return true;
}

// One atom of the top level: its bytes when it is a literal character.
enum class Atom { kLiteral, kGroup, kOther, kGiveUp };

Atom ReadAtom(const char*& p, std::string& bytes) {
  bytes.clear();
  const char c = *p;
  switch (c) {
    case '|':  // an alternative needs none of this branch's literals
    case ')':
    case '*':
    case '+':
    case '?':
    case '{':  // a literal '{' here: rare, not worth PCRE2's exact reading
      return Atom::kGiveUp;
    case '(':
      if (p[1] != '?' || p[2] == ':') return p[1] == '*' ? Atom::kGiveUp : Atom::kGroup;
      return SkipGroup(p) ? Atom::kOther : Atom::kGiveUp;
    case '[':
      return SkipClass(p) ? Atom::kOther : Atom::kGiveUp;
    case '.':
    case '^':
    case '$':
      ++p;
      return Atom::kOther;
    case '\\': {
      const char e = p[1];
      if (e == '\0' || static_cast<unsigned char>(e) >= 0x80) return Atom::kGiveUp;
      if (!IsLetter(e) && !IsDigit(e)) {
        bytes.assign(1, e);
        p += 2;
        return Atom::kLiteral;
      }
      p += 2;
      if (IsDigit(e)) {  // a back reference or an octal character
        while (IsDigit(*p)) ++p;
        return Atom::kOther;
      }
      if (e == 'p' || e == 'P') {  // a property: \pL or \p{...}
        if (*p == '{') {
          const char* close = std::strchr(p, '}');
          if (close == nullptr) return Atom::kGiveUp;
          p = close + 1;
          return Atom::kOther;
        }
        if (*p == '\0' || static_cast<unsigned char>(*p) >= 0x80) return Atom::kGiveUp;
        ++p;
        return Atom::kOther;
      }
      return std::strchr(kBreakingEscapes, e) != nullptr ? Atom::kOther : Atom::kGiveUp;
    }
    default:
      break;
  }
  const auto lead = static_cast<unsigned char>(c);
  if (lead < 0x80) {
    bytes.assign(1, c);
    ++p;
    return Atom::kLiteral;
  }
  if (lead < 0xC0) return Atom::kGiveUp;  // a stray continuation byte
  bytes.assign(1, c);
  for (++p; (static_cast<unsigned char>(*p) & 0xC0) == 0x80 && bytes.size() < 4; ++p) {
    bytes.push_back(*p);
  }
  return Atom::kLiteral;
}

using CLiterals = std::vector<std::string>;

// Alternatives nest at most this deep; a set holds at most kMaxLiterals.
constexpr int kMaxDepth = 16;
constexpr std::size_t kMaxLiterals = 32;

std::size_t Shortest(const CLiterals& set) noexcept {
  std::size_t shortest = set.empty() ? 0 : set[0].size();
  for (const std::string& literal : set) shortest = std::min(shortest, literal.size());
  return shortest;
}

// Keeps candidate in best when its shortest literal is longer (fewer literals on a tie);
// sets whose shortest literal is below kMinRequiredLiteral are no candidates.
void Consider(CLiterals& best, CLiterals&& candidate) {
  const std::size_t shortest = Shortest(candidate);
  if (shortest < kMinRequiredLiteral || candidate.size() > kMaxLiterals) return;
  if (best.empty() || shortest > Shortest(best) ||
      (shortest == Shortest(best) && candidate.size() < best.size())) {
    best = std::move(candidate);
  }
}

bool ReadAlternatives(const char*& p, bool caseless, int depth, CLiterals& out);

// One branch, up to '|', ')' or the end: in out the best set of which every match of the
// branch holds one (empty: none).
bool ReadBranch(const char*& p, bool caseless, int depth, CLiterals& out) {
  out.clear();
  std::string run;
  std::string bytes;
  auto endRun = [&] {
    if (!run.empty()) Consider(out, CLiterals{run});
    run.clear();
  };
  while (*p != '\0' && *p != '|' && *p != ')') {
    if (p[0] == '(' && p[1] == '?' && p[2] != '#' && p[2] != 'C') {
      // An option setting changes the rest of the branch: give up if it is a case one.
      const char* end = nullptr;
      bool sets = false;
      if (!ReadOptionLetters(p, end, sets) || (*end == ')' && sets)) return false;
    }
    Atom atom = ReadAtom(p, bytes);
    if (atom == Atom::kGiveUp) return false;
    CLiterals group;
    if (atom == Atom::kGroup) {
      p += p[1] == '?' ? 3 : 1;
      if (depth >= kMaxDepth || !ReadAlternatives(p, caseless, depth + 1, group) || *p != ')') {
        return false;
      }
      ++p;
    }
    long min = 1;
    bool quantified = true;
    if (*p == '?' || *p == '*') {
      min = 0;
      ++p;
    } else if (*p == '+') {
      ++p;
    } else if (*p == '{') {
      if (!ReadBraces(p, min)) return false;
    } else {
      quantified = false;
    }
    if (quantified) {
      if (*p == '?' || *p == '+') ++p;  // lazy or possessive
      if (*p == '?' || *p == '*' || *p == '+' || *p == '{') return false;
    }
    if (atom == Atom::kLiteral && caseless) {
      const char b = bytes[0];
      // Under Unicode rules 'k' and 's' also match U+212A and U+017F; non-ASCII letters have
      // partners of other lengths.
      if (bytes.size() > 1 || (b | 0x20) == 'k' || (b | 0x20) == 's') {
        atom = Atom::kOther;
      } else if (b >= 'A' && b <= 'Z') {
        bytes[0] = static_cast<char>(b | 0x20);
      }
    }
    if (atom != Atom::kLiteral || min == 0) {
      endRun();
      if (atom == Atom::kGroup && min > 0) Consider(out, std::move(group));
      continue;
    }
    run += bytes;
    if (quantified) endRun();
  }
  endRun();
  return true;
}

// Branches separated by '|', up to ')' or the end: the union of their sets when every
// branch has one, else none.
bool ReadAlternatives(const char*& p, bool caseless, int depth, CLiterals& out) {
  out.clear();
  bool every = true;
  for (CLiterals branch;; ++p) {
    if (!ReadBranch(p, caseless, depth, branch)) return false;
    every = every && !branch.empty();
    if (every) out.insert(out.end(), branch.begin(), branch.end());
    if (*p != '|') break;
  }
  if (!every || out.size() > kMaxLiterals) out.clear();
  return true;
}

}  // namespace

bool RequiredLiterals(const char* pattern, std::vector<std::string>& literals, bool& caseless) {
  literals.clear();
  caseless = false;
  if (pattern == nullptr) return false;
  const char* p = pattern;
  if (p[0] == '(' && p[1] == '?' && p[2] != '#' && p[2] != 'C') {
    const char* end = nullptr;
    bool sets = false;
    if (!ReadOptionLetters(p, end, sets)) return false;
    if (*end == ')') {  // an option setting for the whole pattern
      caseless = sets;
      p = end + 1;
    }
  }
  if (!ReadAlternatives(p, caseless, 0, literals) || *p != '\0' || literals.empty()) {
    literals.clear();
    caseless = false;
    return false;
  }
  std::sort(literals.begin(), literals.end());
  literals.erase(std::unique(literals.begin(), literals.end()), literals.end());
  return true;
}

}  // namespace assl
