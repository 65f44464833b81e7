#include "apps/web/service/requestorigin.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>

#include "apps/common/log/log.h"
#include "apps/web/service/request.h"

namespace {
std::string lowerCase(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

// A name as compared: lower case, and "unit.local." is the same name as "unit.local".
std::string normalName(std::string_view name) {
  if (name.ends_with('.')) name.remove_suffix(1);
  return lowerCase(name);
}

// Host and port of an authority ("name", "name:port", "[v6]:port"); false when it is none.
struct Authority {
  std::string host;  // normal name, or an IPv6 literal without its brackets
  bool bracketed = false;
  unsigned int port = 0;  // 0: none given
};

bool parseAuthority(std::string_view text, Authority& out) {
  std::string_view port;
  if (text.starts_with('[')) {
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return false;
    out.host = lowerCase(text.substr(1, close - 1));
    out.bracketed = true;
    text.remove_prefix(close + 1);
    if (!text.empty() && !text.starts_with(':')) return false;
    if (!text.empty()) port = text.substr(1);
  } else {
    const size_t colon = text.find(':');
    if (colon != std::string_view::npos) port = text.substr(colon + 1);
    out.host = normalName(text.substr(0, colon));
    if (out.host.empty()) return false;
  }
  if (port.size() > 5 || !std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }))
    return false;
  out.port = 0;
  for (char digit : port) out.port = out.port * 10 + static_cast<unsigned int>(digit - '0');
  return out.port <= 65535;
}

unsigned int effectivePort(const Authority& authority, bool https) {
  return authority.port != 0 ? authority.port : (https ? 443 : 80);
}

bool isAddress(int family, const std::string& text) {
  unsigned char address[16];
  return inet_pton(family, text.c_str(), address) == 1;
}

void refuse(Request& request, const char* why) {
  LOG(Warn, "Refused %s %s%s: %s (Host \"%.100s\", Origin \"%.100s\")", request.param("REQUEST_METHOD").c_str(),
      request.param("SCRIPT_NAME").c_str(), request.param("PATH_INFO").c_str(), why, request.param("HTTP_HOST").c_str(),
      request.param("HTTP_ORIGIN").c_str());
  request.writeHeader("Status: 403 Forbidden\r\nContent-type: application/json\r\n\r\n");
  request.output() << "{\"result\": 0, \"error\": \"" << why << "\" }";
}

bool crossOrigin(const Request& request) {
  const bool https = request.param("REQUEST_SCHEME") == "https" || lowerCase(request.param("HTTPS")) == "on";
  return RequestOrigin::crossOrigin(request.param("HTTP_HOST"), request.param("HTTP_ORIGIN"),
                                    request.param("HTTP_SEC_FETCH_SITE"), https);
}

constexpr const char* kForeignHost = "Refused: the Host names none of this unit's names";
constexpr const char* kCrossOrigin = "Refused: a page of another origin may not change this unit";
}  // namespace

RequestOrigin::RequestOrigin(const std::vector<std::string>& given) {
  for (const std::string& name : given)
    if (!name.empty()) names.push_back(normalName(name));
}

RequestOrigin RequestOrigin::fromSystem() {
  std::vector<std::string> names;
  char host[HOST_NAME_MAX + 1] = {};
  if (gethostname(host, sizeof host - 1) == 0 && host[0] != '\0') {
    names.emplace_back(host);
    names.push_back(names.back() + ".local");
  }
  if (const char* listed = std::getenv("WEBSERVICE_HOST_NAMES")) {
    std::string_view rest = listed;
    while (!rest.empty()) {
      const size_t end = std::min(rest.find_first_of(" \t,"), rest.size());
      names.emplace_back(rest.substr(0, end));
      rest.remove_prefix(std::min(end + 1, rest.size()));
    }
  }
  return RequestOrigin(names);
}

bool RequestOrigin::hostAllowed(std::string_view host) const {
  if (host.empty()) return true;
  Authority authority;
  if (!parseAuthority(host, authority)) return false;
  if (authority.bracketed) return isAddress(AF_INET6, authority.host);
  return isAddress(AF_INET, authority.host) || authority.host == "localhost" ||
         std::find(names.begin(), names.end(), authority.host) != names.end();
}

bool RequestOrigin::crossOrigin(std::string_view host, std::string_view origin, std::string_view fetchSite,
                                bool https) {
  if (origin.empty()) {
    const std::string site = lowerCase(fetchSite);
    return site == "cross-site" || site == "same-site";
  }
  // "null" and anything else that is not scheme://authority fails here.
  const std::string lower = lowerCase(origin);
  const bool originHttps = lower.starts_with("https://");
  if (!originHttps && !lower.starts_with("http://")) return true;
  Authority from, to;
  if (!parseAuthority(std::string_view(origin).substr(originHttps ? 8 : 7), from) || !parseAuthority(host, to))
    return true;
  return originHttps != https || from.host != to.host || effectivePort(from, originHttps) != effectivePort(to, https);
}

const char* foreignRefusal(const Request& request) {
  static const RequestOrigin unit = RequestOrigin::fromSystem();
  if (!unit.hostAllowed(request.param("HTTP_HOST"))) return kForeignHost;
  const std::string& method = request.param("REQUEST_METHOD");
  if (method == "GET" || method == "HEAD" || !crossOrigin(request)) return nullptr;
  return kCrossOrigin;
}

bool refuseForeign(Request& request) {
  const char* why = foreignRefusal(request);
  if (why != nullptr) refuse(request, why);
  return why != nullptr;
}

bool refuseCrossOrigin(Request& request) {
  if (!crossOrigin(request)) return false;
  refuse(request, kCrossOrigin);
  return true;
}
