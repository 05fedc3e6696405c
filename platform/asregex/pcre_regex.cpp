// Compiling and matching with PCRE2.
//
// Compile: pcre2_compile with UTF, Unicode properties and matching over invalid UTF-8, then
// pcre2_jit_compile; when the JIT is not available (or kNoJit) the interpreter runs the
// pattern. Match: one pcre2_match over the subject with the thread's own state; the JIT
// stack starts at PCRE2's built-in 32 KiB and is replaced by one four times larger each
// time a match runs out of it, up to 8 MiB. Cost per match: linear in the subject for
// ordinary patterns, at most the match limit's steps for backtracking ones; memory per
// thread: one match data, one context and the JIT stack the thread's largest match needed.
// Tested by tests/engines/asregex/asregex_test.cpp.
#include "asregex/pcre_regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace asregex {

namespace {

// The calling thread's matching state, shared by every pattern the thread runs (matches of
// one thread never overlap). Built on the thread's first match.
class CThreadMatchState {
 public:
  CThreadMatchState() = default;
  CThreadMatchState(const CThreadMatchState&) = delete;
  CThreadMatchState& operator=(const CThreadMatchState&) = delete;
  ~CThreadMatchState() {
    pcre2_match_data_free(m_data);
    pcre2_match_context_free(m_context);
    pcre2_jit_stack_free(m_stack);
  }

  // False when the state cannot be built (out of memory).
  bool Ready() noexcept {
    if (m_data != nullptr) return true;
    pcre2_match_context* context = pcre2_match_context_create(nullptr);
    // One pair of offsets is all Find reports; captures beyond it are not kept.
    pcre2_match_data* data = pcre2_match_data_create(1, nullptr);
    if (context == nullptr || data == nullptr) {
      pcre2_match_context_free(context);
      pcre2_match_data_free(data);
      return false;
    }
    pcre2_set_match_limit(context, CPcreRegEx::kMatchLimit);
    pcre2_set_depth_limit(context, CPcreRegEx::kDepthLimit);
    pcre2_set_heap_limit(context, CPcreRegEx::kHeapLimitKiB);
    m_context = context;
    m_data = data;
    return true;
  }

  // Gives the JIT a stack four times the current one; false at the cap or without memory.
  bool GrowJitStack() noexcept {
    const std::size_t size = m_stackSize == 0 ? CPcreRegEx::kFirstJitStack : m_stackSize;
    if (size >= CPcreRegEx::kMaxJitStack) return false;
    const std::size_t grown = size * 4 < CPcreRegEx::kMaxJitStack ? size * 4
                                                                 : CPcreRegEx::kMaxJitStack;
    pcre2_jit_stack* stack = pcre2_jit_stack_create(CPcreRegEx::kFirstJitStack, grown, nullptr);
    if (stack == nullptr) return false;
    pcre2_jit_stack_assign(m_context, nullptr, stack);
    pcre2_jit_stack_free(m_stack);
    m_stack = stack;
    m_stackSize = grown;
    return true;
  }

  pcre2_match_data* data() const noexcept { return m_data; }
  pcre2_match_context* context() const noexcept { return m_context; }

 private:
  pcre2_match_data* m_data = nullptr;        // Owned.
  pcre2_match_context* m_context = nullptr;  // Owned.
  pcre2_jit_stack* m_stack = nullptr;        // Owned; null: PCRE2's built-in stack.
  std::size_t m_stackSize = 0;
};

thread_local CThreadMatchState t_matchState;

}  // namespace

CPcreRegEx::~CPcreRegEx() { pcre2_code_free(m_code); }

bool CPcreRegEx::Compile(const char* pattern) {
  if (m_code != nullptr || pattern == nullptr) return false;
  // \C could stop a match inside a UTF-8 sequence, so patterns may not use it.
  std::uint32_t options = PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF | PCRE2_NEVER_BACKSLASH_C;
  if (m_options & kCaseless) options |= PCRE2_CASELESS;
  if (m_options & kMultiline) options |= PCRE2_MULTILINE;
  if (m_options & kDotAll) options |= PCRE2_DOTALL;
  int error = 0;
  PCRE2_SIZE offset = 0;
  m_code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED, options,
                         &error, &offset, nullptr);
  if (m_code == nullptr) {
    m_errorOffset = offset;
    return false;
  }
  m_errorOffset = 0;
  m_jit = (m_options & kNoJit) == 0 && pcre2_jit_compile(m_code, PCRE2_JIT_COMPLETE) == 0;
  return true;
}

bool CPcreRegEx::Match(const char* text, std::size_t length, int /*flags*/) const {
  return Search(text, length, nullptr, nullptr);
}

bool CPcreRegEx::Find(const char* text, std::size_t length, std::size_t* start,
                      std::size_t* end) const {
  return Search(text, length, start, end);
}

bool CPcreRegEx::Search(const char* text, std::size_t length, std::size_t* start,
                        std::size_t* end) const noexcept {
  if (m_code == nullptr) return false;
  if (text == nullptr) {
    if (length != 0) return false;
    text = "";
  }
  CThreadMatchState& state = t_matchState;
  if (!state.Ready()) return false;
  int rc;
  do {
    rc = pcre2_match(m_code, reinterpret_cast<PCRE2_SPTR>(text), length, 0, 0, state.data(),
                     state.context());
  } while (rc == PCRE2_ERROR_JIT_STACKLIMIT && state.GrowJitStack());
  // No match, a limit reached or an error: all count as no match. 0 is a match whose
  // captures did not fit; the whole match's offsets are there.
  if (rc < 0) return false;
  const PCRE2_SIZE* offsets = pcre2_get_ovector_pointer(state.data());
  // \K can put the reported start after the end; the range then starts at its end.
  if (start != nullptr) *start = offsets[0] <= offsets[1] ? offsets[0] : offsets[1];
  if (end != nullptr) *end = offsets[1];
  return true;
}

}  // namespace asregex
