// Key and filter expressions: values, widths, key bytes and refusals.
#include "platform/xbase/expr.h"

#include <gtest/gtest.h>

#include "platform/xbase/cdx.h"
#include "platform/xbase/dbf.h"
#include "platform/xbase/error.h"
#include "tests/platform/xbase_test_util.h"

using namespace xbase;
using xbtest::TempDir;

namespace {

class ExprTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dbf = Dbf::Create(dir / "t.dbf",
                      {{"NAME", 'C', 10, 0}, {"NUM", 'N', 8, 2}, {"DAY", 'D', 8, 0}, {"FLAG", 'L', 1, 0},
                       {"QTY", 'I', 4, 0}, {"CODE", 'C', 4, 0}},
                      false);
    rec = dbf->BlankRecord();
    Set("NAME", "Bob");
    Set("NUM", "12.5");
    Set("DAY", "20240115");
    Set("FLAG", "T");
    Set("QTY", "-7");
    Set("CODE", "12ab");
  }
  void Set(const char* f, const std::string& v) { dbf->SetField(rec, dbf->FieldIndex(f), v); }
  Value Eval(const std::string& text) {
    Expr e = Expr::Compile(text, *dbf);
    return e.Eval(Ctx());
  }
  EvalContext Ctx() const { return EvalContext{dbf.get(), &rec, 42}; }

  TempDir dir;
  std::unique_ptr<Dbf> dbf;
  std::string rec;
};

}  // namespace

TEST_F(ExprTest, CharacterResultsAndTheirWidths) {
  struct Case {
    const char* expr;
    const char* value;
    int width;
  } cases[] = {
      {"name", "Bob       ", 10},
      {"Name", "Bob       ", 10},
      {"T->NAME", "Bob       ", 10},
      {"UPPER(name)", "BOB       ", 10},
      {"lower(UPPER(name))", "bob       ", 10},
      {"NAME+DTOS(DAY)", "Bob       20240115", 18},
      {"name - code", "Bob12ab       ", 14},
      {"STR(NUM,10,2)", "     12.50", 10},
      {"STR(num)", "        13", 10},
      {"STR(num, 4, 1)", "12.5", 4},
      {"STR(num, 3, 1)", " 13", 3},
      {"STR(123456, 3)", "***", 3},
      // Rounded half away from zero on the exact binary value, the minus sign
      // kept when a negative value rounds to zero.
      {"STR(-0.001, 6, 2)", " -0.00", 6},
      {"STR(-0.0000005, 10, 6)", " -0.000000", 10},  // -4.99999...e-7
      {"STR(2.675, 5, 2)", " 2.67", 5},                // 2.67499999...
      {"STR(0.125, 5, 2)", " 0.13", 5},                // an exact half
      {"STR(-2.5, 3)", " -3", 3},
      {"STR(7594926.2706864998, 20, 6)", "      7594926.270686", 20},
      {"STR(99.96, 4, 2)", " 100", 4},
      {"STR(qty, 4)", "  -7", 4},
      {"DTOS(day)", "20240115", 8},
      {"DTOC(day)", "01/15/24", 8},
      {"LEFT(name, 2)", "Bo", 2},
      {"RIGHT(code, 2)", "ab", 2},
      {"SUBSTR(name, 2, 2)", "ob", 2},
      {"SUBSTR(name, 2)", "ob       ", 9},
      {"TRIM(name) + 'x'", "Bobx", 11},
      {"RTRIM(name) + [x]", "Bobx", 11},
      {"ALLTRIM(\"  a  \") + 'b'", "ab", 6},
      {"LTRIM(\"  a\")", "a", 3},
      {"IIF(flag, 'Y', 'NO')", "Y ", 2},
      {"IIF(.NOT. flag, 'Y', 'NO')", "NO", 2},
      {"SPACE(3) + 'a'", "   a", 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expr);
    Expr e = Expr::Compile(c.expr, *dbf);
    EXPECT_EQ(e.Type(), 'C');
    EXPECT_EQ(e.Width(), c.width);
    EXPECT_EQ(e.Eval(Ctx()).s, c.value);
    EXPECT_EQ(e.KeyLength(), c.width);
    std::string key = e.Key(Ctx(), c.width + 2);
    EXPECT_EQ(key, std::string(c.value) + std::string(static_cast<size_t>(c.width) + 2 - std::strlen(c.value), ' '));
  }
}

