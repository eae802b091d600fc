#include "parsix/UrlEncode.h"
#include "parsix/XMLParse.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CXMLParse, ReadsNamedElementsAtAnyDepth) {
    const std::string xml = "<CGI_Result><result>0</result><img><brightness>50</brightness>"
                            "</img><empty></empty></CGI_Result>";
    Parse::CXMLParse parser;
    ASSERT_TRUE(parser.ParseData(xml.data(), xml.size()));
    EXPECT_EQ(parser.GetValue("result"), "0");
    EXPECT_EQ(parser.GetValue("brightness"), "50");
    std::string value = "x";
    EXPECT_TRUE(parser.GetValue("empty", value));
    EXPECT_EQ(value, "");
    EXPECT_FALSE(parser.GetValue("missing", value));
}

TEST(CXMLParse, RejectsBrokenXmlAndForgetsTheOldDocument) {
    Parse::CXMLParse parser;
    const std::string good = "<a><b>1</b></a>";
    ASSERT_TRUE(parser.ParseData(good.data(), good.size()));
    const std::string bad = "<a><b>1</a";
    EXPECT_FALSE(parser.ParseData(bad.data(), bad.size()));
    EXPECT_EQ(parser.GetValue("b"), "");
    EXPECT_FALSE(parser.ParseData(nullptr, 10));
}

TEST(UrlEncode, KeepsQuerySeparatorsButEscapesTheRest) {
    EXPECT_EQ(Parse::url_encode("cmd=setHue&hue=5"), "cmd=setHue&hue=5");
    EXPECT_EQ(Parse::url_encode("a b/ü"), "a%20b%2F%C3%BC");
    EXPECT_EQ(Parse::url_encode_component("p&w=d"), "p%26w%3Dd");
    // Values encoded on their own pass once; a bare '%' is still encoded.
    EXPECT_EQ(Parse::url_encode("name=a%26b"), "name=a%26b");
    EXPECT_EQ(Parse::url_encode("100%"), "100%25");
    EXPECT_EQ(Parse::url_encode("%4"), "%254");
}

} // namespace
