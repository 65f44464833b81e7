#pragma once
// Which requests the unit serves, judged by the headers a browser sets: the Host must name this unit
// (a foreign name is what DNS rebinding produces), and a request that changes the unit must not carry
// a browser's mark of a page from another origin. Clients that send neither header (the device app,
// scripts, the unit's own FastCGI clients) are served as before.
#include <string>
#include <string_view>
#include <vector>

class Request;

class RequestOrigin {
 public:
  // Names the unit answers to beyond address literals and "localhost"; any case, a final dot or not.
  explicit RequestOrigin(const std::vector<std::string>& names);
  // The unit's host name, the same with ".local", and the deployer's names from the environment
  // variable WEBSERVICE_HOST_NAMES (separated by blanks or commas).
  static RequestOrigin fromSystem();

  // An absent Host passes; otherwise it must be an IPv4 literal, an IPv6 literal in brackets,
  // "localhost" or one of the names, with or without a port.
  bool hostAllowed(std::string_view host) const;

  // A browser's mark of another origin: an Origin that is not the scheme, host and port the Host
  // names ("null" included), or without Origin a Sec-Fetch-Site of "cross-site" or "same-site".
  static bool crossOrigin(std::string_view host, std::string_view origin, std::string_view fetchSite, bool https);

 private:
  std::vector<std::string> names;  // lower case, without a final dot
};

// Each writes a refusal (403 and a JSON error) and answers true when the request must not be served.
// refuseForeign: every request whose Host names none of the unit's names, and any request but GET and
// HEAD from a page of another origin. refuseCrossOrigin: a route that changes the unit even on GET.
bool refuseForeign(Request& request);
// Why refuseForeign would refuse the request, null when it would not; it writes nothing.
const char* foreignRefusal(const Request& request);
bool refuseCrossOrigin(Request& request);
