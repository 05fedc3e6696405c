/* The rule grammar: an LALR(1) parser over the tokens of lexer.l. Pure (reentrant): its
   only state is on its own stack and in the CParserState passed to it. The nonterminal
   names and the order of the alternatives are part of the language's definition; the
   parser's messages ("syntax error, unexpected X, expecting A or B") are built from them.
   Every `error` alternative that closes a construct reports its message and sets the
   state's error flag, so the rule is dropped at its closing brace. The stack starts at 200
   entries and grows to 10,000 ("memory exhausted" beyond), which bounds nesting. */
%define api.pure full
%define api.prefix {assl_yy}
%define api.token.prefix {TOK_}
%define parse.error verbose
%parse-param {yyscan_t scanner} {assl::CParserState* state}
%lex-param {yyscan_t scanner}
%expect 0

%code requires {
#include <cstdint>
namespace assl {
class CParserState;
struct CExprNode;
}
#ifndef YY_TYPEDEF_YY_SCANNER_T
#define YY_TYPEDEF_YY_SCANNER_T
typedef void* yyscan_t;
#endif
// A value that is one of two token kinds, or a code with an optional text.
struct AsslValue {
  std::int32_t code;  // a constant, or a where/what code
  const char* text;   // the NAME or STRING_LITERAL, or null
};
}

%{
// The parser's grown stack and long messages are blocks of the engine's allocator held by the
// state, which frees those still held when Parse ends: a semantic action that throws (memory
// ran out) skips the generated code's own release.
#define YYMALLOC(size) state->ParserAlloc(size)
#define YYFREE(block) state->ParserFree(block)
%}

%code {
#include "common/astrace.h"
#include "engines/assl/parser/item_codes.h"
#include "engines/assl/parser/parser_utils.h"

int assl_yylex(ASSL_YYSTYPE* value, yyscan_t scanner);
static void assl_yyerror(yyscan_t, assl::CParserState* state, const char* message) {
  AS_TRACE(0, "[parser] - %s:%d: syntax error: %s", state->FileName(), state->Line(), message);
  state->SyntaxError(message);
}

namespace {
using namespace assl;
// An error production closed a construct: the rule will be dropped at its end.
void ConstructError(CParserState* s, const char* message) {
  AS_TRACE(0, "[parser] %s", message);
  s->ConstructError(message);
}
void InputError(CParserState* s) {
  if (s->InputError()) AS_TRACE(0, "[parser] input error: text outside rules?");
}
// After a rule's closing brace: commit it, or discard it when it has an error.
void EndRule(CParserState* s, const char* name, std::int32_t kind) {
  const char* what = kind == kSimpleRule ? "simple rule" : "meta-rule";
  if (s->ErrorFlag()) {
    AS_TRACE(0, "[parser] discarding %s %s because it contains errors", what, name);
    s->DiscardRuleWithErrors(what, name);
    return;
  }
  s->SetCurrentRuleName(name);
  s->SetCurrentRuleKind(kind);
  AS_TRACE(3, "[parser] committing %s %s", what, name);
  s->CommitCurrentRule();
}
// Item builders: each adds one construct's values to the current rule, or only logs the
// error-recovery line while the rule already has an error.
void Cond(CParserState* s, std::int32_t type, std::uint32_t key, std::int32_t value) {
  s->AddItemValue(kGenericCondition, type, key, value);
}
void Cond(CParserState* s, std::int32_t type, std::uint32_t key, const char* text) {
  s->AddItemValue(kGenericCondition, type, key, text);
}
// A value that is a constant (text null) or a NAME, under its two keys.
void Either(CParserState* s, std::int32_t generic, std::int32_t type, AsslValue v,
            std::uint32_t constantKey, std::uint32_t nameKey) {
  if (v.text == nullptr) {
    s->AddItemValue(generic, type, constantKey, v.code);
  } else {
    s->AddItemValue(generic, type, nameKey, v.text);
  }
}
// A STRING_LITERAL (code 0) or a NAME (code 1), under its two keys.
void TextOrName(CParserState* s, std::int32_t type, AsslValue v, std::uint32_t textKey,
                std::uint32_t nameKey) {
  s->AddItemValue(kGenericAction, type, v.code == 0 ? textKey : nameKey, v.text);
}
// A where/what code, with the header name under headerKey when one was written.
void Where(CParserState* s, std::int32_t type, std::uint32_t codeKey, AsslValue v,
           std::uint32_t headerKey) {
  Cond(s, type, codeKey, v.code);
  if (v.text != nullptr) Cond(s, type, headerKey, v.text);
}
CExprNode* Operand(CParserState* s, bool boolean, const char* name) {
  CExprNode* node = s->RegisterExpressionNode();
  node->kind = CExprNode::kOperand;
  node->subtype = name == nullptr ? CExprNode::kBooleanConstant : CExprNode::kRuleName;
  node->boolean = boolean;
  node->name = name;
  return node;
}
CExprNode* Operator(CParserState* s, std::int32_t op, CExprNode* first, CExprNode* second,
                    CExprNode* third = nullptr) {
  CExprNode* node = s->RegisterExpressionNode();
  node->kind = CExprNode::kOperator;
  node->op = op;
  CExprNode* operands[3] = {first, second, third};
  for (int i = 0; i < 3; ++i) {
    node->operands[i] = operands[i];
    if (operands[i] != nullptr) operands[i]->parent = node;
  }
  return node;
}
}  // namespace
}

