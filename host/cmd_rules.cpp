// "rules check" and "rules dump": rule files through the same scanner and parser the engine
// uses, with the parser's diagnostics routed to the command.
//
//   zazozor rules check FILE...   problems as FILE:LINE: message on stdout, then one summary
//                                 line per file; exit 1 when any rule was discarded, the
//                                 parser reported an error or a file could not be read
//   zazozor rules dump FILE...    one JSON line per committed rule, in commit order (problems
//                                 go to stderr in the same FILE:LINE: form)
//
// "-" reads standard input. Trace lines go to the tracing library as the module's do
// (ZAZOZOR_TRACE_LEVEL, ZAZOZOR_TRACE_DIR). Single-threaded.
// Tested by tests/host/rules_test.cpp.
#include "cmd_rules.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "common/asexception.h"
#include "common/astrace.h"
#include "engines/assl/parser/item_codes.h"
#include "engines/assl/parser/parser_utils.h"
#include "engines/assl/parser/rule_writer.h"
#include "errors.h"
#include "json.h"

namespace zzhost {

namespace {

void AppendExpression(std::string& out, const assl::CExprNode* node) {
  if (node == nullptr) {
    out.append("null");
  } else if (node->kind == assl::CExprNode::kOperand) {
    if (node->subtype == assl::CExprNode::kRuleName) {
      out.append("{\"rule\": ");
      AppendJsonString(out, node->name);
    } else {
      out.append("{\"boolean\": ").append(node->boolean ? "true" : "false");
    }
    out.push_back('}');
  } else {
    const char* name = assl::OperatorName(node->op);
    out.append("{\"op\": ");
    AppendJsonString(out, name != nullptr ? name : "?");
    out.append(", \"code\": ").append(std::to_string(node->op)).append(", \"operands\": [");
    for (int i = 0; i < 3 && node->operands[i] != nullptr; ++i) {
      if (i != 0) out.append(", ");
      AppendExpression(out, node->operands[i]);
    }
    out.append("]}");
  }
}

void AppendItem(std::string& out, const assl::CParsedItem* item) {
  if (item == nullptr) {
    out.append("null");
    return;
  }
  std::vector<const assl::CItemValue*> values;
  for (std::uint32_t i = 0; i < item->Count(); ++i) values.push_back(&item->At(i));
  std::sort(values.begin(), values.end(),
            [](const assl::CItemValue* a, const assl::CItemValue* b) { return a->key < b->key; });
  out.append("{\"generic\": ").append(std::to_string(item->GenericType()));
  out.append(", \"specific\": ").append(std::to_string(item->SpecificType()));
  out.append(", \"values\": {");
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i != 0) out.append(", ");
    out.push_back('"');
    out.append(std::to_string(values[i]->key)).append("\": ");
    switch (values[i]->kind) {
      case assl::CItemValue::kNumber:
        out.append(std::to_string(values[i]->number));
        break;
      case assl::CItemValue::kText:
        AppendJsonString(out, values[i]->text);
        break;
      case assl::CItemValue::kExpression:
        AppendExpression(out, values[i]->node);
        break;
      default:
        out.append("null");
        break;
    }
  }
  out.append("}}");
}

void AppendItems(std::string& out, const assl::CParsedItem* first) {
  out.push_back('[');
  for (const assl::CParsedItem* item = first; item != nullptr; item = item->Next()) {
    if (item != first) out.append(", ");
    AppendItem(out, item);
  }
  out.push_back(']');
}

// The whole file, or false with errno's text in error.
bool ReadAll(const std::string& path, std::string& data, std::string& error) {
  std::FILE* in = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
  if (in == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  char buffer[1 << 16];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) data.append(buffer, n);
  const bool failed = std::ferror(in) != 0;
  if (failed) error = std::strerror(errno);
  if (in != stdin) std::fclose(in);
  return !failed;
}

// Starts the tracing library for the command's lifetime, as loading the module would.
struct TracingScope {
  TracingScope() { ascommon::StartTracing(); }
  ~TracingScope() { ascommon::StopTracing(); }
};

int RunRulesOn(CommandContext& context, bool dump) {
  TracingScope tracing;
  std::FILE* out = context.Out();
  CStreamDiagnostics diagnostics(dump ? stderr : out);
  bool failed = false;
  for (std::size_t i = 1; i < context.Args().size(); ++i) {
    const std::string& path = context.Args()[i];
    const std::string shown = path == "-" ? "<stdin>" : path;
    std::string data, error;
    if (!ReadAll(path, data, error)) {
      std::fflush(out);
      std::fprintf(stderr, "zazozor: cannot read '%s': %s\n", shown.c_str(), error.c_str());
      failed = true;
      continue;
    }
    try {
      assl::CParserState state(shown.c_str(), &diagnostics);
      state.Parse(data.data(), data.size());
      if (dump) {
        std::string line;
        state.ForEachRule([&](const assl::CParsedRule& rule) {
          line = RuleToJson(rule);
          line.push_back('\n');
          std::fputs(line.c_str(), out);
        });
      } else {
        std::fprintf(out, "%s: %u rules committed, %u discarded, %u names replaced\n",
                     shown.c_str(), state.CommittedCount(), state.DiscardedCount(),
                     state.ReplacedCount());
      }
      if (state.ErrorCount() != 0) failed = true;
    } catch (const std::exception& e) {
      std::fflush(out);
      std::fprintf(stderr, "zazozor: %s: %s\n", shown.c_str(), e.what());
      failed = true;
    }
  }
  return failed ? 1 : 0;
}

}  // namespace

std::string RuleToJson(const assl::CParsedRule& rule) {
  std::string out = "{\"name\": ";
  AppendJsonString(out, rule.Name().c_str() != nullptr ? rule.Name().c_str() : "");
  out.append(", \"kind\": ").append(rule.Kind() == assl::kMetaRule ? "\"metarule\"" : "\"rule\"");
  out.append(", \"condition\": ");
  AppendItem(out, rule.Condition());
  out.append(", \"actions\": ");
  AppendItems(out, rule.Actions());
  out.append(", \"metadata\": ");
  AppendItems(out, rule.Metainfo());
  out.push_back('}');
  return out;
}

int RunRules(CommandContext& context) {
  // "test" takes its own option and a "--" separator.
  if (!context.Args().empty() && context.Args()[0] == "test") return RunRulesTest(context);
  context.ExpectArgs(2, static_cast<std::size_t>(-1));
  const std::string& action = context.Args()[0];
  if (action != "check" && action != "dump") {
    throw UsageError("unknown 'rules' action '" + action + "': expected check, dump or test",
                     "rules");
  }
  return RunRulesOn(context, action == "dump");
}

}  // namespace zzhost
