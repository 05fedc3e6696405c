// Plain-text summaries and the operations on summaries.
// The plain-text summariser is one pass over the text with four states (start, in a word,
// in blanks, at a possible link); the run-length form, the pattern rewrite and the token
// cover test are single scans of their input. Every output grows through CSymbolWriter, so
// each function costs O(input) time and O(log output) allocations (the token cover test:
// O(tokens x summary x token length), tokens being a handful of header codes).
// Tested by tests/engines/summarize/summarize_test.cpp.
#include "engines/summarize/textsummary.h"

#include <cstdio>
#include <cstring>

#include "engines/summarize/symbolwriter.h"

namespace summarize {
namespace {

using summary_detail::CSymbolWriter;

enum TextState : std::int32_t { kStart = 0, kInWord = 1, kInBlanks = 2, kAtLink = 3 };

bool IsBlank(char16_t c) noexcept { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// A character that may open a link: "<http://", "http://", "www." in either case.
bool MayOpenLink(char16_t c) noexcept {
  return c == u'<' || c == u'h' || c == u'w' || c == u'H' || c == u'W';
}

// Whether text starts with the lower-case ASCII word, ASCII letters compared in either case.
bool StartsNoCase(const char16_t* text, const char* word) noexcept {
  for (; *word != '\0'; ++text, ++word) {
    char16_t c = *text;
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != static_cast<char16_t>(*word)) return false;
  }
  return true;
}

std::size_t SkipWord(const char16_t* text, std::size_t length, std::size_t i) noexcept {
  while (i < length && !IsBlank(text[i])) ++i;
  return i;
}

}  // namespace

std::int32_t SummarizeText(const char16_t* text, std::size_t length, std::int32_t& state,
                           ascommon::sstring& out) {
  if (text == nullptr || length == 0) return -1;
  if (state < kStart || state > kAtLink) state = kStart;
  CSymbolWriter writer(out);
  std::size_t i = 0;
  while (i < length && !writer.Failed()) {
    switch (state) {
      case kStart:
      case kInBlanks:
        for (; i < length && IsBlank(text[i]); ++i) {
          if (text[i] == u'\n') writer.Put('N');
        }
        if (i < length) state = MayOpenLink(text[i]) ? kAtLink : kInWord;
        break;
      case kAtLink: {
        if (text[i] == u'<' && length - i > 1) ++i;
        const std::size_t left = length - i;
        std::size_t prefix = 0;
        if (left > 7 && StartsNoCase(text + i, "http://")) {
          prefix = 7;
        } else if (left >= 5 && StartsNoCase(text + i, "www.")) {
          prefix = 4;
        }
        if (prefix == 0) {
          state = kInWord;
          break;
        }
        writer.Put('U');
        i = SkipWord(text, length, i + prefix);
        state = kInBlanks;
        break;
      }
      default:  // kInWord
        writer.Put('W');
        i = SkipWord(text, length, i);
        state = kInBlanks;
        break;
    }
  }
  return writer.Status();
}

std::int32_t FinishSummary(ascommon::sstring& summary) {
  CSymbolWriter writer(summary);
  const std::size_t length = summary.length();
  if (length == 0 || summary.c_str()[length - 1] != 'N') writer.Put('N');
  writer.Put('E');
  return writer.Status();
}

std::int32_t SummarizePlainPart(const char16_t* text, std::size_t length, ascommon::sstring& out) {
  CSymbolWriter writer(out);
  writer.Reset();
  if (!writer.Put('B')) return -2;
  std::int32_t state = kStart;
  if (SummarizeText(text, length, state, out) == -2) return -2;
  return FinishSummary(out);
}

std::int32_t CompressSummary(const ascommon::sstring& in, ascommon::sstring& out) {
  if (&in == &out) {
    const ascommon::sstring copy(in);
    if (copy.status() != 0) return -2;
    return CompressSummary(copy, out);
  }
  CSymbolWriter writer(out);
  writer.Reset();
  const char* text = in.c_str();
  const std::size_t length = in.length();
  for (std::size_t i = 0; i < length && !writer.Failed();) {
    std::size_t end = i + 1;
    while (end < length && text[end] == text[i]) ++end;
    const std::size_t run = end - i;
    if (run == 1) {
      writer.Put(text[i]);
    } else {
      // The run that ends the summary loses its symbol: "BWWW" -> "B{3}".
      char count[32];
      const int n = end == length ? std::snprintf(count, sizeof count, "{%zu}", run)
                                  : std::snprintf(count, sizeof count, "%c{%zu}", text[i], run);
      writer.Put(count, static_cast<std::size_t>(n));
    }
    i = end;
  }
  return writer.Status();
}

std::int32_t PatternToRegex(const ascommon::sstring& pattern, ascommon::sstring& out) {
  if (&pattern == &out) {
    const ascommon::sstring copy(pattern);
    if (copy.status() != 0) return -2;
    return PatternToRegex(copy, out);
  }
  struct Form {
    char symbol;
    const char* grouped;  // when a quantifier follows
    const char* plain;
  };
  static constexpr Form kForms[] = {
      {'B', "(^B)", "^B"},
      {'L', "([WU]{1,100}N)", "([WU]N)"},
      {'X', "([WU]{0,100}U[WU]{0,100}N)", "(U[WU]{0,100}N)"},
      {'E', "(E$)", "(E$)"},
  };
  CSymbolWriter writer(out);
  writer.Reset();
  const char* text = pattern.c_str();
  const std::size_t length = pattern.length();
  for (std::size_t i = 0; i < length && !writer.Failed(); ++i) {
    const Form* form = nullptr;
    for (const Form& candidate : kForms) {
      if (candidate.symbol == text[i]) form = &candidate;
    }
    if (form == nullptr) {
      writer.Put(text[i]);
      continue;
    }
    const char next = i + 1 < length ? text[i + 1] : '\0';
    const bool quantified = next == '{' || next == '?' || next == '+' || next == '*';
    const char* replacement = quantified ? form->grouped : form->plain;
    writer.Put(replacement, std::strlen(replacement));
  }
  return writer.Status();
}

bool MatchSummaryTokens(const ascommon::sstring& summary,
                        const ascommon::CArray<ascommon::sstring>& tokens) {
  // The outcome needs at least three tokens, "B" first and "E" last, whatever the search
  // finds; checking that first spares the copy.
  const std::uint64_t count = tokens.GetSize();
  if (summary.empty() || count < 3) return false;
  if (tokens[0].compare("B") != 0 || tokens[count - 1].compare("E") != 0) return false;
  ascommon::sstring copy(summary);
  if (copy.status() != 0) return false;
  char* text = copy.data();
  for (std::uint64_t t = 0; t < count; ++t) {
    const ascommon::sstring& token = tokens[t];
    if (token.empty()) return false;
    // First occurrence not followed by a lower-case letter ("C" must not take "Conty").
    char* hit = std::strstr(text, token.c_str());
    while (hit != nullptr) {
      const char after = hit[token.length()];
      if (after < 'a' || after > 'z') break;
      hit = std::strstr(hit + 1, token.c_str());
    }
    if (hit == nullptr) return false;
    std::memset(hit, '.', token.length());
  }
  for (std::size_t i = 0; i < copy.length(); ++i) {
    if (text[i] != '.') return false;
  }
  return true;
}

}  // namespace summarize