TEST_F(ExprTest, NumbersDatesAndLogicals) {
  struct Case {
    const char* expr;
    char type;
    double n;
    bool b;
  } cases[] = {
      {"num", 'N', 12.5, false},
      {"NUM * 2 - 1", 'N', 24, false},
      {"-num + 1", 'N', -11.5, false},
      {"num / 0", 'N', 0, false},
      {"qty", 'N', -7, false},
      {"VAL(code)", 'N', 12, false},
      {"VAL(name)", 'N', 0, false},
      {"RECNO()", 'N', 42, false},
      {"day", 'D', 2460325, false},
      {"day + 1", 'D', 2460326, false},
      {"day - day", 'N', 0, false},
      {"flag", 'L', 0, true},
      {"DELETED()", 'L', 0, false},
      {".NOT. DELETED()", 'L', 0, true},
      {"!flag", 'L', 0, false},
      {"flag .AND. num > 10", 'L', 0, true},
      {"flag .and. num < 10 .or. qty = -7", 'L', 0, true},
      {"name = 'Bo'", 'L', 0, true},
      {"name == 'Bo'", 'L', 0, false},
      {"name == 'Bob'", 'L', 0, true},
      {"name <> 'Bob'", 'L', 0, false},
      {"name # 'Al'", 'L', 0, true},
      {"'ob' $ name", 'L', 0, true},
      {"name >= 'Bob' .AND. name < 'Bobby'", 'L', 0, true},
      {"day > day - 1", 'L', 0, true},
      {"flag = .T.", 'L', 0, true},
      {"IIF(flag, 1, 2) = 1", 'L', 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expr);
    Expr e = Expr::Compile(c.expr, *dbf);
    ASSERT_EQ(e.Type(), c.type);
    Value v = e.Eval(Ctx());
    if (c.type == 'L') {
      EXPECT_EQ(v.b, c.b);
      EXPECT_EQ(e.IsTrue(Ctx()), c.b);
      EXPECT_EQ(e.Key(Ctx(), 1), c.b ? "T" : "F");
    } else {
      EXPECT_DOUBLE_EQ(v.n, c.n);
      EXPECT_EQ(e.KeyLength(), 8);
      EXPECT_EQ(e.Key(Ctx(), 8), EncodeNumericKey(c.n));
    }
  }
  rec[0] = '*';
  EXPECT_TRUE(Expr::Compile("DELETED()", *dbf).IsTrue(Ctx()));
  EXPECT_TRUE(Expr::Compile(".NOT. DELETED()", *dbf).UsesDeleted());
  EXPECT_FALSE(Expr::Compile("flag", *dbf).UsesDeleted());
}

TEST_F(ExprTest, BlankFieldsGiveBlankOrZeroKeys) {
  rec = dbf->BlankRecord();
  EXPECT_EQ(Eval("DTOS(day)").s, "        ");
  EXPECT_EQ(Eval("day").n, 0);
  EXPECT_EQ(Eval("num").n, 0);
  EXPECT_FALSE(Eval("flag").b);
  EXPECT_EQ(Expr::Compile("name", *dbf).Key(Ctx(), 10), std::string(10, ' '));
}

TEST(DateNumbers, JulianDaysRoundTrip) {
  EXPECT_EQ(DateToJulian(1970, 1, 1), 2440588);
  EXPECT_EQ(DateTextToJulian("20000101"), 2451545);
  EXPECT_EQ(DateTextToJulian("20240229"), DateTextToJulian("20240228") + 1);
  EXPECT_EQ(DateTextToJulian("20230229"), 0);
  EXPECT_EQ(DateTextToJulian("2024011"), 0);
  EXPECT_EQ(DateTextToJulian("        "), 0);
  EXPECT_EQ(DateTextToJulian("2024-1-1"), 0);
  for (const char* d : {"18991231", "19991231", "20240229", "00010101", "99991231"})
    EXPECT_EQ(JulianToDateText(DateTextToJulian(d)), d);
  EXPECT_EQ(JulianToDateText(0), "        ");
}

TEST_F(ExprTest, RefusesWhatItCannotCompile) {
  const char* bad[] = {"",
                       "   ",
                       "name +",
                       "nosuch",
                       "UPPER(num)",
                       "UPPER(name",
                       "UPPER()",
                       "STR(num, name)",
                       "STR(num, 0)",
                       "LEFT(name, qty)",
                       "SUBSTR(name, 0, 2)",
                       "name + num",
                       "num - name",
                       "IIF(flag, 1, 'a')",
                       "IIF(num, 1, 2)",
                       "FOO(name)",
                       "(name",
                       "name)",
                       "'abc",
                       ".X.",
                       "flag .AND. name",
                       "flag < flag",
                       "name = 1",
                       "name @ 1",
                       "DELETED(1)",
                       "\x01\xff"};
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    try {
      Expr::Compile(text, *dbf);
      ADD_FAILURE() << "compiled";
    } catch (const XBaseError& e) {
      EXPECT_NE(std::string(e.what()).find("xpression"), std::string::npos);
    }
  }
  std::string deep(5000, '(');
  deep += "name" + std::string(5000, ')');
  EXPECT_THROW(Expr::Compile(deep, *dbf), XBaseError);
}
