// The expression language: values, xBase string comparison, functions, dates
// with the two-digit-year window, and errors that name their place.
#include <gtest/gtest.h>

#include "test_util.h"
#include "xbase/xb_env.h"
#include "xbase/xb_expr.h"

namespace {

class ExprTest : public ::testing::Test {
 protected:
  ExprTest() {
    xb::env() = xb::Env{};
    fields = {{"NAME", 'C', 10, 0, 1}, {"BORN", 'D', 8, 0, 11}, {"OK", 'L', 1, 0, 19}, {"N", 'N', 5, 1, 20}};
    record = " Smith     19991231T 12.5";
  }
  ~ExprTest() override { xb::env() = xb::Env{}; }

  xb::Value eval(const std::string& text) {
    xb::Expr e;
    std::string err;
    EXPECT_EQ(xb::Expr::compile(text, fields, e, err), 0) << text << ": " << err;
    return e.eval(reinterpret_cast<const uint8_t*>(record.data()));
  }
  bool truth(const std::string& text) {
    xb::Value v = eval(text);
    EXPECT_EQ(v.type, xb::Type::Logical) << text;
    return v.b;
  }
  std::string str(const std::string& text) { return eval(text).s; }
  int errorOf(const std::string& text, std::string* message = nullptr) {
    xb::Expr e;
    std::string err;
    int rc = xb::Expr::compile(text, fields, e, err);
    if (message) *message = err;
    EXPECT_FALSE(rc == 0 && e.valid() && text.empty());
    return rc;
  }

