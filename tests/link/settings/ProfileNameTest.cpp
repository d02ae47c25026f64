#include "link/settings/ProfileName.h"

#include <gtest/gtest.h>

namespace trv {
namespace {

struct NameRow {
    const char* title;
    QString name;
    const char* why; // part of the problem, empty for a good name
};

void PrintTo(const NameRow& row, std::ostream* os) { *os << row.title; }

class Names : public ::testing::TestWithParam<NameRow> {};

TEST_P(Names, AcceptedOrRefusedWithTheReason) {
    const QString problem = ProfileName::problem(GetParam().name);
    if (*GetParam().why == '\0')
        EXPECT_EQ(problem, QString());
    else
        EXPECT_TRUE(problem.contains(QString::fromUtf8(GetParam().why))) << problem.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    ProfileName, Names,
    ::testing::Values(NameRow{"Blank", QStringLiteral("Room 12"), ""},
                      NameRow{"Marks", QStringLiteral("hall-A_2.1"), ""},
                      NameRow{"Letters", QStringLiteral("Saal S\u00fcd"), ""},
                      NameRow{"Longest", QString(64, u'x'), ""},
                      NameRow{"UpAndAcross", QStringLiteral("../x"), "starts with \".\""},
                      NameRow{"Separator", QStringLiteral("a/b"), "\"/\""},
                      NameRow{"BackSeparator", QStringLiteral("a\\b"), "\"\\\""},
                      NameRow{"Hidden", QStringLiteral(".hidden"), "starts with \".\""},
                      NameRow{"Control", QStringLiteral("a\x01"), "control character"},
                      NameRow{"Tab", QStringLiteral("a\tb"), "control character"},
                      NameRow{"TooLong", QString(65, u'x'), "64"},
                      NameRow{"Empty", QString(), "needs a name"}),
    [](const auto& info) { return std::string(info.param.title); });

TEST(ProfileName, ControlCharactersArePrintedAsCodes) {
    EXPECT_EQ(ProfileName::printable(QStringLiteral("a\x01 b\x7f")),
              QStringLiteral("a\\x01 b\\x7f"));
}

} // namespace
} // namespace trv
