#include "page_judge.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <fstream>
#include <sstream>

#include "errors.h"
#include "exe_path.h"
#include "page_item.h"
#include "verdicts.h"

namespace zzhost {

namespace {

constexpr std::u16string_view kAdvancedName = u"Http Parental BWList Advanced Filter";
constexpr std::u16string_view kBayesName = u"Http Parental Bayesian Filter";
constexpr std::u16string_view kSignaturesName = u"Http Parental Signatures Filter";
constexpr std::u16string_view kPageFilters[] = {kAdvancedName, kBayesName, kSignaturesName};
constexpr char16_t kBayesThresholdKey[] = u"/http/filter/bayes/Threshold";
constexpr std::uint32_t kDefaultBayesThreshold = 50;

// Used when no template is configured and none was installed beside the service.
constexpr std::string_view kFallbackTemplate =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Page blocked</title></head>\n"
    "<body><h1>This page is blocked</h1>\n<p>Reason: {{reason}}</p>\n<p>Rule: {{rule}}</p>\n"
    "<p>Address: {{url}}</p>\n<p>Profile: {{session}}</p>\n</body></html>\n";

std::string LoadTemplate(const JudgeOptions& options) {
  std::string text;
  std::string error;
  if (!options.blockPagePath.empty()) {
    if (!LoadBlockPageTemplate(options.blockPagePath, text, error)) throw HostError(error);
    return text;
  }
  if (LoadBlockPageTemplate(options.defaultsDir + "/data/blockpage.html", text, error)) {
    return text;
  }
  return std::string(kFallbackTemplate);
}

}  // namespace

CPageJudge::CPageJudge(const JudgeOptions& options)
    : m_sessions(options.session), m_bayesBlocked(options.bayesBlocked) {
  m_template = LoadTemplate(options);
  m_settings = std::make_unique<CHostSettings>();
  if (options.settingsFile.empty()) {
    m_settings->LoadDefaults(options.defaultsDir, TempDir());
  } else {
    m_settings->LoadFile(options.settingsFile);
    std::ifstream in(options.settingsFile, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    m_sessions.LoadText(text.str(), options.settingsFile);
    // The regular-expression library lives beside the service unless the file says otherwise.
    if (m_settings->GetStringValue(u"/http/global/SharedLibsPath") == nullptr) {
      m_settings->Set(std::nullopt, kSharedLibsPathKey, options.defaultsDir, "");
    }
  }

  // Each page filter that some session enables is created (and its data loaded) once.
  m_host = std::make_unique<CModuleHost>(options.modulePath);
  const std::vector<std::uint32_t> sessions = m_sessions.Sessions();
  for (const std::uint32_t session : sessions) {
    std::vector<std::u16string_view> missing;
    for (const std::u16string_view name : kPageFilters) {
      if (m_host->FindFilter(name) == nullptr) missing.push_back(name);
    }
    if (!missing.empty()) m_host->AddAllFilters(*m_settings, session, missing.data(), missing.size());
  }
  for (const std::uint32_t session : sessions) {
    m_host->OpenSession(session);
    SessionFilters& filters = m_bySession[session];
    filters.threshold =
        m_settings->GetIntValue(session, kBayesThresholdKey, kDefaultBayesThreshold);
    m_host->ForEachActiveFilter(session, [&](HostedFilter& hosted) {
      filters.active.push_back(&hosted);
      if (hosted.wideName == kSignaturesName) filters.fullItem = true;
      if (hosted.wideName == kAdvancedName) filters.advancedActive = true;
    });
  }
}

CPageJudge::~CPageJudge() {
  if (m_host) {
    try {
      m_host->Shutdown();
    } catch (const HostError&) {
      // nothing to report to from a destructor; the module is unloaded either way
    }
  }
}

PageVerdict CPageJudge::Judge(std::string_view bytes, const std::string& url,
                              std::string_view client, std::string_view user) const {
  PageVerdict verdict;
  verdict.session = m_sessions.Select(client, user);
  const SessionFilters& filters = m_bySession.at(verdict.session);
  CPageItem page(bytes, url, filters.threshold,
                 filters.fullItem ? PageFields::kAll : PageFields::kText);
  AItem& item = page.Item();
  for (HostedFilter* hosted : filters.active) {
    CModuleHost::Call(hosted->name + ": Process",
                      [&] { hosted->filter->Process(verdict.session, &item, 0); });
  }
  const ascommon::CBlackBox& bb = item.GetBlackBox();

  const ListVerdicts lists = ReadListVerdicts(bb, page.Ext(), filters.advancedActive);
  if (((lists.categoryBits >> kVerdictWhiteList) & 1) != 0) return verdict;
  if (lists.categoryBits != 0) {
    verdict.blocked = true;
    verdict.reason = ListVerdicts::CategoryName(std::countr_zero(lists.categoryBits));
    verdict.rule = "category list";
    return verdict;
  }
  const SignatureVerdict signature = ReadSignatureVerdict(bb);
  if (!signature.rule.empty()) {
    verdict.blocked = true;
    verdict.reason = signature.category.value_or("signature");
    verdict.rule = signature.rule;
    return verdict;
  }
  const BayesVerdict bayes = ReadBayesVerdict(bb);
  if (bayes.written && std::find(m_bayesBlocked.begin(), m_bayesBlocked.end(),
                                 bayes.category) != m_bayesBlocked.end()) {
    verdict.blocked = true;
    verdict.reason = bayes.category;
    verdict.rule = "Bayes score " + std::to_string(bayes.score);
  }
  return verdict;
}

std::string CPageJudge::RenderBlock(const PageVerdict& verdict, const std::string& url) const {
  return RenderBlockPage(m_template,
                         BlockReason{verdict.reason, verdict.rule, url, verdict.session});
}

bool IsHtmlContentType(std::string_view value) {
  constexpr std::string_view kHtml = "text/html";
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  if (value.size() < kHtml.size()) return false;
  for (std::size_t i = 0; i < kHtml.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(value[i])) != kHtml[i]) return false;
  }
  value.remove_prefix(kHtml.size());
  return value.empty() || value.front() == ';' || value.front() == ' ' || value.front() == '\t';
}

std::vector<std::string> SplitWords(std::string_view text) {
  std::vector<std::string> words;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ' ' || text[i] == ',' || text[i] == '\t') {
      if (i > start) words.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return words;
}

}  // namespace zzhost
