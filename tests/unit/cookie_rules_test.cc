// The rules the host applies to the page's cookie calls before the engine's
// cookie store sees them.
#include "vesk/core/browser/cookie_rules.h"

#include <gtest/gtest.h>

namespace vesk::cookies {
namespace {

TEST(CookieRulesTest, DefaultPathIsTheDirectoryOfTheUrlPath) {
  EXPECT_EQ(DefaultPath(""), "/");
  EXPECT_EQ(DefaultPath("/"), "/");
  EXPECT_EQ(DefaultPath("/page.html"), "/");
  EXPECT_EQ(DefaultPath("/a/b/page.html"), "/a/b");
  EXPECT_EQ(DefaultPath("/a/b/"), "/a/b");
  EXPECT_EQ(DefaultPath("relative/x"), "/");
}

TEST(CookieRulesTest, OnlyTextsThatStayOneCookieAreWritten) {
  EXPECT_TRUE(IsWritable("a", "b"));
  EXPECT_TRUE(IsWritable("a", ""));
  EXPECT_TRUE(IsWritable("", "b"));
  EXPECT_TRUE(IsWritable("a", "x=y z"));
  EXPECT_FALSE(IsWritable("", ""));
  EXPECT_FALSE(IsWritable("a", "b; Domain=evil.example"));
  EXPECT_FALSE(IsWritable("a=b", "c"));
  EXPECT_FALSE(IsWritable("a\r\nSet-Cookie: x", "c"));
  EXPECT_FALSE(IsWritable("a", std::string("b\0c", 3)));
  EXPECT_FALSE(IsWritable("a", "b\x7f"));
}

TEST(CookieRulesTest, MoveTargetsAndDomains) {
  EXPECT_EQ(MoveTargetUrl("localhost"), "http://localhost");
  EXPECT_EQ(MoveTargetUrl("http://localhost"), "http://localhost");
  EXPECT_EQ(MoveTargetUrl("https://x.example"), "http://https://x.example");

  EXPECT_TRUE(DomainMatchesHost("example.com", "example.com"));
  EXPECT_TRUE(DomainMatchesHost(".example.com", "example.com"));
  EXPECT_TRUE(DomainMatchesHost("example.com", "www.EXAMPLE.com"));
  EXPECT_FALSE(DomainMatchesHost("example.com", "badexample.com"));
  EXPECT_FALSE(DomainMatchesHost("www.example.com", "example.com"));
  EXPECT_FALSE(DomainMatchesHost("http://localhost", "localhost"));
  EXPECT_FALSE(DomainMatchesHost(".", "localhost"));
  EXPECT_FALSE(DomainMatchesHost("", "localhost"));
  // Addresses match only themselves.
  EXPECT_TRUE(DomainMatchesHost("127.0.0.1", "127.0.0.1"));
  EXPECT_FALSE(DomainMatchesHost("0.0.1", "127.0.0.1"));

  EXPECT_TRUE(IsFromDomain("example.com", "example.com"));
  EXPECT_TRUE(IsFromDomain(".example.com", "example.com"));
  EXPECT_FALSE(IsFromDomain("..example.com", "example.com"));
  EXPECT_FALSE(IsFromDomain("Example.com", "example.com"));  // exact, as the store keeps it
  EXPECT_FALSE(IsFromDomain("www.example.com", "example.com"));
}

}  // namespace
}  // namespace vesk::cookies