%union {
  std::int32_t num;
  const char* str;
  assl::CExprNode* node;
  AsslValue value;
}

%token END 0 "$end"
%token <str> NAME STRING_LITERAL
%token <num> CONSTANT
%token RULE METARULE CONDITION ACTIONS METADATA NONE ALL ANY COLLECTION TRUE FALSE MATCH
%token EXISTS IS_EMPTY IS_KNN_CATEG SCORE_GREATER_THAN SIZE_GREATER_THAN EXACT
%token EXACT_INSENSITIVE OBFUSCATED REGEX REGEX_INSENSITIVE REGEX_SUMMARY IP_RANGE IP_CLASS
%token IP_MASK HEADERS PART_HEADERS PARTS URLS HTML TEXT TEXT_PLAIN TEXT_HTML BODY URL TITLE
%token META FORMS COMMENTS IMAGES AHREF SCRIPT MESSAGE TOTAL_SIZE ANY_ATTACHMENT_SIZE RAW
%token DECODED SET_CATEGORY EXEC INCREASE_SCORE MARK ADD_HEADER ADD_TO_HEADER ENABLED
%token RELEVANCE COMMENT PRIORITY
%token ALL_OR_OP OR_OP ALL_AND_OP AND_OP NE_OP EQ_OP NOT_OP SCOPE_OP

%type <value> where_to_match what_exists what_exists_with_additional_info what_is_empty
%type <value> compare_value category_to_set score_increase category_to_mark score_mark
%type <value> header_name_to_add header_name_to_add_to
%type <num> how_to_match part_mode item_which_size_matters boolean
%type <str> what_to_match header_value_to_add header_value_to_append
%type <node> expression conditional_expression logical_or_expression logical_and_expression
%type <node> equality_expression negated_expression primary_expression

%%

input
  : %empty
  | input rule
  | input error { InputError(state); } rule
  ;

rule
  : simple_rule
  | meta_rule
  ;

simple_rule
  : RULE NAME simple_scope { EndRule(state, $2, kSimpleRule); }
  ;

simple_scope
  : '{' simple_body '}'
  | '{' error '}' { ConstructError(state, "invalid body structure - check sections!"); }
  ;

simple_body
  : simple_condsection actsection metasection
  ;

meta_rule
  : METARULE NAME meta_scope { EndRule(state, $2, kMetaRule); }
  ;

