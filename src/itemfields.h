// The numeric keys of the fields the host and the filters exchange through an item's
// blackboxes, with their direction and value kind. The numbering is the host framework's:
// keep every number as it stands so that a host of the framework reads the results.
#pragma once

#include <cstdint>

namespace nsHttpModules::ItemField {

// --- Item blackbox: read by the filters -------------------------------------------------
// The parsed (tag-free) page text, usstring (GetUCharBuf).
inline constexpr std::uint32_t kPageText = 30001;
// The page text in UTF-8, sstring (GetCharBuf).
inline constexpr std::uint32_t kPageTextUtf8 = 30002;
// Further page texts ("label" texts): container CArray of usstring; optional.
inline constexpr std::uint32_t kLabelTexts = 30003;
// The page as received: usstring (30004) and sstring (30005).
inline constexpr std::uint32_t kRawContent = 30004;
inline constexpr std::uint32_t kRawContentUtf8 = 30005;
// Size of the page content, 32-bit integer (GetInt).
inline constexpr std::uint32_t kContentSize = 30006;
// The HTML parser object of the page: generic object.
inline constexpr std::uint32_t kHtmlParser = 30007;
// Lower-cased parsed text and raw content: sstring (30008, 30009), usstring (30010, 30011).
inline constexpr std::uint32_t kPageTextLowerUtf8 = 30008;
inline constexpr std::uint32_t kRawContentLowerUtf8 = 30009;
inline constexpr std::uint32_t kPageTextLower = 30010;
inline constexpr std::uint32_t kRawContentLower = 30011;
// The URL information of the request (the URL parse record): generic object.
inline constexpr std::uint32_t kUrlInfo = 30012;
// The item's URL as text, usstring.
inline constexpr std::uint32_t kUrlText = 12001;
// Bayes score threshold, 32-bit integer.
inline constexpr std::uint32_t kBayesThreshold = 31003;

// --- Item blackbox: written by the filters ------------------------------------------------
// Bayes: chosen category name or "white" (usstring, forced) and score 0..100 (int, forced).
inline constexpr std::uint32_t kBayesCategory = 31001;
inline constexpr std::uint32_t kBayesScore = 31002;
// BW list: one-byte value 1 when the address is on the white (31050) or black (31051) list.
inline constexpr std::uint32_t kWhiteListHit = 31050;
inline constexpr std::uint32_t kBlackListHit = 31051;
// Signatures: category (sstring), score (int) and name of the rule that hit (sstring).
inline constexpr std::uint32_t kSignatureCategory = 31055;
inline constexpr std::uint32_t kSignatureScore = 31056;
inline constexpr std::uint32_t kSignatureRule = 31057;
// Advanced list filter: list i's result is 10100 + i (17 categories, then the white list as
// 10117); 0 in the item blackbox before the list is checked, 1 in bbext on a hit.
inline constexpr std::uint32_t kListResultFirst = 10100;
inline constexpr std::uint32_t kListResultLast = 10117;

// --- bbext ------------------------------------------------------------------------------------
// Advanced list filter summary: 1 on a white hit, or without one on a pornography hit.
inline constexpr std::uint32_t kListSummaryFlag = 31052;
// Category to train the item into (Bayes command 35), usstring.
inline constexpr std::uint32_t kTrainCategory = 34001;

// --- Parameter blackbox of the Bayes filter's ProcessCommand --------------------------------
inline constexpr std::uint32_t kParamCategoryNames = 33001;   // CArray of usstring (34)
inline constexpr std::uint32_t kParamPrintFile = 33002;       // usstring (36)
inline constexpr std::uint32_t kParamOccurrenceLimit = 33003; // int, not negative (37, 39)
inline constexpr std::uint32_t kParamCategoryLevels = 33004;  // CArray of int32 (34)
inline constexpr std::uint32_t kParamDictionaryFile = 33005;  // sstring (38)
inline constexpr std::uint32_t kParamTextList = 33006;        // sstring (38)

}  // namespace nsHttpModules::ItemField

namespace nsHttpModules::FilterCommand {
inline constexpr std::uint32_t kProcess = 0;
inline constexpr std::uint32_t kBayesAddCategories = 34;
inline constexpr std::uint32_t kBayesTrain = 35;
inline constexpr std::uint32_t kBayesPrint = 36;
inline constexpr std::uint32_t kBayesPrune = 37;
inline constexpr std::uint32_t kBayesConvert = 38;
inline constexpr std::uint32_t kBayesPruneMode1 = 39;
}  // namespace nsHttpModules::FilterCommand
