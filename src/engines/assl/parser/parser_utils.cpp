// The parser state: the operations the grammar's actions call, the committed-rule map and
// the count and routing of problems (the grammar decides commit or discard at a rule's
// end). Committing is one map lookup and insertion (O(1) at 1,499 buckets for files of a few
// thousand rules).
// Parse() drives the generated scanner (lexer.l) and parser (parser.y) over one buffer.
// Tested by tests/engines/assl/parser_test.cpp and tests/host/rules_test.cpp.
#include "engines/assl/parser/parser_utils.h"

#include <climits>
#include <string>

#include "common/asmemory.h"
#include "common/astrace.h"
#include "parser.hpp"
#include "lexer.hpp"

int assl_yyparse(yyscan_t scanner, assl::CParserState* state);

namespace assl {

namespace {
constexpr std::uint32_t kRuleBuckets = 1499;
}  // namespace

CParserState::CParserState(const char* fileName, IParserDiagnostics* diagnostics)
    : m_fileName(fileName != nullptr ? fileName : ""), m_diagnostics(diagnostics) {
  if (m_rules.InitHashTable(kRuleBuckets) != 0) AS_THROW(0, ASMemException, "memory problems");
  NewCurrentRule();
  if (m_current == nullptr) AS_THROW(0, ASMemException, "memory problems");
}

CParserState::~CParserState() {
  delete m_current;
  m_rules.ForEach([](const ascommon::sstring&, Entry& entry) { delete entry.rule; });
}

void CParserState::NewCurrentRule() { m_current = new (std::nothrow) CParsedRule(); }

CParsedRule& CParserState::Current() {
  if (m_current == nullptr) AS_THROW(0, ASException, "no current rule");
  return *m_current;
}

CParserState::ParseStatus CParserState::Parse(const char* data, std::size_t size) {
  if (size > static_cast<std::size_t>(INT_MAX) - 2) {
    AS_THROW(0, ASException, "rule file too large");
  }
  yyscan_t scanner = nullptr;
  if (assl_yylex_init_extra(this, &scanner) != 0) {
    AS_THROW(0, ASMemException, "memory problems");
  }
  struct ParseGuard {
    yyscan_t scanner;
    CParserState* state;
    ~ParseGuard() {
      assl_yylex_destroy(scanner);
      state->ReleaseParserBlocks();
    }
  } guard{scanner, this};
  assl_yy_scan_bytes(data, static_cast<int>(size), scanner);
  switch (assl_yyparse(scanner, this)) {
    case 0:
      return kParsed;
    case 2:
      return kStackExhausted;
    default:
      return kAborted;
  }
}

void* CParserState::ParserAlloc(std::size_t size) noexcept {
  for (void*& slot : m_parserBlocks) {
    if (slot == nullptr) return slot = ascommon::as_alloc_nt(size);
  }
  return nullptr;
}

void CParserState::ParserFree(void* block) noexcept {
  for (void*& slot : m_parserBlocks) {
    if (slot == block && block != nullptr) {
      ascommon::as_free(block);
      slot = nullptr;
    }
  }
}

void CParserState::ReleaseParserBlocks() noexcept {
  for (void*& slot : m_parserBlocks) {
    ascommon::as_free(slot);
    slot = nullptr;
  }
}

void CParserState::SetCurrentRuleName(const char* name) { Current().SetName(name); }

void CParserState::SetCurrentRuleKind(std::int32_t kind) { Current().SetKind(kind); }

void CParserState::AddItemValue(std::int32_t generic, std::int32_t specific,
                                const CItemValue& value) {
  CParsedRule& rule = Current();
  if (m_error) {
    AS_TRACE(3, "[parser] - error recovery: skipping until error flag is reset");
    return;
  }
  rule.AddItemValue(generic, specific, value);
}

const char* CParserState::RegisterString(const char* text, std::size_t length) {
  const char* copy = Current().RegisterString(text, length);
  if (copy == nullptr) AS_THROW(0, ASMemException, "memory problems");
  return copy;
}

CExprNode* CParserState::RegisterExpressionNode() {
  CExprNode* node = Current().NewExprNode();
  if (node == nullptr) AS_THROW(0, ASMemException, "memory problems");
  return node;
}

void CParserState::CommitCurrentRule() {
  CParsedRule& rule = Current();
  if (Entry* earlier = m_rules.Lookup(rule.Name())) {
    const std::string name(rule.Name().c_str());
    AS_TRACE(2, "[parser] - warning: %s - a rule with the same name already exists",
             name.c_str());
    AS_TRACE(2, "[parser] - warning: previous rule will be discarded and replaced with the "
                "new one");
    if (m_diagnostics != nullptr) {
      const std::string text = "warning: " + name + " - a rule with the same name already exists";
      m_diagnostics->Report(m_fileName, m_line, text.c_str());
      m_diagnostics->Report(m_fileName, m_line,
                            "warning: previous rule will be discarded and replaced with the "
                            "new one");
    }
    m_order[earlier->order] = nullptr;
    delete earlier->rule;
    m_rules.RemoveKey(rule.Name());
    ++m_replaced;
  }
  Entry entry;
  entry.rule = &rule;
  entry.order = m_order.GetSize();
  if (m_order.Add(&rule) != 0 || m_rules.SetAt(rule.Name(), entry) != 0) {
    if (m_order.GetSize() > entry.order) m_order.SetSize(entry.order, true);
    AS_THROW(0, ASMemException, "memory problems");
  }
  ++m_committed;
  NewCurrentRule();
  m_error = false;
  m_inputErrorReported = false;
  if (m_current == nullptr) AS_THROW(0, ASMemException, "memory problems");
}

void CParserState::DiscardCurrentRule() {
  delete m_current;
  NewCurrentRule();
  m_error = false;
  m_inputErrorReported = false;
  if (m_current == nullptr) AS_THROW(0, ASMemException, "memory problems");
}

void CParserState::ReportProblem(const char* message) {
  ++m_errors;
  if (m_diagnostics != nullptr) m_diagnostics->Report(m_fileName, m_line, message);
}

void CParserState::DiscardRuleWithErrors(const char* what, const char* name) {
  const std::string text =
      std::string("discarding ") + what + " " + name + " because it contains errors";
  ReportProblem(text.c_str());
  ++m_discarded;
  DiscardCurrentRule();
}

void CParserState::ConstructError(const char* message) {
  m_error = true;
  ReportProblem(message);
}

bool CParserState::InputError() {
  if (m_inputErrorReported) return false;
  m_inputErrorReported = true;
  ReportProblem("input error: text outside rules?");
  return true;
}

void CParserState::SyntaxError(const char* message) { ReportProblem(message); }

void CParserState::UnclosedComment() {
  ReportProblem("C-style comment not closed before end of file");
}

const CParsedRule* CParserState::FindRule(const char* name) const {
  const ascommon::sstring key(name);
  const Entry* entry = m_rules.Lookup(key);
  return entry != nullptr ? entry->rule : nullptr;
}

}  // namespace assl