meta_scope
  : '{' meta_body '}'
  | '{' error '}' { ConstructError(state, "invalid body structure - check sections!"); }
  ;

meta_body
  : meta_condsection actsection metasection
  ;

simple_condsection
  : CONDITION ':' NONE ';' { Cond(state, kCondNone, kKeyNone, 100); }
  | CONDITION ':' simple_condition
  ;

simple_condition
  : match ';'
  | exists ';'
  | is_empty ';'
  | cond_exec ';'
  | is_knn_categ ';'
  | score_greater_than ';'
  | size_greater_than ';'
  | error ';' { ConstructError(state, "invalid condition"); }
  ;

meta_condsection
  : CONDITION ':' NONE ';' { Cond(state, kCondNone, kKeyNone, 100); }
  | CONDITION ':' meta_condition
  ;

meta_condition
  : expression ';' {
      state->AddItemValue(kGenericCondition, kCondExpression, kKeyExpression, $1);
    }
  | error ';' { ConstructError(state, "invalid condition expression - check your syntax!"); }
  ;

actsection
  : ACTIONS ':' NONE ';'
  | ACTIONS ':' actions
  ;

actions
  : %empty
  | actions action
  ;

action
  : set_category ';'
  | increase_score ';'
  | mark ';'
  | act_exec ';'
  | add_header ';'
  | add_to_header ';'
  | error ';' { ConstructError(state, "invalid action item"); }
  ;

metasection
  : METADATA ':' NONE ';'
  | METADATA ':' metadata
  ;

metadata
  : %empty
  | metadata metainfo
  ;

metainfo
  : state ';'
  | relevance ';'
  | comment ';'
  | priority ';'
  | error ';' { ConstructError(state, "invalid metainfo item"); }
  ;

match
  : MATCH '(' what_to_match ',' where_to_match ',' how_to_match ')' {
      Cond(state, kCondMatch, kKeyMatchText, $3);
      Cond(state, kCondMatch, kKeyMatchWhere, $5.code);
      if ($5.text != nullptr) {
        Cond(state, kCondMatch, $5.code == kHeadersNamed ? kKeyHeaderName : kKeyPartHeaderName,
             $5.text);
      }
      Cond(state, kCondMatch, kKeyMatchHow, $7);
    }
  | MATCH '(' what_to_match ',' where_to_match ',' how_to_match ',' part_mode ')' {
      Cond(state, kCondMatch, kKeyMatchText, $3);
      Cond(state, kCondMatch, kKeyMatchWhere, $5.code);
      if ($5.text != nullptr) {
        Cond(state, kCondMatch, $5.code == kHeadersNamed ? kKeyHeaderName : kKeyPartHeaderName,
             $5.text);
      }
      Cond(state, kCondMatch, kKeyMatchHow, $7);
      Cond(state, kCondMatch, kKeyMatchPartMode, $9);
    }
  | MATCH '(' error ')' { ConstructError(state, "syntax error: invalid match condition"); }
  ;

what_to_match
  : STRING_LITERAL
  ;

