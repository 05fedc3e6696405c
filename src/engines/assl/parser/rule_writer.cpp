// Rule text from a parsed rule: one line per section, items in their stored order. Expression
// operators are written with parentheses around every binary node, so the text parses to
// the same tree whatever the operators' precedence. Tested by fuzz/assl_parser.cpp (every
// committed rule) and tests/engines/assl/parser_test.cpp.
#include "engines/assl/parser/rule_writer.h"

#include <cstdint>

#include "engines/assl/parser/item_codes.h"

namespace assl {

const char* CodeSpelling(std::int32_t code) {
  switch (code) {
    case kHeadersAll: return "Headers::ALL";
    case kHeadersNamed: return "Headers::";
    case kHeadersCollection: return "Headers::Collection";
    case kPartsAll: return "Parts::ALL";
    case kPartsText: return "Parts::Text";
    case kPartsTextPlain: return "Parts::TextPlain";
    case kPartsTextHtml: return "Parts::TextHTML";
    case kUrlsAll: return "Urls::ALL";
    case kPartHeadersAll: return "PartHeaders::ALL";
    case kPartHeadersNamed: return "PartHeaders::";
    case kMessageTotalSize: return "Message::TotalSize";
    case kMessageAnyAttachmentSize: return "Message::AnyAttachmentSize";
    case kHtmlBody: return "HTML::Body";
    case kHtmlUrl: return "HTML::Url";
    case kHtmlTitle: return "HTML::Title";
    case kHtmlMeta: return "HTML::Meta";
    case kHtmlForms: return "HTML::Forms";
    case kHtmlComments: return "HTML::Comments";
    case kHtmlImages: return "HTML::Images";
    case kHtmlAHref: return "HTML::AHref";
    case kHtmlScript: return "HTML::Script";
    case kExact: return "EXACT";
    case kExactInsensitive: return "EXACT_INSENSITIVE";
    case kObfuscated: return "OBFUSCATED";
    case kRegex: return "REGEX";
    case kRegexInsensitive: return "REGEX_INSENSITIVE";
    case kIpRange: return "IP_RANGE";
    case kIpClass: return "IP_CLASS";
    case kIpMask: return "IP_MASK";
    case kRegexSummary: return "REGEX_SUMMARY";
    case kPartRaw: return "RAW";
    case kPartDecoded: return "DECODED";
    default: return nullptr;
  }
}

const char* OperatorName(std::int32_t op) {
  static const char* const kNames[] = {nullptr,   "OR_OP", "ALL_OR_OP", "AND_OP",     "ALL_AND_OP",
                                       "EQ_OP",   "NE_OP", "NOT_OP",    "conditional"};
  return op >= 1 && op <= 8 ? kNames[op] : nullptr;
}

namespace {

const char* kOperatorText[] = {"", "||", "|||", "&&", "&&&", "==", "!=", "!", "?"};

class Writer {
 public:
  explicit Writer(std::string& out) : m_out(out) {}

