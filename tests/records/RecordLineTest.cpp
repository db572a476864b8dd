#include "records/RecordLine.h"

#include <gtest/gtest.h>

namespace {

const QDateTime kMorning(QDate(2026, 12, 7), QTime(9, 35, 41));

LineRecord abcRecord(bool passed)
{
    LineRecord r;
    r.passed = passed;
    r.imei = "356789012345678";
    r.versionStem = "ABC_";
    r.deviceVersion = "ABC_V1.0";
    r.packageVersion = "ABC_V1.1";
    r.date = FormatRecordDate(kMorning);
    return r;
}

TEST(RecordLineTest, PassLineByteForByte)
{
    EXPECT_EQ(FormatRecordDate(kMorning), "12/07/2026 09:35");
    EXPECT_EQ(FormatRecordLine(abcRecord(true), QByteArray(), kMorning),
              "356789012345678, ABC_, PASS, ABC_V1.0, 12/07/2026 09:35, Default, ABC_V1.1, "
              "Y, Y, Y, Y, Y, Y, Y, Y, Y, Y, Y, Y\r\n");
}

TEST(RecordLineTest, FailLineWithStation)
{
    EXPECT_EQ(FormatRecordLine(abcRecord(false), "station-7", kMorning),
              "356789012345678, ABC_, FAIL, ABC_V1.0, 12/07/2026 09:35, station-7, ABC_V1.1, "
              "N, N, N, N, N, N, N, N, N, N, N, N\r\n");
}

TEST(RecordLineTest, EmptyStemAndEmptyDate)
{
    LineRecord r = abcRecord(true);
    r.versionStem.clear();
    r.deviceVersion = "abc1.0";
    r.date.clear();
    const QDateTime evening(QDate(2027, 1, 2), QTime(23, 5));
    EXPECT_TRUE(FormatRecordLine(r, {}, evening)
                    .startsWith("356789012345678, , PASS, abc1.0, 01/02/2027 23:05, Default, "));
}

TEST(RecordLineTest, SeparatorsInsideFieldsKeepNineteenColumns)
{
    LineRecord r = abcRecord(true);
    r.deviceVersion = "ABC_V1.0,beta";
    r.packageVersion = "ABC\r\nV1.1";
    const QByteArray line = FormatRecordLine(r, "st,1", kMorning);
    EXPECT_EQ(line,
              "356789012345678, ABC_, PASS, ABC_V1.0;beta, 12/07/2026 09:35, st;1, ABC  V1.1, "
              "Y, Y, Y, Y, Y, Y, Y, Y, Y, Y, Y, Y\r\n");
    EXPECT_EQ(line.count(", "), 18);
    EXPECT_EQ(line.count('\n'), 1);
}

TEST(RecordLineTest, FormulaStartsAreNeutralised)
{
    EXPECT_EQ(SanitiseRecordField("=HYPERLINK(1)"), "'=HYPERLINK(1)");
    EXPECT_EQ(SanitiseRecordField("+1"), "'+1");
    EXPECT_EQ(SanitiseRecordField("-1"), "'-1");
    EXPECT_EQ(SanitiseRecordField("@SUM(A1)"), "'@SUM(A1)");
    EXPECT_EQ(SanitiseRecordField(" =1"), " '=1");
    EXPECT_EQ(SanitiseRecordField("\t=HYPERLINK(1)"), "'\t=HYPERLINK(1)");
    EXPECT_EQ(SanitiseRecordField("\tplain"), "'\tplain");
    EXPECT_EQ(SanitiseRecordField("\r=1"), " '=1");
    EXPECT_EQ(SanitiseRecordField(" \t-1"), " \t'-1");
    EXPECT_EQ(SanitiseRecordField("A-1=2"), "A-1=2");
    EXPECT_EQ(SanitiseRecordField(""), "");

    LineRecord r = abcRecord(false);
    r.imei = "=cmd|'/c calc'!A0";
    EXPECT_TRUE(FormatRecordLine(r, {}, kMorning).startsWith("'=cmd|'/c calc'!A0, ABC_, FAIL, "));
}

} // namespace
