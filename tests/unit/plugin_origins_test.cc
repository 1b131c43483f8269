#include "vesk/core/plugin_origins.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(PluginOriginsTest, OriginsCompareInTheFormADocumentReports) {
  EXPECT_EQ(NormalizeOrigin("HTTPS://Mail.Example.COM:443/inbox?x"), "https://mail.example.com");
  EXPECT_EQ(NormalizeOrigin("http://127.0.0.1:8080"), "http://127.0.0.1:8080");
  EXPECT_EQ(NormalizeOrigin("http://[::1]:81/"), "http://[::1]:81");
  EXPECT_EQ(NormalizeOrigin("vesk://VESK"), "vesk://vesk");
  for (const char* bad : {"", "null", "about:blank", "mail.example.com", "file:///tmp/x"})
    EXPECT_FALSE(NormalizeOrigin(bad)) << bad;
}

TEST(PluginOriginsTest, DefaultIsTheApplicationsOwnOrigins) {
  const auto list = PluginOriginList::Default(
      {"vesk", "mail"},
      BuildCrossOriginEntries({"https://app.example"}, {"https://a.example", "https://b.example"}));
  EXPECT_EQ(list.Describe(), "vesk://vesk, vesk://mail, https://app.example");
  EXPECT_TRUE(list.Allows("vesk://vesk"));
  EXPECT_TRUE(list.Allows("vesk://Mail"));
  EXPECT_TRUE(list.Allows("https://app.example"));
  // Targets of the cross-origin list are not sources; subdomains, other
  // ports and opaque origins are other origins.
  for (const char* other : {"https://a.example", "https://x.app.example", "https://app.example:8443",
                            "http://app.example", "null", "", "vesk://vesk.evil"})
    EXPECT_FALSE(list.Allows(other)) << other;
}

TEST(PluginOriginsTest, ExplicitListRejectsNonOriginsAndStarAdmitsEveryFrame) {
  std::vector<std::string> rejected;
  const auto list =
      PluginOriginList::FromEntries({"https://a.example", "no origin", "https://A.example/"}, &rejected);
  EXPECT_EQ(list.Describe(), "https://a.example");
  EXPECT_EQ(rejected, std::vector<std::string>{"no origin"});
  EXPECT_FALSE(list.Allows("vesk://vesk"));

  const auto every = PluginOriginList::FromEntries({"vesk://vesk", "*"});
  EXPECT_TRUE(every.allows_every_origin());
  EXPECT_TRUE(every.Allows("null"));
  EXPECT_TRUE(every.Allows("http://127.0.0.1:9"));
  EXPECT_EQ(PluginOriginList::FromEntries({}).Describe(), "(none)");
}

}  // namespace
}  // namespace vesk