  bool Has(const CParsedItem& box, std::uint32_t key) const { return box.Has(key); }
  void Text(const CParsedItem& box, std::uint32_t key) {
    const char* text = box.Text(key);
    m_out.append(text != nullptr ? text : "");
  }
  void Quoted(const CParsedItem& box, std::uint32_t key) {
    m_out.push_back('"');
    const std::size_t start = m_out.size();
    Text(box, key);
    // A value is read up to its first NUL, so it ends in an unpaired backslash only when
    // the rule text had a NUL right after one. That NUL is written back: without it the
    // backslash would pair with the closing quote and the string would not end there.
    std::size_t backslashes = 0;
    while (m_out.size() - backslashes > start && m_out[m_out.size() - 1 - backslashes] == '\\') {
      ++backslashes;
    }
    if (backslashes % 2 != 0) m_out.push_back('\0');
    m_out.push_back('"');
  }
  // A CONSTANT: digits only. The one negative value a constant can hold (out-of-range
  // digits) is written as 2147483648, which reads back as the same value.
  void Constant(std::int32_t value) {
    m_out.append(std::to_string(static_cast<std::uint32_t>(value)));
  }
  void Int(const CParsedItem& box, std::uint32_t key) {
    Constant(box.Number(key));
  }
  void Spelling(const CParsedItem& box, std::uint32_t key) {
    const char* text = CodeSpelling(box.Number(key));
    m_out.append(text != nullptr ? text : "?");
  }
  // A where/what code, with its header name when the code names one.
  void Where(const CParsedItem& box, std::uint32_t codeKey, std::uint32_t nameKey) {
    Spelling(box, codeKey);
    const std::int32_t code = box.Number(codeKey);
    if (code == kHeadersNamed || code == kPartHeadersNamed) Quoted(box, nameKey);
  }
  // One of two keys: a quoted text or a NAME / a CONSTANT or a NAME.
  void TextOrName(const CParsedItem& box, std::uint32_t textKey, std::uint32_t nameKey,
                  int alternative) {
    if (Has(box, textKey) && (alternative == 0 || !Has(box, nameKey))) {
      Quoted(box, textKey);
    } else {
      Text(box, nameKey);
    }
  }
  void ConstantOrName(const CParsedItem& box, std::uint32_t constantKey, std::uint32_t nameKey,
                      int alternative) {
    if (Has(box, constantKey) && (alternative == 0 || !Has(box, nameKey))) {
      Int(box, constantKey);
    } else {
      Text(box, nameKey);
    }
  }

  void Expression(const CExprNode* node) {
    if (node == nullptr) {
      m_out.append("false");
    } else if (node->kind == CExprNode::kOperand) {
      m_out.append(node->subtype == CExprNode::kRuleName ? node->name
                                                         : (node->boolean ? "true" : "false"));
    } else if (node->op == kOpNot) {
      m_out.append("!(");
      Expression(node->operands[0]);
      m_out.push_back(')');
    } else {
      m_out.push_back('(');
      Expression(node->operands[0]);
      m_out.append(" ").append(kOperatorText[node->op >= 1 && node->op <= 8 ? node->op : 0]);
      m_out.push_back(' ');
      Expression(node->operands[1]);
      m_out.push_back(')');
    }
  }

  void Condition(const CParsedItem& box) {
    switch (box.SpecificType()) {
      case kCondNone:
        m_out.append("none");
        break;
      case kCondExpression:
        Expression(box.Node(kKeyExpression));
        break;
      case kCondMatch:
        m_out.append("match(");
        Quoted(box, kKeyMatchText);
        m_out.append(", ");
        Where(box, kKeyMatchWhere,
              box.Number(kKeyMatchWhere) == kHeadersNamed ? kKeyHeaderName : kKeyPartHeaderName);
        m_out.append(", ");
        Spelling(box, kKeyMatchHow);
        if (Has(box, kKeyMatchPartMode)) {
          m_out.append(", ");
          Spelling(box, kKeyMatchPartMode);
        }
        m_out.push_back(')');
        break;
      case kCondExists:
        m_out.append("exists(");
        Where(box, kKeyExistsWhat, kKeyHeaderName);
        if (box.Number(kKeyExistsWhat) == kHeadersCollection) {
          m_out.append(", ");
          Quoted(box, kKeyExistsCollection);
        }
        m_out.push_back(')');
        break;
      case kCondIsEmpty:
        m_out.append("is_empty(");
        Where(box, kKeyIsEmptyWhat, kKeyHeaderName);
        m_out.push_back(')');
        break;
      case kCondExec:
        m_out.append("exec(");
        Text(box, kKeyCondExecName);
        m_out.push_back(')');
        break;
      case kCondKnnCateg:
        m_out.append("is_knn_categ(");
        Quoted(box, kKeyKnnCategory);
        m_out.append(", ");
        Int(box, kKeyKnnConstant);
        m_out.push_back(')');
        break;
      case kCondScoreGreater:
        m_out.append("score_greater_than(");
        Text(box, kKeyScoreVariable);
        m_out.append(", ");
        ConstantOrName(box, kKeyScoreCompareConstant, kKeyScoreCompareName, 0);
        m_out.push_back(')');
        break;
      case kCondSizeGreater:
        m_out.append("size_greater_than(");
        Spelling(box, kKeySizeItem);
        m_out.append(", ");
        Int(box, kKeySizeConstant);
        m_out.push_back(')');
        break;
      default:
        m_out.append("?");
        break;
    }
    m_out.append(";");
  }

