// Formatted and free-format writing.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "textio/textio.h"

namespace pedseg {
namespace {

TEST(EditE, Examples) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double value;
    int w, d;
    const char* expected;
  } const cases[] = {
      {0.25, 15, 6, "   0.250000E+00"},
      {-0.0075, 15, 6, "  -0.750000E-02"},
      {12.345678, 15, 6, "   0.123457E+02"},
      {0.0, 15, 6, "   0.000000E+00"},
      {-0.0, 15, 6, "  -0.000000E+00"},
      {-9.999999843067494E17, 15, 8, "-0.99999998E+18"},
      {2.5, 11, 4, " 0.2500E+01"},
      {-0.001, 11, 4, "-0.1000E-02"},
      {1.5E+150, 15, 6, "   0.150000+151"},
      {-1.5E-150, 15, 6, "  -0.150000-149"},
      {-273.45123, 20, 8, "     -0.27345123E+03"},
      {2.0 / 3.0, 15, 8, " 0.66666667E+00"},
      {9.9999996, 15, 6, "   0.100000E+02"},  // rounding carries into the exponent
      {0.125, 8, 2, "0.12E+00"},              // exact tie: to even
      {0.375, 8, 2, "0.38E+00"},
      {0.1, 24, 17, " 0.10000000000000001E+00"},
      {1.0E98, 11, 4, " 0.1000E+99"},  // exponent 99 keeps the E, 100 drops it
      {1.0E99, 11, 4, " 0.1000+100"},
      {1.0E-100, 11, 4, " 0.1000E-99"},
      {1.0E-101, 11, 4, " 0.1000-100"},
      {4.9406564584124654E-324, 11, 4, " 0.4941-323"},
      {1.7976931348623157E308, 11, 4, " 0.1798+309"},
      {0.25, 12, 6, "0.250000E+00"},  // the 0 goes only when one column is missing
      {-0.25, 12, 6, "-.250000E+00"},
      {0.25, 11, 6, ".250000E+00"},
      {-0.25, 11, 6, "***********"},
      {0.25, 10, 6, "**********"},
      {std::nan(""), 15, 8, "            NaN"},
      {inf, 15, 8, "       Infinity"},
      {-inf, 15, 8, "      -Infinity"},
      {-inf, 8, 2, "    -Inf"},
      {inf, 2, 1, "**"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(edit_E(c.value, c.w, c.d), c.expected) << c.value << " in E" << c.w << "." << c.d;
  }
}

TEST(EditI, WidthAndOverflow) {
  EXPECT_EQ(edit_I(57, 4), "  57");
  EXPECT_EQ(edit_I(9999, 4), "9999");
  EXPECT_EQ(edit_I(10000, 4), "****");
  EXPECT_EQ(edit_I(-10, 2), "**");
  EXPECT_EQ(edit_I(-9, 2), "-9");
  EXPECT_EQ(edit_I(-2147483648LL, 11), "-2147483648");
}

const std::string TAB = "\t";

TEST(FormatLines, ResultFileAndConsole) {
  EXPECT_EQ(format_lines("('  Number of measured individuals =',I4)", {fmt_int(812)}),
            "  Number of measured individuals = 812\n");
  EXPECT_EQ(format_lines("('  Number of individuals in spike=',I4)", {fmt_int(37)}),
            "  Number of individuals in spike=  37\n");
  EXPECT_EQ(format_lines("(10X,' Parameter',7X,'Step')", {}), "           Parameter       Step\n");
  const std::string summary = "(1X,' Number of iteration =',I4," + std::string(25, ' ') + TAB +
                              "/'  Number of functions =',I6,/1X, ' ln LH =',E20.8)";
  EXPECT_EQ(format_lines(summary, {fmt_int(57), fmt_int(812), fmt_real(-273.45123)}),
            "  Number of iteration =  57\n"
            "  Number of functions =   812\n"
            "  ln LH =     -0.27345123E+03\n");
  // Three items for a two-parameter format: the line ends after the second
  // real, 34 characters, without the blanks of 3X.
  const char* pars = "(1X,I2,1X,2E15.6,3X,I2,1X,2E15.6)";
  EXPECT_EQ(format_lines(pars, {fmt_int(1), fmt_real(0.25), fmt_real(-0.0075)}),
            "  1    0.250000E+00  -0.750000E-02\n");
  EXPECT_EQ(format_lines(pars, {fmt_int(12), fmt_real(12.345678), fmt_real(0.5)}),
            " 12    0.123457E+02   0.500000E+00\n");
  EXPECT_EQ(format_lines("(' initial LH=',e15.8)", {fmt_real(-9.999999843067494E17)}),
            " initial LH=-0.99999998E+18\n");
}

TEST(FormatLines, ProgressBlock) {
  const std::string head = "(1X,'number of iterations =',I4," + std::string(25, ' ') + TAB +
                           "/' number of functions =',I6," + std::string(38, ' ') +
                           "/1X, 'ln LH =',E20.8)";
  EXPECT_EQ(format_lines(head, {fmt_int(12), fmt_int(187), fmt_real(-273.45123)}),
            " number of iterations =  12\n"
            " number of functions =   187\n"
            " ln LH =     -0.27345123E+03\n");
  EXPECT_EQ(format_lines("(8X,'parameter',7X,'step',15X,'parameter',7X,'step')", {}),
            "        parameter       step               parameter       step\n");
  EXPECT_EQ(format_lines("(1X,I2,1X,2E15.6,3X,I2,1X,2E15.6)",
                         {fmt_int(1), fmt_real(0.25), fmt_real(-0.0075), fmt_int(11),
                          fmt_real(1.5), fmt_real(0.1)}),
            "  1    0.250000E+00  -0.750000E-02   11    0.150000E+01   0.100000E+00\n");
}

TEST(FormatLines, ErrorLogMessages) {
  const char* bound =
      "(' ERROR OF INITIAL PARAMETER VALUE:',/,8x,a3,'=',           E11.4,/,2x,' GL=',E11.4,"
      "' GR=',E11.4)";
  EXPECT_EQ(format_lines(bound, {fmt_text("SIG  "), fmt_real(2.5), fmt_real(0.1), fmt_real(2.0)}),
            " ERROR OF INITIAL PARAMETER VALUE:\n"
            "        SIG= 0.2500E+01\n"
            "   GL= 0.1000E+00 GR= 0.2000E+01\n");
  EXPECT_EQ(format_lines("(' ERROR: P1=',E11.4)", {fmt_real(1.0)}), " ERROR: P1= 0.1000E+01\n");
  EXPECT_EQ(format_lines("(1X,'MAXIMUM NOT FOUND')", {}), " MAXIMUM NOT FOUND\n");
}

TEST(FormatLines, Descriptors) {
  // Only X blanks vanish at a line end; those of texts stay.
  EXPECT_EQ(format_lines("(5X)", {}), "\n");
  EXPECT_EQ(format_lines("('a  ',3X)", {}), "a  \n");
  EXPECT_EQ(format_lines("(3X/2X,'b')", {}), "\n  b\n");
  EXPECT_EQ(format_lines("('it''s',1x, i 3 , e 11 . 4)", {fmt_int(5), fmt_real(2.5)}),
            "it's   5 0.2500E+01\n");
  EXPECT_EQ(format_lines("(\tI3\t,\tX , I1)", {fmt_int(7), fmt_int(8)}), "  7 8\n");
  EXPECT_EQ(format_lines("(A3,'|',A6,'|',A)", {fmt_text("Tr1  "), fmt_text("ab"), fmt_text("xyz")}),
            "Tr1|    ab|xyz\n");
  EXPECT_EQ(format_lines("('a'//'b',/)", {}), "a\n\nb\n\n");
  // Texts and slashes before the descriptor that finds no item are written.
  EXPECT_EQ(format_lines("(I1,' x',/,' y',I1,' z')", {fmt_int(4)}), "4 x\n y\n");
  EXPECT_EQ(format_lines("(3E11.4)", {fmt_real(1.0), fmt_real(2.0)}), " 0.1000E+01 0.2000E+01\n");
  // More items than the format holds: it starts again on a new line.
  EXPECT_EQ(format_lines("(1X,I2)", {fmt_int(1), fmt_int(2)}), "  1\n  2\n");

  for (const char* bad : {"I4", "('abc)", "(F8.3)", "(E15)"}) {
    EXPECT_THROW(format_lines(bad, {fmt_real(1.0)}), std::invalid_argument) << bad;
  }
  EXPECT_THROW(format_lines("(I4)", {fmt_real(1.0)}), std::invalid_argument);
  EXPECT_THROW(format_lines("('x')", {fmt_int(1)}), std::invalid_argument);
}

TEST(FreeLine, Layout) {
  EXPECT_EQ(free_line({fmt_int(812)}), "         812\n");
  EXPECT_EQ(free_line({fmt_text("MAX="), fmt_int(1)}), " MAX=           1\n");
  EXPECT_EQ(free_line({fmt_text("**** END OF PROGRAM ****")}), " **** END OF PROGRAM ****\n");
  EXPECT_EQ(free_line({fmt_real(-273.45123)}), "  -2.7345123000000001E+02\n");
  EXPECT_EQ(free_line({fmt_int(3), fmt_real(0.5)}), "           3   5.0000000000000000E-01\n");
}

}  // namespace
}  // namespace pedseg
