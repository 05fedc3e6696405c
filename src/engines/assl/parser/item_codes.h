// The codes a parsed rule carries between the parser and the item factories: generic and
// specific item types, the value keys of each item and the where/how/part-mode/operator
// codes. These numbers are the contract with rule-map files and the engine; never renumber.
// Constants only, safe everywhere.
#pragma once

#include <cstdint>

namespace assl {

// Every item blackbox holds these two keys.
inline constexpr std::uint32_t kKeyGenericType = 10;
inline constexpr std::uint32_t kKeySpecificType = 11;

// Generic item types.
inline constexpr std::int32_t kGenericCondition = 20;
inline constexpr std::int32_t kGenericAction = 21;
inline constexpr std::int32_t kGenericMetainfo = 22;

// Specific types with their value keys.
enum SpecificType : std::int32_t {
  kCondNone = 100,         // 100: 100
  kCondExpression = 101,   // 250: root expression node
  kCondMatch = 102,        // 120 text, 121 where, 202 header, 262 part header, 122 how, 123 mode
  kCondExists = 103,       // 130 what, 202 header, 131 collection text
  kCondIsEmpty = 104,      // 140 what, 202 header
  kCondExec = 105,         // 150 name
  kCondKnnCateg = 106,     // 160 category, 161 constant (100 when omitted)
  kCondScoreGreater = 107, // 170 variable, 172 constant or 171 variable
  kCondSizeGreater = 108,  // 180 size item, 181 constant
  kActSetCategory = 1000,  // 1021 text or 1020 name
  kActIncreaseScore = 1001,// 1030 variable, 1032 constant or 1031 name
  kActMark = 1002,         // 1041 text or 1040 name, 1043 constant or 1042 name
  kActExec = 1003,         // 1050 name
  kActAddHeader = 1004,    // 1060 text or 1061 name, 1062 value
  kActAddToHeader = 1005,  // same keys as add_header
  kMetaState = 2000,       // 2020: 1 true, 0 false
  kMetaRelevance = 2001,   // 2030
  kMetaComment = 2002,     // 2040
  kMetaPriority = 2003,    // 2050
};

enum ValueKey : std::uint32_t {
  kKeyNone = 100,
  kKeyMatchText = 120, kKeyMatchWhere = 121, kKeyMatchHow = 122, kKeyMatchPartMode = 123,
  kKeyExistsWhat = 130, kKeyExistsCollection = 131,
  kKeyIsEmptyWhat = 140,
  kKeyCondExecName = 150,
  kKeyKnnCategory = 160, kKeyKnnConstant = 161,
  kKeyScoreVariable = 170, kKeyScoreCompareName = 171, kKeyScoreCompareConstant = 172,
  kKeySizeItem = 180, kKeySizeConstant = 181,
  kKeyHeaderName = 202,
  kKeyExpression = 250,
  kKeyPartHeaderName = 262,
  kKeySetCategoryName = 1020, kKeySetCategoryText = 1021,
  kKeyIncreaseVariable = 1030, kKeyIncreaseName = 1031, kKeyIncreaseConstant = 1032,
  kKeyMarkCategoryName = 1040, kKeyMarkCategoryText = 1041,
  kKeyMarkScoreName = 1042, kKeyMarkScoreConstant = 1043,
  kKeyActExecName = 1050,
  kKeyHeaderText = 1060, kKeyHeaderNameName = 1061, kKeyHeaderValue = 1062,
  kKeyState = 2020, kKeyRelevance = 2030, kKeyComment = 2040, kKeyPriority = 2050,
};

// Where to match / what exists / size items.
enum WhereCode : std::int32_t {
  kHeadersAll = 200, kHeadersNamed = 201, kHeadersCollection = 203,
  kPartsAll = 210, kPartsText = 211, kPartsTextPlain = 212, kPartsTextHtml = 213,
  kUrlsAll = 220,
  kPartHeadersAll = 260, kPartHeadersNamed = 261,
  kMessageTotalSize = 270, kMessageAnyAttachmentSize = 271,
  kHtmlBody = 280, kHtmlUrl = 281, kHtmlTitle = 282, kHtmlMeta = 283, kHtmlForms = 284,
  kHtmlComments = 285, kHtmlImages = 286, kHtmlAHref = 287, kHtmlScript = 288,
};

// How to match (REGEX_SUMMARY follows the IP codes) and part modes.
enum HowCode : std::int32_t {
  kExact = 230, kExactInsensitive = 231, kObfuscated = 232, kRegex = 233,
  kRegexInsensitive = 234, kIpRange = 235, kIpClass = 236, kIpMask = 237, kRegexSummary = 238,
  kPartRaw = 240, kPartDecoded = 241,
};

// Expression operators.
enum OperatorCode : std::int32_t {
  kOpOr = 1, kOpAllOr = 2, kOpAnd = 3, kOpAllAnd = 4, kOpEq = 5, kOpNe = 6, kOpNot = 7,
  kOpConditional = 8,
};

// Rule kinds.
inline constexpr std::int32_t kSimpleRule = 0;
inline constexpr std::int32_t kMetaRule = 1;

}  // namespace assl
