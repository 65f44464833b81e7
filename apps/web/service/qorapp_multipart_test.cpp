#include <gtest/gtest.h>

#include "apps/web/service/test/qorapp_fixture.h"

namespace {
using Fields = std::map<std::string, std::string>;

class MultipartTest : public qortest::AppTest {
 protected:
  // Parses body with the given content type; the file part lands in upload.
  bool parse(const std::string& contentType, const std::string& body, Fields& fields) {
    Request request(nullptr, -1, 0);
    request.params["CONTENT_TYPE"] = contentType;
    request.postData = body;
    return app.parseFormData(&request, fields, upload.c_str());
  }

  std::string upload = dir / "upload";
};

TEST_F(MultipartTest, HeaderLinesSplitBodiesThatAreNotMultipartAreRefusedAndFieldsLoseTheirLastLineEnd) {
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

  Fields fields;
  for (const char* type : {"application/json", "Multipart/Form-Data; boundary=x", "multipart/form-data",
                           "multipart/form-data; boundary=", "multipart/form-data; boundary=\"\""})
    EXPECT_FALSE(parse(type, "--x\r\n", fields)) << type;
  EXPECT_TRUE(fields.empty());
  EXPECT_TRUE(parse("multipart/form-data; boundary=\"x\"", "", fields));
  EXPECT_TRUE(fields.empty());

  // Fields lose only the line end before the delimiter.
  std::string body =
      "preamble is dropped\r\n"
      "--XyZ\r\n"
      "Content-Disposition: form-data; name=\"deviceid\"\r\n"
      "\r\n"
      "ABC-DEF-42\r\n"
      "--XyZ\r\n"
      "Content-Disposition: form-data; name=\"bare\"\r\n"
      "\r\n"
      "line one\nline two\n\n"
      "--XyZ\r\n"
      "Content-Disposition: form-data; name=\"cr\"\r\n"
      "\r\n"
      "a\r\n"
      "\r\n"
      "\r\n"
      "--XyZ\r\n"
      "Content-Disposition: form-data; name=\"twice\"\r\n\r\nfirst\r\n"
      "--XyZ\r\n"
      "Content-Disposition: form-data; name=\"twice\"\r\n\r\nsecond\r\n"
      "--XyZ\r\n"
      "Content-Type: text/plain\r\n\r\nnameless\r\n"
      "--XyZ--\r\n";
  ASSERT_TRUE(parse("multipart/form-data; boundary=XyZ", body, fields));
  EXPECT_EQ(fields, (Fields{{"deviceid", "ABC-DEF-42"},
                            {"bare", "line one\nline two\n\n"},
                            {"cr", "a\r\n\r\n"},
                            {"twice", "second"},
                            {"", "nameless"}}));
}

TEST_F(MultipartTest, FileContentIsWrittenByteForByteUpToTheLastDelimiter) {
  const std::string content("\x00\x01\r\nbinary\r\r\n\n\rend", 18);
  const std::string second("+more", 5);
  std::string body =
      "--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"u.swu\"\r\n"
      "Content-Type: application/octet-stream\r\n\r\n" +
      content + "\r\n--b\r\nContent-Disposition: form-data; name=\"deviceid\"\r\n\r\nid-1\r\n" +
      "--b\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\n" + second + "\r\n--b--";
  Fields fields;
  ASSERT_TRUE(parse("multipart/form-data; boundary=b", body, fields));
  EXPECT_EQ(fields, (Fields{{"deviceid", "id-1"}, {"file", upload}}));
  // Every part named "file" goes to the one file, in order.
  EXPECT_EQ(qortest::readFile(upload), content + second);

  // Parts cut off before their delimiter are not stored.
  fields.clear();
  body =
      "--b\r\nContent-Disposition: form-data; name=\"deviceid\"\r\n\r\nkept\r\n"
      "--b\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\npartial\r\n";
  ASSERT_TRUE(parse("multipart/form-data; boundary=b", body, fields));
  EXPECT_EQ(fields, (Fields{{"deviceid", "kept"}}));
  // What reached the file stays there, with the line end the last empty read adds.
  EXPECT_EQ(qortest::readFile(upload), "partial\r\n\n");
}

}  // namespace
