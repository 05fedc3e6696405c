// CParserState: what the rule scanner and parser work on for one rule file, and the
// operations their semantic actions call.
//
// The state holds the error flag, the committed rules (a map of 1,499 buckets from name to
// parsed rule, plus their commit order), the current parsed rule, the line counter and the
// file name. Parse() runs the reentrant scanner and the pure parser over one buffer; all
// they share is this object, so two states may parse on two threads at once.
// Problems go to the trace ("[parser] ..." lines) and, as "message" with the line, to an
// optional diagnostics sink (IParserDiagnostics), which compilers' users know as
// FILE:LINE: message.
// Ownership: the state owns every parsed rule; the committed ones stay until the state
// dies. The file name and the sink are not owned and must outlive the state.
// Threads: one thread at a time per state. Tested by tests/engines/assl/ and
// tests/host/rules_test.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/array.h"
#include "common/map.h"
#include "common/ustring.h"
#include "engines/assl/parser/rule.h"

namespace assl {

// Receives each problem of a parse: the file name given to the state, the line and the
// message ("invalid condition", "syntax error, unexpected NAME, expecting ...", "warning: ...").
class IParserDiagnostics {
 public:
  virtual ~IParserDiagnostics() = default;
  virtual void Report(const char* fileName, int line, const char* message) = 0;
};

class CParserState {
 public:
  // Results of Parse.
  enum ParseStatus : std::int32_t {
    kParsed = 0,          // the input was read to its end (problems, if any, were reported)
    kAborted = 1,         // the parser gave up at the end of input while recovering
    kStackExhausted = 2,  // nesting beyond the parser stack's 10,000 entries
  };

  // Throws ASMemException "memory problems" when the map or the first rule cannot be made.
  explicit CParserState(const char* fileName, IParserDiagnostics* diagnostics = nullptr);
  ~CParserState();
  CParserState(const CParserState&) = delete;
  CParserState& operator=(const CParserState&) = delete;

  // Scans and parses size bytes (any bytes; zero bytes are ignored characters). Rules are
  // committed as they end. May be called once per state. Throws ASMemException when memory
  // runs out while a rule is built.
  ParseStatus Parse(const char* data, std::size_t size);

  // --- operations of the semantic actions; each of the first five throws ASException
  // "no current rule" when a failed allocation left the state without one.
  void SetCurrentRuleName(const char* name);
  void SetCurrentRuleKind(std::int32_t kind);
  // While the error flag is set these only log the "error recovery" line. Texts must come
  // from RegisterString, nodes from RegisterExpressionNode.
  void AddItemValue(std::int32_t generic, std::int32_t specific, const CItemValue& value);
  template <class Value>
  void AddItemValue(std::int32_t generic, std::int32_t specific, std::uint32_t key,
                    Value value) {
    AddItemValue(generic, specific, CItemValue(key, value));
  }
  // A copy of a token text kept with the current rule (ASMemException when out of memory).
  const char* RegisterString(const char* text, std::size_t length);
  // A new expression node kept with the current rule (ASMemException when out of memory).
  CExprNode* RegisterExpressionNode();
  // Inserts the current rule under its name (replacing and destroying an earlier one of
  // that name, with two warnings), then starts a new empty rule and clears the error flag.
  // The rule's name and kind must be set.
  void CommitCurrentRule();
  // Destroys the current rule, starts a new one and clears the error flag.
  void DiscardCurrentRule();

  // --- the grammar's and the scanner's reports. These count the problem and pass it to the
  // diagnostics sink; the trace line is written where the problem is found (parser.y,
  // lexer.l), so that it names the grammar or the scanner.
  // An error production closed a construct: sets the error flag.
  void ConstructError(const char* message);
  // Text outside rules: false when this stretch of such text was already reported.
  bool InputError();
  // The parser's own report ("syntax error, unexpected ...", "memory exhausted").
  void SyntaxError(const char* message);
  // The scanner met the end of input inside a comment.
  void UnclosedComment();
  // After a rule's closing brace, with the error flag set: reports the discard
  // ("discarding <what> <name> because it contains errors") and discards the rule.
  void DiscardRuleWithErrors(const char* what, const char* name);
  void NewLine() noexcept { ++m_line; }
  // Blocks of the generated scanner and parser (scanner state and buffer, the parser stack
  // beyond 200 entries, long messages), held by the state until freed or until Parse ends:
  // null when memory or the slots run out (the parser reports "memory exhausted", the
  // scanner throws).
  void* ParserAlloc(std::size_t size) noexcept;
  void ParserFree(void* block) noexcept;
  bool ErrorFlag() const noexcept { return m_error; }

  // --- results
  int Line() const noexcept { return m_line; }
  const char* FileName() const noexcept { return m_fileName; }
  std::uint32_t CommittedCount() const noexcept { return m_committed; }
  std::uint32_t DiscardedCount() const noexcept { return m_discarded; }
  std::uint32_t ReplacedCount() const noexcept { return m_replaced; }
  // Problems reported, warnings left out.
  std::uint32_t ErrorCount() const noexcept { return m_errors; }
  // The rules in the map, in the order of their (last) commit.
  template <class Visitor>
  void ForEachRule(Visitor&& visit) const {
    for (std::uint64_t i = 0; i < m_order.GetSize(); ++i) {
      if (m_order[i] != nullptr) visit(static_cast<const CParsedRule&>(*m_order[i]));
    }
  }
  // The committed rule of that name, or null.
  const CParsedRule* FindRule(const char* name) const;

 private:
  struct Entry {
    CParsedRule* rule = nullptr;  // Owned.
    std::uint64_t order = 0;      // index in m_order
  };
  CParsedRule& Current();
  void NewCurrentRule();
  void ReportProblem(const char* message);
  void ReleaseParserBlocks() noexcept;

  const char* m_fileName;                 // Not owned.
  IParserDiagnostics* m_diagnostics;      // Not owned; may be null.
  ascommon::CMap<ascommon::sstring, Entry> m_rules;
  ascommon::CArray<CParsedRule*, 64> m_order;  // not owned (m_rules owns); null when replaced
  CParsedRule* m_current = nullptr;       // Owned.
  // At most eight at once: four of the scanner and one while it grows its buffer stack; the
  // parser stack being grown, its successor and one message.
  void* m_parserBlocks[12] = {};          // Owned.
  bool m_error = false;
  bool m_inputErrorReported = false;
  int m_line = 1;
  std::uint32_t m_committed = 0, m_discarded = 0, m_replaced = 0, m_errors = 0;
};

}  // namespace assl