where_to_match
  : HEADERS SCOPE_OP STRING_LITERAL { $$ = {kHeadersNamed, $3}; }
  | HEADERS SCOPE_OP ALL { $$ = {kHeadersAll, nullptr}; }
  | PARTS SCOPE_OP ALL { $$ = {kPartsAll, nullptr}; }
  | PARTS SCOPE_OP TEXT { $$ = {kPartsText, nullptr}; }
  | PARTS SCOPE_OP TEXT_PLAIN { $$ = {kPartsTextPlain, nullptr}; }
  | PARTS SCOPE_OP TEXT_HTML { $$ = {kPartsTextHtml, nullptr}; }
  | PART_HEADERS SCOPE_OP STRING_LITERAL { $$ = {kPartHeadersNamed, $3}; }
  | PART_HEADERS SCOPE_OP ALL { $$ = {kPartHeadersAll, nullptr}; }
  | URLS SCOPE_OP ALL { $$ = {kUrlsAll, nullptr}; }
  | HTML SCOPE_OP BODY { $$ = {kHtmlBody, nullptr}; }
  | HTML SCOPE_OP URL { $$ = {kHtmlUrl, nullptr}; }
  | HTML SCOPE_OP TITLE { $$ = {kHtmlTitle, nullptr}; }
  | HTML SCOPE_OP META { $$ = {kHtmlMeta, nullptr}; }
  | HTML SCOPE_OP FORMS { $$ = {kHtmlForms, nullptr}; }
  | HTML SCOPE_OP COMMENTS { $$ = {kHtmlComments, nullptr}; }
  | HTML SCOPE_OP IMAGES { $$ = {kHtmlImages, nullptr}; }
  | HTML SCOPE_OP AHREF { $$ = {kHtmlAHref, nullptr}; }
  | HTML SCOPE_OP SCRIPT { $$ = {kHtmlScript, nullptr}; }
  ;

how_to_match
  : EXACT { $$ = kExact; }
  | EXACT_INSENSITIVE { $$ = kExactInsensitive; }
  | OBFUSCATED { $$ = kObfuscated; }
  | REGEX { $$ = kRegex; }
  | REGEX_INSENSITIVE { $$ = kRegexInsensitive; }
  | REGEX_SUMMARY { $$ = kRegexSummary; }
  | IP_RANGE { $$ = kIpRange; }
  | IP_CLASS { $$ = kIpClass; }
  | IP_MASK { $$ = kIpMask; }
  ;

part_mode
  : RAW { $$ = kPartRaw; }
  | DECODED { $$ = kPartDecoded; }
  ;

exists
  : EXISTS '(' what_exists ')' { Where(state, kCondExists, kKeyExistsWhat, $3, kKeyHeaderName); }
  | EXISTS '(' what_exists_with_additional_info ')' {
      Cond(state, kCondExists, kKeyExistsWhat, $3.code);
      Cond(state, kCondExists, kKeyExistsCollection, $3.text);
    }
  | EXISTS '(' error ')' { ConstructError(state, "syntax error: invalid exists condition"); }
  ;

what_exists
  : HEADERS SCOPE_OP STRING_LITERAL { $$ = {kHeadersNamed, $3}; }
  | PARTS SCOPE_OP ALL { $$ = {kPartsAll, nullptr}; }
  | PARTS SCOPE_OP TEXT { $$ = {kPartsText, nullptr}; }
  | PARTS SCOPE_OP TEXT_PLAIN { $$ = {kPartsTextPlain, nullptr}; }
  | PARTS SCOPE_OP TEXT_HTML { $$ = {kPartsTextHtml, nullptr}; }
  ;

what_exists_with_additional_info
  : HEADERS SCOPE_OP COLLECTION ',' STRING_LITERAL { $$ = {kHeadersCollection, $5}; }
  ;

is_empty
  : IS_EMPTY '(' what_is_empty ')' {
      Where(state, kCondIsEmpty, kKeyIsEmptyWhat, $3, kKeyHeaderName);
    }
  | IS_EMPTY '(' error ')' { ConstructError(state, "syntax error: invalid is_empty condition"); }
  ;

what_is_empty
  : HEADERS SCOPE_OP STRING_LITERAL { $$ = {kHeadersNamed, $3}; }
  | PARTS SCOPE_OP ALL { $$ = {kPartsAll, nullptr}; }
  | PARTS SCOPE_OP TEXT { $$ = {kPartsText, nullptr}; }
  | PARTS SCOPE_OP TEXT_PLAIN { $$ = {kPartsTextPlain, nullptr}; }
  | PARTS SCOPE_OP TEXT_HTML { $$ = {kPartsTextHtml, nullptr}; }
  ;

