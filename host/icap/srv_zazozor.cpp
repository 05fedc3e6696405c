// srv_zazozor.so: the c-icap service "zazozor", the content half of running the module
// behind a proxy. RESPMOD only. An HTML response (Content-Type text/html) is collected and
// judged by CPageJudge (page_judge.h), then either allowed (204 when the client allows it,
// else the body sent back byte for byte) or replaced by the block page (403, text/html;
// charset=utf-8, a fresh Content-Length). A body longer than zazozor.MaxBodySize is judged on
// its first MaxBodySize bytes, then streamed through (or dropped, when those bytes were
// blocked); it is never held whole (body_buffer.h). A gzip, deflate, bzip2 or brotli body is
// decoded for judging (when it ends within the limit; else it passes unjudged), and an
// allowed page still passes as it came. Everything else passes untouched: a non-HTML
// response, one without a body or one in an unknown encoding is answered 204 from its
// headers, before its body is read.
//
// Why the limit is small (48 KiB by default): Squid keeps at most 64 KiB of a response body
// in flight and sends no more of it until the ICAP response has begun, so a service that
// waits for more than that before answering waits for ever.
//
// c-icap.conf:
//   Service zazozor srv_zazozor.so
//   zazozor.SettingsFile /etc/zazozor.conf    the host's settings file (default: built-in)
//   zazozor.ModulePath /path/zazozor.mdl      default: beside srv_zazozor.so
//   zazozor.BlockPage /path/blockpage.html    default: data/blockpage.html beside the service
//   zazozor.BayesBlock adult                  Bayes categories that block (blank-separated)
//   zazozor.MaxBodySize 48k                   bytes collected before a page is judged
//
// Sessions: the client's address and user name, which Squid sends when told to
// (adaptation_send_client_ip on, adaptation_send_username on), choose the session through
// the settings file's "squid.session." mappings, as for the URL helper; else the default.
//
// Threads: c-icap calls the request functions from many threads at once; each request's
// state is its own, and the judge is built once in post-init (before c-icap starts its
// children) and only read afterwards. A page a filter fails on is let through and logged.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>

#include "body_buffer.h"
#include "page_judge.h"

extern "C" {
#include "c-icap.h"
#include "body.h"
#include "cfg_param.h"
#include "debug.h"
#include "header.h"
#include "request.h"
#include "service.h"
#include "simple_api.h"
}

namespace {

using zzhost::CBodyBuffer;
using zzhost::CPageJudge;

constexpr int kPreviewBytes = 4096;
// Bytes received but not yet sent that a streamed body may hold.
constexpr std::size_t kStreamWindow = std::size_t{256} << 10;
constexpr ci_off_t kDefaultMaxBody = ci_off_t{48} << 10;
// Largest decoded form of a compressed body that is judged (a bound against bombs).
constexpr ci_off_t kMaxDecodedBytes = ci_off_t{4} << 20;

// Directives (c-icap owns the strings it stores).
char* g_settingsFile = nullptr;
char* g_modulePath = nullptr;
char* g_blockPage = nullptr;
char* g_bayesBlock = nullptr;
ci_off_t g_maxBody = kDefaultMaxBody;

std::unique_ptr<CPageJudge> g_judge;  // built in post-init, read-only afterwards

struct RequestState {
  explicit RequestState(std::size_t limit) : body(limit, kStreamWindow) {}
  CBodyBuffer body;
  bool judging = false;   // an HTML body collected for the judge, not judged yet
  bool blocked = false;   // judged and replaced by the block page
  bool unlocked = false;  // c-icap may send what the body buffer hands out
  int encoding = CI_ENCODE_NONE;
};

RequestState* StateOf(ci_request_t* req) { return static_cast<RequestState*>(ci_service_data(req)); }

void Unlock(ci_request_t* req, RequestState& state) {
  if (!state.unlocked) {
    ci_req_unlock_data(req);
    state.unlocked = true;
  }
}

// The folder this service was loaded from.
std::string ServiceDir() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ServiceDir), &info) == 0 || info.dli_fname == nullptr) {
    return ".";
  }
  std::string path = info.dli_fname;
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

int InitService(ci_service_xdata_t* srvXdata, struct ci_server_conf*) {
  ci_service_set_preview(srvXdata, kPreviewBytes);
  ci_service_enable_204(srvXdata);
  ci_service_set_transfer_preview(srvXdata, "*");
  return CI_OK;
}