  // Calls needed so that merging them gives every key of the box: two when a slot holds
  // both of its alternatives, else one.
  int Calls(const CParsedItem& box, std::uint32_t a, std::uint32_t b, std::uint32_t c = 0,
            std::uint32_t d = 0) const {
    return (Has(box, a) && Has(box, b)) || (c != 0 && Has(box, c) && Has(box, d)) ? 2 : 1;
  }

  void Action(const CParsedItem& box) {
    const std::int32_t type = box.SpecificType();
    switch (type) {
      case kActSetCategory:
        for (int i = 0; i < Calls(box, kKeySetCategoryText, kKeySetCategoryName); ++i) {
          m_out.append(" set_category(");
          TextOrName(box, kKeySetCategoryText, kKeySetCategoryName, i);
          m_out.append(");");
        }
        break;
      case kActIncreaseScore:
        for (int i = 0; i < Calls(box, kKeyIncreaseConstant, kKeyIncreaseName); ++i) {
          m_out.append(" increase_score(");
          Text(box, kKeyIncreaseVariable);
          m_out.append(", ");
          ConstantOrName(box, kKeyIncreaseConstant, kKeyIncreaseName, i);
          m_out.append(");");
        }
        break;
      case kActMark:
        for (int i = 0; i < Calls(box, kKeyMarkCategoryText, kKeyMarkCategoryName,
                                kKeyMarkScoreConstant, kKeyMarkScoreName);
             ++i) {
          m_out.append(" mark(");
          TextOrName(box, kKeyMarkCategoryText, kKeyMarkCategoryName, i);
          m_out.append(", ");
          ConstantOrName(box, kKeyMarkScoreConstant, kKeyMarkScoreName, i);
          m_out.append(");");
        }
        break;
      case kActExec:
        m_out.append(" exec(");
        Text(box, kKeyActExecName);
        m_out.append(");");
        break;
      case kActAddHeader:
      case kActAddToHeader:
        for (int i = 0; i < Calls(box, kKeyHeaderText, kKeyHeaderNameName); ++i) {
          m_out.append(type == kActAddHeader ? " add_header(" : " add_to_header(");
          TextOrName(box, kKeyHeaderText, kKeyHeaderNameName, i);
          m_out.append(", ");
          Quoted(box, kKeyHeaderValue);
          m_out.append(");");
        }
        break;
      default:
        break;
    }
  }

  void Metainfo(const CParsedItem& box) {
    switch (box.SpecificType()) {
      case kMetaState:
        m_out.append(box.Number(kKeyState) != 0 ? " enabled = true;" : " enabled = false;");
        break;
      case kMetaRelevance:
        m_out.append(" relevance = ");
        Int(box, kKeyRelevance);
        m_out.append(";");
        break;
      case kMetaComment:
        m_out.append(" comment = ");
        Quoted(box, kKeyComment);
        m_out.append(";");
        break;
      case kMetaPriority:
        m_out.append(" priority = ");
        Int(box, kKeyPriority);
        m_out.append(";");
        break;
      default:
        break;
    }
  }

 private:
  std::string& m_out;
};

}  // namespace

std::string WriteRuleText(const CParsedRule& rule) {
  std::string out;
  Writer writer(out);
  out.append(rule.Kind() == kMetaRule ? "metarule " : "rule ");
  out.append(rule.Name().c_str() != nullptr ? rule.Name().c_str() : "");
  out.append(" {\n  condition: ");
  if (rule.Condition() != nullptr) {
    writer.Condition(*rule.Condition());
  } else {
    out.append("none;");
  }
  out.append("\n  actions:");
  for (const CParsedItem* item = rule.Actions(); item != nullptr; item = item->Next()) {
    writer.Action(*item);
  }
  out.append("\n  metadata:");
  for (const CParsedItem* item = rule.Metainfo(); item != nullptr; item = item->Next()) {
    writer.Metainfo(*item);
  }
  out.append("\n}\n");
  return out;
}

}  // namespace assl