cond_exec
  : EXEC '(' NAME ')' { Cond(state, kCondExec, kKeyCondExecName, $3); }
  | EXEC '(' error ')' { ConstructError(state, "syntax error: invalid execute condition"); }
  ;

is_knn_categ
  : IS_KNN_CATEG '(' STRING_LITERAL ',' CONSTANT ')' {
      Cond(state, kCondKnnCateg, kKeyKnnCategory, $3);
      Cond(state, kCondKnnCateg, kKeyKnnConstant, $5);
    }
  | IS_KNN_CATEG '(' STRING_LITERAL ')' {
      Cond(state, kCondKnnCateg, kKeyKnnCategory, $3);
      Cond(state, kCondKnnCateg, kKeyKnnConstant, 100);
    }
  | IS_KNN_CATEG '(' error ')' {
      ConstructError(state, "syntax error: invalid match KNN category condition");
    }
  ;

score_greater_than
  : SCORE_GREATER_THAN '(' NAME ',' compare_value ')' {
      Cond(state, kCondScoreGreater, kKeyScoreVariable, $3);
      Either(state, kGenericCondition, kCondScoreGreater, $5, kKeyScoreCompareConstant,
             kKeyScoreCompareName);
    }
  | SCORE_GREATER_THAN '(' error ')' {
      ConstructError(state, "syntax error: invalid score greater condition");
    }
  ;

compare_value
  : CONSTANT { $$ = {$1, nullptr}; }
  | NAME { $$ = {0, $1}; }
  ;

size_greater_than
  : SIZE_GREATER_THAN '(' item_which_size_matters ',' CONSTANT ')' {
      Cond(state, kCondSizeGreater, kKeySizeItem, $3);
      Cond(state, kCondSizeGreater, kKeySizeConstant, $5);
    }
  | SIZE_GREATER_THAN '(' error ')' {
      ConstructError(state, "syntax error: invalid size greater condition");
    }
  ;

item_which_size_matters
  : MESSAGE SCOPE_OP TOTAL_SIZE { $$ = kMessageTotalSize; }
  | MESSAGE SCOPE_OP ANY_ATTACHMENT_SIZE { $$ = kMessageAnyAttachmentSize; }
  ;

set_category
  : SET_CATEGORY '(' category_to_set ')' {
      TextOrName(state, kActSetCategory, $3, kKeySetCategoryText, kKeySetCategoryName);
    }
  | SET_CATEGORY '(' error ')' {
      ConstructError(state, "syntax error: invalid set_category action");
    }
  ;

category_to_set
  : STRING_LITERAL { $$ = {0, $1}; }
  | NAME { $$ = {1, $1}; }
  ;

increase_score
  : INCREASE_SCORE '(' NAME ',' score_increase ')' {
      state->AddItemValue(kGenericAction, kActIncreaseScore, kKeyIncreaseVariable, $3);
      Either(state, kGenericAction, kActIncreaseScore, $5, kKeyIncreaseConstant,
             kKeyIncreaseName);
    }
  | INCREASE_SCORE '(' error ')' {
      ConstructError(state, "syntax error: invalid increase_score action");
    }
  ;

score_increase
  : CONSTANT { $$ = {$1, nullptr}; }
  | NAME { $$ = {0, $1}; }
  ;

mark
  : MARK '(' category_to_mark ',' score_mark ')' {
      TextOrName(state, kActMark, $3, kKeyMarkCategoryText, kKeyMarkCategoryName);
      Either(state, kGenericAction, kActMark, $5, kKeyMarkScoreConstant, kKeyMarkScoreName);
    }
  | MARK '(' error ')' { ConstructError(state, "syntax error: invalid mark action"); }
  ;

category_to_mark
  : STRING_LITERAL { $$ = {0, $1}; }
  | NAME { $$ = {1, $1}; }
  ;