int PostInitService(ci_service_xdata_t*, struct ci_server_conf*) {
  zzhost::JudgeOptions options;
  options.defaultsDir = ServiceDir();
  options.modulePath = g_modulePath != nullptr ? g_modulePath : options.defaultsDir + "/zazozor.mdl";
  if (g_settingsFile != nullptr) options.settingsFile = g_settingsFile;
  if (g_blockPage != nullptr) options.blockPagePath = g_blockPage;
  if (g_bayesBlock != nullptr) options.bayesBlocked = zzhost::SplitWords(g_bayesBlock);
  try {
    g_judge = std::make_unique<CPageJudge>(options);
  } catch (const std::exception& e) {
    ci_debug_printf(1, "zazozor: cannot start: %s\n", e.what());
    return CI_ERROR;
  }
  ci_debug_printf(2, "zazozor: page filters open on %zu sessions\n", g_judge->SessionCount());
  return CI_OK;
}

void CloseService() { g_judge.reset(); }

void* InitRequestData(ci_request_t* req) {
  (void)req;
  return new (std::nothrow) RequestState(static_cast<std::size_t>(g_maxBody));
}

void ReleaseRequestData(void* data) { delete static_cast<RequestState*>(data); }

// Passes the response without judging it: 204 when the client takes one now, else the
// body is echoed as it streams in.
int PassThrough(ci_request_t* req, RequestState& state) {
  if (ci_req_preview_size(req) >= 0 || ci_req_allow204(req)) return CI_MOD_ALLOW204;
  state.body = CBodyBuffer(0, kStreamWindow);  // full at once: streams from the first byte
  Unlock(req, state);
  return CI_MOD_CONTINUE;
}

int CheckPreview(char* preview, int previewLength, ci_request_t* req) {
  RequestState* state = StateOf(req);
  if (state == nullptr || !ci_req_hasbody(req) || g_judge == nullptr) return CI_MOD_ALLOW204;
  const char* type = ci_http_response_get_header(req, "Content-Type");
  if (type == nullptr || !zzhost::IsHtmlContentType(type)) return PassThrough(req, *state);
  if (const char* coding = ci_http_response_get_header(req, "Content-Encoding")) {
    state->encoding = ci_encoding_method(coding);
    if (state->encoding == CI_ENCODE_UNKNOWN) return PassThrough(req, *state);
  }
  try {
    if (previewLength > 0) state->body.Accept(preview, static_cast<std::size_t>(previewLength));
  } catch (const std::bad_alloc&) {
    return CI_MOD_ALLOW204;  // out of memory: the page passes unjudged
  }
  state->judging = true;
  if (ci_req_hasalldata(req)) state->body.MarkEnd();
  return CI_MOD_CONTINUE;
}

// The page text to judge: the body itself, or its decoded form. False when a compressed body
// is longer than the limit, does not decode, or decodes to more than kMaxDecodedBytes (the
// page then passes unjudged).
bool DecodedBody(const RequestState& state, std::string& out) {
  const std::string_view body = state.body.Content();
  if (state.encoding == CI_ENCODE_NONE) {
    out.assign(body);
    return true;
  }
  if (state.body.Full()) return false;  // the first part of a compressed body
  ci_membuf_t* decoded = ci_membuf_new_sized(64 << 10);
  if (decoded == nullptr) return false;
  const int status =
      ci_decompress_to_membuf(state.encoding, body.data(), body.size(), decoded, kMaxDecodedBytes);
  const bool ok = status == CI_UNCOMP_OK;
  if (ok) out.assign(decoded->buf, static_cast<std::size_t>(decoded->endpos));
  ci_membuf_free(decoded);
  return ok;
}

// An ICAP request header's value, "" when absent.
std::string_view IcapHeader(ci_request_t* req, const char* name) {
  const char* value = req->request_header != nullptr ? ci_headers_value(req->request_header, name)
                                                     : nullptr;
  return value != nullptr ? std::string_view(value) : std::string_view();
}

std::string RequestUrl(ci_request_t* req) {
  char url[8192];
  const int length = ci_http_request_url(req, url, sizeof url);
  return length > 0 ? std::string(url, strnlen(url, sizeof url)) : std::string();
}

