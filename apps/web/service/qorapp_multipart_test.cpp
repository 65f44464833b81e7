#include "apps/web/service/qorapp_multipart.h"

#include <gtest/gtest.h>

#include "apps/web/service/qorapp.h"

namespace {
using Fields = std::map<std::string, std::string>;

struct Parsed {
  Fields fields;
  std::string file;
  bool complete = false;
  bool failed = false;
  std::string failure;
  bool operator==(const Parsed&) const = default;
};

// Parses body cut at the given offsets (ascending), as records would bring it.
Parsed parse(const std::string& boundary, const std::string& body, const std::vector<size_t>& cuts = {}) {
  std::string file;
  MultipartParser parser(boundary, [&file](std::string_view bytes) {
    file.append(bytes);
    return true;
  });
  size_t from = 0;
  for (size_t cut : cuts) {
    parser.feed(std::string_view(body).substr(from, cut - from));
    from = cut;
  }
  parser.feed(std::string_view(body).substr(from));
  return {parser.fields(), file, parser.complete(), parser.failed(), parser.failureText()};
}

TEST(Multipart, HeaderLinesSplitFieldsLoseTheirLastLineEndAndCutSecondFileAndOversizedBodiesAreTold) {
  const auto split = [](Fields out, const char* line) {
    QorApp::splitHeaderLine(out, line);
    return out;
  };
  EXPECT_EQ(split({}, "Content-Disposition: form-data; name=\"file\"; filename=\"u.swu\""),
            (Fields{{"Content-Disposition: form-data", ""}, {"name", "file"}, {"filename", "u.swu"}}));
  EXPECT_EQ(split({}, " multipart/form-data ;boundary = \"ab=c\" ; boundary=second;"),
            (Fields{{"multipart/form-data", ""}, {"boundary", "ab=c"}, {"", ""}}));
  EXPECT_EQ(split({{"kept", "old"}}, "kept=new"), (Fields{{"kept", "old"}}));
  EXPECT_EQ(split({}, ""), (Fields{{"", ""}}));

  for (const char* type : {"application/json", "Multipart/Form-Data; boundary=x", "multipart/form-data",
                           "multipart/form-data; boundary=", "multipart/form-data; boundary=\"\""})
    EXPECT_EQ(MultipartParser::boundaryOf(type), "") << type;
  EXPECT_EQ(MultipartParser::boundaryOf("multipart/form-data; boundary=\"x\""), "x");

  // Fields lose only the CR LF before the delimiter; the preamble and the epilogue are no field.
  const std::string body =
      "preamble is dropped\r\n--XyZ\r\n"
      "Content-Disposition: form-data; name=\"deviceid\"\r\n\r\nABC-DEF-42\r\n--XyZ\r\n"
      "Content-Disposition: form-data; name=\"bare\"\r\n\r\nline one\nline two\n\n--XyZ\r\n"
      "Content-Disposition: form-data; name=\"cr\"\r\n\r\na\r\n\r\n\r\n--XyZ\r\n"
      "Content-Disposition: form-data; name=\"twice\"\r\n\r\nfirst\r\n--XyZ\r\n"
      "Content-Disposition: form-data; name=\"twice\"\r\n\r\nsecond\r\n--XyZ\r\n"
      "Content-Type: text/plain\r\n\r\nnameless\r\n--XyZ--\r\n"
      "--XyZ\r\nContent-Disposition: form-data; name=\"epilogue\"\r\n\r\nnot a field\r\n--XyZ--\r\n";
  const Parsed whole = parse("XyZ", body);
  EXPECT_EQ(whole.fields, (Fields{{"deviceid", "ABC-DEF-42"},
                                  {"bare", "line one\nline two\n\n"},
                                  {"cr", "a\r\n\r\n"},
                                  {"twice", "second"},
                                  {"", "nameless"}}));
  EXPECT_TRUE(whole.complete);
  // A closing delimiter without a line end after it closes the body as well.
  EXPECT_TRUE(parse("b", "--b\r\nContent-Disposition: form-data; name=\"x\"\r\n\r\n1\r\n--b--").complete);
  EXPECT_TRUE(parse("b", "--b\r\n--b--").complete);

  // Cut before the closing delimiter: not complete, and a part without its delimiter is no field.
  const std::string cut =
      "--b\r\nContent-Disposition: form-data; name=\"deviceid\"\r\n\r\nkept\r\n"
      "--b\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\npartial\r\n";
  Parsed parsed = parse("b", cut);
  EXPECT_FALSE(parsed.complete);
  EXPECT_FALSE(parsed.failed);
  EXPECT_EQ(parsed.fields, (Fields{{"deviceid", "kept"}}));

  // A part whose headers never end is a field without content, wherever the closing delimiter is cut.
  const std::string headersOnly = "--b\r\nContent-Disposition: form-data; name=\"x\"\r\n--b--\r\n";
  EXPECT_EQ(parse("b", headersOnly).fields, (Fields{{"x", ""}}));
  EXPECT_EQ(parse("b", headersOnly, {headersOnly.size() - 2}).fields, (Fields{{"x", ""}}));

  // A second part named "file" is refused, not joined to the first.
  parsed = parse("b",
                 "--b\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\none\r\n"
                 "--b\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\ntwo\r\n--b--\r\n");
  EXPECT_TRUE(parsed.failed);
  EXPECT_EQ(parsed.failure, "The upload holds a second part named 'file'.");
  EXPECT_EQ(parsed.file, "one");

  // Fields are held in memory, so they are bounded; the file is not.
  const std::string big(MultipartParser::kMaxFieldBytes + 1, 'v');
  parsed = parse("b", "--b\r\nContent-Disposition: form-data; name=\"x\"\r\n\r\n" + big + "\r\n--b--");
  EXPECT_EQ(parsed.failure, "A form field of the upload is too long.");
  parsed = parse("b", "--b\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\n" + big + "\r\n--b--");
  EXPECT_TRUE(parsed.complete);
  EXPECT_EQ(parsed.file, big);
  parsed = parse("b", "--b\r\nX: " + big + "\r\n\r\n--b--");
  EXPECT_EQ(parsed.failure, "A part header of the upload is too long.");

  // A writer that fails stops the parse without a text of the parser's own.
  MultipartParser failing("b", [](std::string_view) { return false; });
  EXPECT_FALSE(failing.feed("--b\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\ndata"));
  EXPECT_TRUE(failing.writeFailed());
}

TEST(Multipart, FileContentPassesByteForByteWhereverTheBodyIsCut) {
  // Delimiter look-alikes, CRs before LFs and NULs, each next to a possible cut.
  constexpr char kContent[] = "\x00\x01\r\nbinary\r\r\n\n\r--b-\r\n--\r\n-\r\rend\r";
  const std::string content(kContent, sizeof kContent - 1);
  const std::string body =
      "--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"u.swu\"\r\n"
      "Content-Type: application/octet-stream\r\n\r\n" +
      content + "\r\n--b\r\nContent-Disposition: form-data; name=\"deviceid\"\r\n\r\nid-1\r\n--b--\r\nafter";
  const Parsed whole = parse("b", body);
  EXPECT_EQ(whole.file, content);
  EXPECT_EQ(whole.fields, (Fields{{"deviceid", "id-1"}, {"file", ""}}));
  EXPECT_TRUE(whole.complete);
  for (size_t cut = 0; cut <= body.size(); ++cut) {
    ASSERT_EQ(parse("b", body, {cut}), whole) << "cut at " << cut;
    for (size_t second = cut; second <= body.size(); second += 7)
      ASSERT_EQ(parse("b", body, {cut, second}), whole) << "cut at " << cut << " and " << second;
  }
  std::vector<size_t> byteWise;
  for (size_t i = 1; i < body.size(); ++i) byteWise.push_back(i);
  EXPECT_EQ(parse("b", body, byteWise), whole);
}

}  // namespace