score_mark
  : CONSTANT { $$ = {$1, nullptr}; }
  | NAME { $$ = {0, $1}; }
  ;

add_header
  : ADD_HEADER '(' header_name_to_add ',' header_value_to_add ')' {
      TextOrName(state, kActAddHeader, $3, kKeyHeaderText, kKeyHeaderNameName);
      state->AddItemValue(kGenericAction, kActAddHeader, kKeyHeaderValue, $5);
    }
  | ADD_HEADER '(' error ')' { ConstructError(state, "syntax error: invalid add header action"); }
  ;

header_name_to_add
  : STRING_LITERAL { $$ = {0, $1}; }
  | NAME { $$ = {1, $1}; }
  ;

header_value_to_add
  : STRING_LITERAL
  ;

add_to_header
  : ADD_TO_HEADER '(' header_name_to_add_to ',' header_value_to_append ')' {
      TextOrName(state, kActAddToHeader, $3, kKeyHeaderText, kKeyHeaderNameName);
      state->AddItemValue(kGenericAction, kActAddToHeader, kKeyHeaderValue, $5);
    }
  | ADD_TO_HEADER '(' error ')' {
      ConstructError(state, "syntax error: invalid add to header action");
    }
  ;

header_name_to_add_to
  : STRING_LITERAL { $$ = {0, $1}; }
  | NAME { $$ = {1, $1}; }
  ;

header_value_to_append
  : STRING_LITERAL
  ;

act_exec
  : EXEC '(' NAME ')' { state->AddItemValue(kGenericAction, kActExec, kKeyActExecName, $3); }
  | EXEC '(' error ')' { ConstructError(state, "syntax error: invalid execute condition"); }
  ;

state
  : ENABLED '=' boolean { state->AddItemValue(kGenericMetainfo, kMetaState, kKeyState, $3); }
  ;

relevance
  : RELEVANCE '=' CONSTANT {
      state->AddItemValue(kGenericMetainfo, kMetaRelevance, kKeyRelevance, $3);
    }
  ;

comment
  : COMMENT '=' STRING_LITERAL {
      state->AddItemValue(kGenericMetainfo, kMetaComment, kKeyComment, $3);
    }
  ;

priority
  : PRIORITY '=' CONSTANT {
      state->AddItemValue(kGenericMetainfo, kMetaPriority, kKeyPriority, $3);
    }
  ;

boolean
  : TRUE { $$ = 1; }
  | FALSE { $$ = 0; }
  ;

expression
  : conditional_expression
  ;

conditional_expression
  : logical_or_expression
  | logical_or_expression '?' expression ':' conditional_expression {
      $$ = Operator(state, kOpConditional, $1, $3, $5);
    }
  ;

logical_or_expression
  : logical_and_expression
  | logical_or_expression OR_OP logical_and_expression { $$ = Operator(state, kOpOr, $1, $3); }
  | logical_or_expression ALL_OR_OP logical_and_expression {
      $$ = Operator(state, kOpAllOr, $1, $3);
    }
  ;

logical_and_expression
  : equality_expression
  | logical_and_expression AND_OP equality_expression { $$ = Operator(state, kOpAnd, $1, $3); }
  | logical_and_expression ALL_AND_OP equality_expression {
      $$ = Operator(state, kOpAllAnd, $1, $3);
    }
  ;

equality_expression
  : negated_expression
  | equality_expression EQ_OP negated_expression { $$ = Operator(state, kOpEq, $1, $3); }
  | equality_expression NE_OP negated_expression { $$ = Operator(state, kOpNe, $1, $3); }
  ;

negated_expression
  : primary_expression
  | NOT_OP primary_expression { $$ = Operator(state, kOpNot, $2, nullptr); }
  ;

primary_expression
  : boolean { $$ = Operand(state, $1 != 0, nullptr); }
  | NAME { $$ = Operand(state, false, $1); }
  | '(' expression ')' { $$ = $2; }
  ;

%%
