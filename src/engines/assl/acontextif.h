// ContextInterface: the engine's view of one item during one run of the rules: the content
// that conditions inspect, the variables that actions write, and one state record per rule
// (running / overridden / evaluated flags, the result and the action-done flags).
//
// The content accessors answer for the kind of context that has the content: the HTTP
// accessors of a mail context and the mail accessors of an HTTP context yield nothing (null
// pointers, empty views), and the caller throws its own error. Texts are views into the
// item's blackbox (never copied), valid while the item lives.
// An optional match observer (null in production) hears what each condition matched, for
// the rule writer's "rules test" command; conditions report only when it is set.
// Ownership: created by the caller for one item, destroyed after the results are read.
// Threads: one thread per context; any number of contexts may run on one engine at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/array.h"
#include "common/asmemory.h"
#include "common/map.h"
#include "common/ustring.h"
#include "engines/assl/rules/crule.h"
#include "engines/emlcomponents/emlheaders.h"

class AItem;
class CHTMLParser2;
class CBBFacilitator;
namespace nsEmlComponents {
class CPartsTree;
}

namespace assl {

class CPrescanState;

// A stretch of UTF-8 text (not owned); data is null when the text is absent.
struct CTextView {
  const char* data = nullptr;
  std::size_t size = 0;
  bool IsPresent() const noexcept { return data != nullptr; }
};

// The KNN answer cached in a mail context (category name and probability in percent).
struct CKnnResult {
  bool computed = false;
  ascommon::sstring category;
  double probability = 0.0;
};

// Hears what conditions matched while rules run (the "rules test" command).
class IMatchObserver {
 public:
  virtual ~IMatchObserver() = default;
  // A condition of the current rule matched text (UTF-8, the matched stretch) in where.
  virtual void OnMatch(const char* ruleName, std::int32_t whereCode, const char* text,
                       std::size_t size) = 0;
  // A condition or action of the current rule ran the named heuristic, which gave value.
  virtual void OnHeuristic(const char* ruleName, const char* heuristic, double value) = 0;
};

class ContextInterface : public ascommon::CASAllocated {
 public:
  enum Type : std::int32_t { kHttp = 1, kMail = 2 };

  ContextInterface() noexcept;
  virtual ~ContextInterface();
  ContextInterface(const ContextInterface&) = delete;
  ContextInterface& operator=(const ContextInterface&) = delete;

  // Binds the item's content (throws the context's ASBadPtrException texts).
  virtual void Init(AItem* item) = 0;
  virtual std::int32_t GetType() const noexcept = 0;

  // --- variables. The getters throw ASException "variable with given name does not exist"
  // (trace level 3); Find* return null instead. Setters create or replace; ASMemException
  // "memory problems" when memory runs out.
  std::int32_t GetIntVariable(const char* name) const;
  const ascommon::sstring& GetStringVariable(const char* name) const;
  const std::int32_t* FindIntVariable(const char* name) const noexcept;
  const ascommon::sstring* FindStringVariable(const char* name) const noexcept;
  void SetIntVariable(const char* name, std::int32_t value);
  void SetStringVariable(const char* name, const char* value);

  // --- state records: one per rule index, copied from the engine's template before rules
  // run (ASException "allocation errors" when the copy fails). GetState throws the array's
  // invalid-index exception for an index past the records.
  void CopyStateRecords(const ascommon::CArray<CRule::StateInfo>& records);
  CRule::StateInfo& GetState(std::uint64_t index);
  const CRule::StateInfo* FindState(std::uint64_t index) const noexcept;
  std::uint64_t GetStateCount() const noexcept { return m_states.GetSize(); }

  // The name of the rule executing now (the rule's own text; null outside any rule).
  const char* GetCurrentRuleName() const noexcept { return m_currentRule; }
  void SetCurrentRuleName(const char* name) noexcept { m_currentRule = name; }

  IMatchObserver* GetObserver() const noexcept { return m_observer; }
  void SetObserver(IMatchObserver* observer) noexcept { m_observer = observer; }

  // What the engine's literal pre-scan found in this item's texts (prefilter/
  // prescanindex.h), created on first use (std::bad_alloc when memory runs out) and
  // forgotten by CopyStateRecords, which starts every run of the rules.
  CPrescanState& PrescanState();

  // --- HTTP content (empty in a mail context).
  virtual CTextView GetUrl() const noexcept { return {}; }
  virtual const CHTMLParser2* GetHtmlParser() const noexcept { return nullptr; }
  // The page as received, as is or lower-cased (UTF-8).
  virtual CTextView GetHtmlContent(bool lower) const noexcept { (void)lower; return {}; }
  // The page text without tags, as is or lower-cased (UTF-8).
  virtual CTextView GetParsedContent(bool lower) const noexcept { (void)lower; return {}; }
  // The element text for an HTML where code 282 (title) to 288 (scripts), UTF-8.
  virtual CTextView GetElementText(std::int32_t whereCode) const { (void)whereCode; return {}; }
  // The content size in bytes (item key 30006); 0 in a mail context.
  virtual std::int32_t GetContentSize() const { return 0; }

  // --- mail content (null in an HTTP context).
  virtual nsEmlComponents::CHeadersMap* GetHeaders() noexcept { return nullptr; }
  virtual const nsEmlComponents::CPartsTree* GetPartsTree() const noexcept { return nullptr; }
  virtual CBBFacilitator* GetFacilitator() noexcept { return nullptr; }
  virtual CKnnResult* GetKnnResult() noexcept { return nullptr; }
  // Marks the mail item as changed; throws "invalid reference to dirty flag" when the
  // context has no flag (every HTTP context).
  virtual void SetDirty();

 private:
  ascommon::CMap<ascommon::sstring, std::int32_t> m_intVariables;
  ascommon::CMap<ascommon::sstring, ascommon::sstring> m_stringVariables;
  ascommon::CArray<CRule::StateInfo> m_states;
  const char* m_currentRule = nullptr;  // not owned: a rule's name
  IMatchObserver* m_observer = nullptr;  // not owned
  std::unique_ptr<CPrescanState> m_prescan;  // Owned; null until the first pre-scan.
};

}  // namespace assl
