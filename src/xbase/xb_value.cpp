// Dates and value helpers of the expression language.
#include "xb_value.h"

#include <cctype>
#include <cstdio>
#include <ctime>

namespace xb {

const char* typeName(Type t) {
  switch (t) {
    case Type::Char:
      return "character";
    case Type::Numeric:
      return "numeric";
    case Type::Date:
      return "date";
    case Type::Logical:
      return "logical";
  }
  return "?";
}

static bool validYmd(int y, int m, int d) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= days[m - 1] + (m == 2 && leap ? 1 : 0);
}

int32_t julianFromYmd(int y, int m, int d) {
  if (!validYmd(y, m, d)) return 0;
  // Gregorian calendar to Julian day number (Fliegel and Van Flandern).
  int a = (14 - m) / 12;
  int yy = y + 4800 - a;
  int mm = m + 12 * a - 3;
  return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

void ymdFromJulian(int32_t j, int& y, int& m, int& d) {
  int a = j + 32044;
  int b = (4 * a + 3) / 146097;
  int c = a - 146097 * b / 4;
  int dd = (4 * c + 3) / 1461;
  int e = c - 1461 * dd / 4;
  int mm = (5 * e + 2) / 153;
  d = e - (153 * mm + 2) / 5 + 1;
  m = mm + 3 - 12 * (mm / 10);
  y = 100 * b + dd - 4800 + mm / 10;
}

int32_t julianFromDtos(std::string_view s) {
  if (s.size() < 8) return 0;
  int v[8];
  for (int i = 0; i < 8; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return 0;
    v[i] = s[i] - '0';
  }
  return julianFromYmd(v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3], v[4] * 10 + v[5], v[6] * 10 + v[7]);
}

std::string dtosFromJulian(int32_t j) {
  if (j <= 0) return std::string(8, ' ');
  int y, m, d;
  ymdFromJulian(j, y, m, d);
  char buf[40];  // room for any int the compiler cannot rule out, so nothing is cut
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", y % 10000, m, d);
  return std::string(buf, 8);
}

int32_t today() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return julianFromYmd(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

int32_t ctod(std::string_view text, int pivotYear) {
  int parts[3] = {0, 0, 0};
  int digits[3] = {0, 0, 0};
  int idx = 0;
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      if (digits[idx] >= 4) return 0;
      parts[idx] = parts[idx] * 10 + (c - '0');
      ++digits[idx];
    } else if (c == '/' || c == '-' || c == '.') {
      if (digits[idx] == 0 || ++idx > 2) return 0;
    } else if (c == ' ') {
      break;
    } else {
      return 0;
    }
  }
  if (idx != 2 || digits[2] == 0) return 0;
  int month = parts[0], day = parts[1], year = parts[2];
  if (digits[2] <= 2) {
    // Sliding window: the century that puts the year within 50 years before and
    // 49 years after the pivot year.
    if (pivotYear == 0) {
      int y, m, d;
      ymdFromJulian(today(), y, m, d);
      pivotYear = y;
    }
    int low = pivotYear - 50;
    int candidate = low - (low % 100 + 100) % 100 + year;
    if (candidate < low) candidate += 100;
    year = candidate;
  }
  return julianFromYmd(year, month, day);
}

std::string dtoc(int32_t j, bool century) {
  if (j <= 0) return century ? std::string(10, ' ') : std::string(8, ' ');
  int y, m, d;
  ymdFromJulian(j, y, m, d);
  char buf[40];
  if (century)
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", m, d, y);
  else
    std::snprintf(buf, sizeof buf, "%02d/%02d/%02d", m, d, y % 100);
  return buf;
}

}  // namespace xb
