#include "format/currency.h"

#include <gtest/gtest.h>

namespace format {
namespace {

TEST(SetCurrencyTest, StartUpReportAndBack) {
  Currency() = {};
  SetCurrency("a,E");
  EXPECT_EQ(Currency().main, "E");
  EXPECT_EQ(Currency().current, "E");
  // No print currency yet: "p" falls back on the main one.
  SetCurrency("p");
  EXPECT_EQ(Currency().current, "E");
  SetCurrency("i, p ");
  EXPECT_EQ(Currency().print, "P");
  EXPECT_EQ(Currency().current, "E");
  SetCurrency("P");
  EXPECT_EQ(Currency().current, "P");
  SetCurrency("");
  EXPECT_EQ(Currency().current, "E");
}

TEST(SetCurrencyTest, Table) {
  struct {
    const char* selection;
    const char* main;
    const char* print;
    const char* current;
  } cases[] = {
      {"a,", "E", "", "E"}, {"A, p", "P", "", "P"}, {"a,euro", "E", "", "E"},
      {"x,", "", "", ""},   {"x,d", "", "D", ""},   {"zzz", "", "", ""},
  };
  for (const auto& c : cases) {
    Currency() = {};
    SetCurrency(c.selection);
    EXPECT_EQ(Currency().main, c.main) << c.selection;
    EXPECT_EQ(Currency().print, c.print) << c.selection;
    EXPECT_EQ(Currency().current, c.current) << c.selection;
  }
  Currency() = {};
  SetCurrency("a,E");
  SetCurrency("print,");  // an empty print letter takes the main one
  EXPECT_EQ(Currency().print, "E");
  Currency() = {};
}

}  // namespace
}  // namespace format