void ReplaceWithBlockPage(ci_request_t* req, RequestState& state, std::string page) {
  ci_http_response_reset_headers(req);
  ci_http_response_add_header(req, "HTTP/1.1 403 Forbidden");
  ci_http_response_add_header(req, "Content-Type: text/html; charset=utf-8");
  ci_http_response_add_header(req, ("Content-Length: " + std::to_string(page.size())).c_str());
  ci_http_response_add_header(req, "Cache-Control: no-store");
  state.body.Replace(std::move(page));
}

// Judges what was collected (the whole body, or its first part once the buffer is full) and
// replaces it with the block page when it is blocked. Either way the data is unlocked unless
// the page may still be answered with 204 (allowed, whole, nothing sent).
void Decide(ci_request_t* req, RequestState& state) {
  state.judging = false;
  const std::string url = RequestUrl(req);
  try {
    std::string page;
    if (DecodedBody(state, page)) {
      const zzhost::PageVerdict verdict = g_judge->Judge(
          page, url, IcapHeader(req, "X-Client-IP"), IcapHeader(req, "X-Client-Username"));
      if (verdict.blocked) {
        ci_debug_printf(3, "zazozor: blocked %s: %s, %s\n", url.c_str(), verdict.reason.c_str(),
                        verdict.rule.c_str());
        ReplaceWithBlockPage(req, state, g_judge->RenderBlock(verdict, url));
        state.blocked = true;
      }
    }
  } catch (const std::exception& e) {
    ci_debug_printf(1, "zazozor: %s passed unjudged: %s\n", url.c_str(), e.what());
  }
  if (state.blocked || state.body.Full()) Unlock(req, state);
}

int ServiceIo(char* wbuf, int* wlen, char* rbuf, int* rlen, int iseof, ci_request_t* req) {
  RequestState* state = StateOf(req);
  if (state == nullptr) return CI_ERROR;
  bool tookAll = true;
  if (rbuf != nullptr && rlen != nullptr && *rlen > 0) {
    std::size_t taken = 0;
    try {
      taken = state->body.Accept(rbuf, static_cast<std::size_t>(*rlen));
    } catch (const std::bad_alloc&) {
      return CI_ERROR;  // out of memory: c-icap ends the transaction
    }
    tookAll = taken == static_cast<std::size_t>(*rlen);
    *rlen = static_cast<int>(taken);
    if (state->body.Full()) {
      if (state->judging) Decide(req, *state);
      Unlock(req, *state);
    }
  }
  if (iseof && tookAll) state->body.MarkEnd();
  if (wbuf != nullptr && wlen != nullptr) {
    const long sent = state->body.Drain(wbuf, static_cast<std::size_t>(*wlen));
    *wlen = sent < 0 ? CI_EOF : static_cast<int>(sent);
  }
  return CI_OK;
}

int EndOfData(ci_request_t* req) {
  RequestState* state = StateOf(req);
  if (state == nullptr) return CI_ERROR;
  state->body.MarkEnd();
  if (state->judging) {
    Decide(req, *state);
    if (!state->blocked && ci_req_allow204(req) && !ci_req_sent_data(req)) return CI_MOD_ALLOW204;
  }
  Unlock(req, *state);
  return CI_MOD_DONE;
}

struct ci_conf_entry g_confTable[] = {
    {"SettingsFile", &g_settingsFile, ci_cfg_set_str, "The zazozor settings file"},
    {"ModulePath", &g_modulePath, ci_cfg_set_str, "The module file (zazozor.mdl)"},
    {"BlockPage", &g_blockPage, ci_cfg_set_str, "The block page template"},
    {"BayesBlock", &g_bayesBlock, ci_cfg_set_str, "Bayes categories that block a page"},
    {"MaxBodySize", &g_maxBody, ci_cfg_size_off, "Bytes collected before a page is judged (k, M)"},
    {nullptr, nullptr, nullptr, nullptr}};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) ci_service_module_t service = {
    "zazozor",
    "zazozor parental content filter",
    ICAP_RESPMOD,
    InitService,
    PostInitService,
    CloseService,
    InitRequestData,
    ReleaseRequestData,
    CheckPreview,
    EndOfData,
    ServiceIo,
    g_confTable,
    nullptr,
};

}  // extern "C"