  std::vector<xb::FieldDef> fields;
  std::string record;
};

TEST_F(ExprTest, LiteralsFieldsAndLogicalOperators) {
  EXPECT_TRUE(truth(".T."));
  EXPECT_FALSE(truth(".false."));
  EXPECT_TRUE(truth("ok .and. .not. .f."));
  EXPECT_TRUE(truth("!.F. .OR. .F."));
  EXPECT_TRUE(truth("Ok"));  // field names in any case
  EXPECT_EQ(str("name"), "Smith     ");
  EXPECT_EQ(str("'a' + \"b\""), "ab");
  EXPECT_DOUBLE_EQ(eval("n * 2 + 1").n, 26);
  EXPECT_DOUBLE_EQ(eval("-n + 10 / 4").n, -10);
  EXPECT_TRUE(truth("(1 < 2) .and. (2 >= 2) .and. (3 <> 4) .and. (3 # 4) .and. (3 != 4)"));
  EXPECT_FALSE(truth(".not. (ok)"));
  EXPECT_FALSE(truth("DELETED()"));
  record[0] = '*';
  EXPECT_TRUE(truth("DELETED()"));
  EXPECT_FALSE(truth(".not. deleted()"));
}

TEST_F(ExprTest, StringComparisonFollowsExactRules) {
  EXPECT_TRUE(truth("name = 'Smi'"));  // compares up to the right-hand length
  EXPECT_FALSE(truth("'Smi' = name"));
  EXPECT_TRUE(truth("name = ''"));
  EXPECT_FALSE(truth("name == 'Smith'"));  // == is exact, blanks count
  EXPECT_TRUE(truth("TRIM(name) == 'Smith'"));
  EXPECT_TRUE(truth("name = 'Smith'"));
  xb::setExact(true);
  EXPECT_FALSE(truth("name = 'Smi'"));
  EXPECT_TRUE(truth("name = 'Smith'"));  // trailing blanks do not count
  xb::setExact(false);
  EXPECT_TRUE(truth("'abc' < 'abd'"));
  EXPECT_TRUE(truth("'SMI' $ UPPER(name)"));
  EXPECT_FALSE(truth("'smi' $ name"));
  EXPECT_FALSE(truth("'' $ name"));
  // The clean-up conditions as built by the program.
  EXPECT_TRUE(truth("\"SMI\"$ALLTRIM(UPPER(NAME))"));
  EXPECT_FALSE(truth("ALLTRIM(UPPER(NAME))==\"SMI\""));
  EXPECT_TRUE(truth("ALLTRIM(UPPER(NAME))==\"SMITH\""));
}

TEST_F(ExprTest, Functions) {
  EXPECT_EQ(str("UPPER(name) + LOWER('AbC')"), "SMITH     abc");
  EXPECT_EQ(str("ALLTRIM('  a b  ')"), "a b");
  EXPECT_EQ(str("LTRIM('  a ') + '|'"), "a |");
  EXPECT_EQ(str("RTRIM('  a ') + '|'"), "  a|");
  EXPECT_EQ(str("TRIM(name) - '|'"), "Smith|");
  EXPECT_EQ(str("name - '|'"), "Smith|     ");
  EXPECT_EQ(str("SUBSTR(name, 2, 3)"), "mit");
  EXPECT_EQ(str("SUBSTR(name, 4)"), "th     ");
  EXPECT_EQ(str("SUBSTR(name, 40, 3)"), "");
  EXPECT_EQ(str("LEFT(name, 2) + RIGHT('abc', 2)"), "Smbc");
  EXPECT_EQ(str("LEFT(name, -2)"), "");
  EXPECT_DOUBLE_EQ(eval("LEN(name)").n, 10);
  EXPECT_DOUBLE_EQ(eval("VAL(' 12.5x') + VAL('abc')").n, 12.5);
  EXPECT_EQ(str("STR(n)"), "        12");
  EXPECT_EQ(str("STR(n, 6, 2)"), " 12.50");
  EXPECT_EQ(str("STR(123456, 3)"), "***");
  EXPECT_TRUE(truth("EMPTY('   ') .and. EMPTY(0) .and. EMPTY(.F.) .and. .not. EMPTY(name)"));
  EXPECT_EQ(str("DTOS(born)"), "19991231");
  EXPECT_EQ(str("DTOS(born + 1)"), "20000101");
  EXPECT_DOUBLE_EQ(eval("CTOD('01/01/2000') - born").n, 1);
  EXPECT_EQ(str("IIF(ok, 'yes', 'no')"), "yes");
  EXPECT_EQ(eval("DATE()").date, xb::today());
  // A blank date: DTOS gives blanks, EMPTY is true, it sorts before any date.
  record.replace(11, 8, "        ");
  EXPECT_EQ(str("DTOS(born)"), "        ");
  EXPECT_TRUE(truth("EMPTY(born) .and. born < CTOD('01/01/1900')"));
}

TEST_F(ExprTest, TwoDigitYearsSlideWithTheCurrentYear) {
  EXPECT_EQ(xb::dtosFromJulian(xb::ctod("02/01/24", 2026)), "20240201");
  EXPECT_EQ(xb::dtosFromJulian(xb::ctod("12/31/75", 2026)), "20751231");  // 49 years ahead
  EXPECT_EQ(xb::dtosFromJulian(xb::ctod("01/01/76", 2026)), "19760101");  // 50 years back
  EXPECT_EQ(xb::dtosFromJulian(xb::ctod("01/01/99", 2026)), "19990101");
  EXPECT_EQ(xb::dtosFromJulian(xb::ctod("01/01/00", 2026)), "20000101");
  EXPECT_EQ(xb::dtosFromJulian(xb::ctod("06/15/1850", 2026)), "18500615");
  EXPECT_EQ(xb::ctod("13/01/24", 2026), 0);
  EXPECT_EQ(xb::ctod("02/29/23", 2026), 0);
  EXPECT_EQ(xb::ctod("  /  /  ", 2026), 0);
  EXPECT_EQ(xb::ctod("1/2", 2026), 0);
  // CTOD in an expression uses the current year as the pivot: a date after
  // 1999 written with two digits stays after 1999.
  EXPECT_TRUE(truth("born < CTOD(\"02/01/24\")"));
  EXPECT_EQ(xb::dtoc(xb::julianFromYmd(2024, 2, 1), true), "02/01/2024");
  EXPECT_EQ(xb::dtoc(xb::julianFromYmd(2024, 2, 1), false), "02/01/24");
}

TEST_F(ExprTest, ErrorsNameTheirPlaceAndNeverPass) {
  std::string msg;
  EXPECT_EQ(errorOf("name = ", &msg), -xb::xbExprSyntax);
  EXPECT_NE(msg.find("position 8"), std::string::npos) << msg;
  EXPECT_EQ(errorOf("nosuch = 1", &msg), -xb::xbUnknownName);
  EXPECT_NE(msg.find("position 1"), std::string::npos) << msg;
  EXPECT_NE(msg.find("NOSUCH"), std::string::npos) << msg;
  EXPECT_EQ(errorOf("UPPER(name", &msg), -xb::xbExprSyntax);
  EXPECT_EQ(errorOf("FROB(name)", &msg), -xb::xbUnknownName);
  EXPECT_EQ(errorOf("name + 1", &msg), -xb::xbTypeMismatch);
  EXPECT_NE(msg.find("position 6"), std::string::npos) << msg;
  EXPECT_EQ(errorOf("'a' = 1"), -xb::xbTypeMismatch);
  EXPECT_EQ(errorOf(".not. name"), -xb::xbTypeMismatch);
  EXPECT_EQ(errorOf("UPPER(1)"), -xb::xbTypeMismatch);
  EXPECT_EQ(errorOf("UPPER()"), -xb::xbExprSyntax);
  EXPECT_EQ(errorOf("'open"), -xb::xbExprSyntax);
  EXPECT_EQ(errorOf(".maybe."), -xb::xbExprSyntax);
  EXPECT_EQ(errorOf(""), -xb::xbExprSyntax);
  EXPECT_EQ(errorOf("1 2"), -xb::xbExprSyntax);
  EXPECT_EQ(errorOf("ok @ ok"), -xb::xbExprSyntax);
  EXPECT_EQ(errorOf("IIF(ok, 1, 'a')"), -xb::xbTypeMismatch);
  // Key widths used by the index: fixed lengths for character keys.
  xb::Expr e;
  std::string err;
  ASSERT_EQ(xb::Expr::compile("DTOS(born)+LEFT(name,3)", fields, e, err), 0);
  EXPECT_EQ(e.keyWidth(), 11);
  ASSERT_EQ(xb::Expr::compile("UPPER(name)", fields, e, err), 0);
  EXPECT_EQ(e.keyWidth(), 10);
  ASSERT_EQ(xb::Expr::compile("ok", fields, e, err), 0);
  EXPECT_EQ(e.keyWidth(), 1);
}

}  // namespace
