#include "ctl/CtlOptions.h"

#include <gtest/gtest.h>

namespace trv::ctl {
namespace {

struct UsageRow {
    const char* name;
    QStringList args;
    const char* named; // what the error must name
};

void PrintTo(const UsageRow& row, std::ostream* os) { *os << row.name; }

class Usage : public ::testing::TestWithParam<UsageRow> {};

TEST_P(Usage, RefusedNamingTheBadArgument) {
    QString error;
    EXPECT_FALSE(CtlOptions::parse(GetParam().args, error));
    EXPECT_TRUE(error.contains(QString::fromUtf8(GetParam().named))) << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    CtlOptions, Usage,
    ::testing::Values(UsageRow{"NoCommand", {}, "no command"},
                      UsageRow{"UnknownCommand", {"reboot"}, "reboot"},
                      UsageRow{"UnknownOption", {"--colour", "send", "C00"}, "--colour"},
                      UsageRow{"CarriageReturn", {"send", "C00\rC01"}, "\\x0d"},
                      UsageRow{"LineFeed", {"send", "C00", "C01\n"}, "\\x0a"},
                      UsageRow{"TooLong", {"send", QString(257, 'C')}, "256"},
                      UsageRow{"Empty", {"send", ""}, "empty"},
                      UsageRow{"UnknownRead", {"read", "voltage"}, "voltage"},
                      UsageRow{"UnknownAmongReads", {"read", "lamp", "hours", "temp"}, "\"hours\""},
                      UsageRow{"NoRead", {"read"}, "one or more of status"},
                      UsageRow{"NegativeHold", {"hold", "C30", "-1"}, "-1"},
                      UsageRow{"WordHold", {"hold", "C30", "soon"}, "soon"},
                      UsageRow{"InfiniteHold", {"hold", "C30", "inf"}, "inf"},
                      UsageRow{"ZeroHold", {"hold", "C30", "0"}, "\"0\" (seconds from 0.1"},
                      UsageRow{"ShortHold", {"hold", "C30", "0.09"}, "0.09"},
                      UsageRow{"PortZero", {"--port", "com0", "send", "C00"}, "com0"},
                      UsageRow{"PortSixteen", {"--port", "COM16", "send", "C00"}, "COM1 to COM15"},
                      UsageRow{"AddressFive", {"--address", "5", "send", "C00"}, "5"},
                      UsageRow{"Baud", {"--baud", "4800", "send", "C00"}, "4800"},
                      UsageRow{"Timeout", {"--timeout", "0", "send", "C00"}, "--timeout"},
                      UsageRow{"MissingValue", {"send", "C00", "--port"}, "--port"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CtlOptions, OptionsAnywhereAndAddressesAsTheyGoOnTheWire) {
    QString error;
    const auto options = CtlOptions::parse(
        {"read", "lamp", "--json", "--address", "3", "--port", "tcp://h:1", "--baud", "9600"},
        error);
    ASSERT_TRUE(options) << error.toStdString();
    EXPECT_EQ(options->readNames, QStringList({"lamp"}));
    EXPECT_TRUE(options->json);
    EXPECT_EQ(options->address, "A003");
    EXPECT_EQ(options->port, "tcp://h:1");
    EXPECT_EQ(options->baud, 9600);
    EXPECT_EQ(CtlOptions::parse({"--address", "all", "send", "C00"}, error)->address, "AFFF");
    EXPECT_EQ(CtlOptions::parse({"hold", "C30", "2.5"}, error)->holdSeconds, 2.5);
    EXPECT_EQ(CtlOptions::parse({"hold", "C30", "0.1"}, error)->holdSeconds, 0.1);
    EXPECT_EQ(CtlOptions::parse({"--port", "com15", "send", "C00"}, error)->port, "com15");
}

TEST(CtlOptions, ReadsInTheOrderGiven) {
    QString error;
    const auto options = CtlOptions::parse({"read", "temp", "status", "lamp", "temp"}, error);
    ASSERT_TRUE(options) << error.toStdString();
    EXPECT_EQ(options->readNames, QStringList({"temp", "status", "lamp", "temp"}));
    EXPECT_EQ(options->texts, QStringList({"CR6", "CR0", "CR3", "CR6"}));
}

TEST(CtlOptions, ShortHelpAndWordsAfterTheDoubleDash) {
    QString error;
    EXPECT_TRUE(CtlOptions::parse({"-h"}, error)->help);
    const auto options = CtlOptions::parse({"send", "--", "--json", "-h"}, error);
    ASSERT_TRUE(options) << error.toStdString();
    EXPECT_EQ(options->texts, QStringList({"--json", "-h"}));
    EXPECT_FALSE(options->json);
    EXPECT_FALSE(options->help);
}

} // namespace
} // namespace trv::ctl
