#include "bridge/pjlink/PjlinkRequest.h"

#include <gtest/gtest.h>

namespace trv::bridge::pjlink {
namespace {

using Kind = PjlinkRequest::Kind;
const std::string kDigest = "0123456789abcdef0123456789abcdef";

struct ParseRow {
    const char* name;
    std::string line;
    Kind kind;
    std::string command = {};
    std::string parameter = {};
    std::string error = {};
    std::string digest = {};
    char classDigit = '1';
};

void PrintTo(const ParseRow& row, std::ostream* os) { *os << row.name; }

class Parse : public ::testing::TestWithParam<ParseRow> {};

TEST_P(Parse, ReadsTheLine) {
    const ParseRow& row = GetParam();
    const PjlinkRequest request = PjlinkRequest::parse(row.line);
    EXPECT_EQ(request.kind, row.kind);
    EXPECT_EQ(request.command, row.command);
    EXPECT_EQ(request.parameter, row.parameter);
    EXPECT_EQ(request.error, row.error);
    EXPECT_EQ(request.digest, row.digest);
    if (!row.command.empty()) {
        EXPECT_EQ(request.classDigit, row.classDigit);
    }
}

const std::string kLongest = "%1NAME " + std::string(PjlinkRequest::kMaxParameter, 'x');

INSTANTIATE_TEST_SUITE_P(
    PjlinkRequest, Parse,
    ::testing::Values(
        ParseRow{"Query", "%1POWR ?", Kind::Request, "POWR", "?"},
        ParseRow{"Set", "%1INPT 31", Kind::Request, "INPT", "31"},
        ParseRow{"LowerCaseCommand", "%1inf1 ?", Kind::Request, "INF1", "?"},
        ParseRow{"BlankInParameter", "%1NAME a b", Kind::Request, "NAME", "a b"},
        ParseRow{"Longest", kLongest, Kind::Request, "NAME", std::string(128, 'x')},
        ParseRow{"OneTooLong", kLongest + "x", Kind::Refused, "NAME", "", "ERR2"},
        ParseRow{"Digest", kDigest + "%1POWR 1", Kind::Request, "POWR", "1", "", kDigest},
        ParseRow{"UpperCaseDigest", "0123456789ABCDEF0123456789ABCDEF%1POWR 1", Kind::Request,
                 "POWR", "1", "", kDigest},
        ParseRow{"DigestAndLongest", kDigest + kLongest, Kind::Request, "NAME",
                 std::string(128, 'x'), "", kDigest},
        ParseRow{"ClassTwo", "%2SNUM ?", Kind::Request, "SNUM", "?", "", "", '2'},
        ParseRow{"ClassTwoInputName", "%2innm ?31", Kind::Request, "INNM", "?31", "", "", '2'},
        ParseRow{"ClassTwoTooLong", "%2NAME " + std::string(200, 'x'), Kind::Refused, "NAME", "",
                 "ERR2", "", '2'},
        ParseRow{"ClassTwoNoBlank", "%2FREZ1", Kind::Refused, "FREZ", "", "ERR1", "", '2'},
        ParseRow{"ClassThree", "%3SNUM ?", Kind::Refused, "SNUM", "", "ERR1", "", '3'},
        ParseRow{"ClassThreeTooLong", "%3NAME " + std::string(200, 'x'), Kind::Refused, "NAME", "",
                 "ERR1", "", '3'},
        ParseRow{"ClassZero", "%0POWR ?", Kind::Refused, "POWR", "", "ERR1", "", '0'},
        ParseRow{"NoParameter", "%1POWR", Kind::Refused, "POWR", "", "ERR2"},
        ParseRow{"EmptyParameter", "%1POWR ", Kind::Refused, "POWR", "", "ERR2"},
        ParseRow{"NoBlank", "%1POWR?", Kind::Refused, "POWR", "", "ERR1"},
        ParseRow{"FiveLetters", "%1POWRR 1", Kind::Refused, "POWR", "", "ERR1"},
        ParseRow{"ControlInParameter", std::string("%1NAME a\0b", 10), Kind::Refused, "NAME", "",
                 "ERR2"},
        ParseRow{"Empty", "", Kind::Empty}, ParseRow{"NoHeader", "POWR ?", Kind::Unreadable},
        ParseRow{"ShortCommand", "%1PO", Kind::Unreadable},
        ParseRow{"ClassLetter", "%xPOWR ?", Kind::Unreadable},
        ParseRow{"PunctuationInCommand", "%1PO?R ?", Kind::Unreadable},
        ParseRow{"Binary", std::string("\xff\x00\x25\x31\x01", 5), Kind::Unreadable},
        ParseRow{"ShortDigest", kDigest.substr(1) + "%1POWR ?", Kind::Unreadable},
        ParseRow{"DigestNotHex", std::string(32, 'g') + "%1POWR ?", Kind::Unreadable},
        ParseRow{"DigestAlone", kDigest, Kind::Unreadable, "", "", "", kDigest}),
    [](const auto& info) { return std::string(info.param.name); });

struct FormatRow {
    const char* name;
    char classDigit;
    std::string command;
    std::string value;
    std::string line;
};

TEST(PjlinkRequest, FormatsOneLineEndedByCarriageReturn) {
    const FormatRow rows[] = {
        {"answer", '1', "POWR", "OK", "%1POWR=OK\r"},
        {"upper case command", '1', "inf1", "ZEKO", "%1INF1=ZEKO\r"},
        {"value as given", '1', "NAME", "Room 4b", "%1NAME=Room 4b\r"},
        {"other class", '2', "SNUM", "ERR1", "%2SNUM=ERR1\r"},
        {"UTF-8 kept", '2', "INNM",
         "P\xc3\xb6"
         "dium",
         "%2INNM=P\xc3\xb6"
         "dium\r"},
        {"empty", '2', "RFIL", "", "%2RFIL=\r"},
        {"line ends left out", '1', "NAME", "a\r\nb\n", "%1NAME=ab\r"},
        {"binary left out", '\n', "PO\xffWR", std::string("\0x", 2), "%POWR=x\r"},
    };
    for (const FormatRow& row : rows)
        EXPECT_EQ(PjlinkRequest::format(row.classDigit, row.command, row.value), row.line)
            << row.name;
    EXPECT_EQ(PjlinkRequest::parse("%1lamp ?").reply("1200 1"), "%1LAMP=1200 1\r");
}

// Feeds `bytes` in pieces of `piece` and returns the lines in order.
std::vector<std::string> split(const std::string& bytes, std::size_t piece) {
    PjlinkRequest::Splitter splitter;
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        std::string_view rest = std::string_view(bytes).substr(at, piece);
        while (!rest.empty()) {
            rest.remove_prefix(splitter.feed(rest));
            if (splitter.complete())
                lines.push_back(splitter.take());
        }
    }
    return lines;
}

TEST(PjlinkRequest, SplitsAtEitherLineEndAndKeepsLongLinesBounded) {
    const std::string flood(100000, 'x');
    const std::string bytes = "%1POWR ?\r%1INPT ?\r\n%1NAME ?\n" + flood + "\r%1CLSS ?\r%1ERST";
    const std::vector<std::string> expected = {
        "%1POWR ?", "%1INPT ?", "", "%1NAME ?", flood.substr(0, PjlinkRequest::kMaxLine),
        "%1CLSS ?"};
    for (const std::size_t piece : {std::size_t(1), std::size_t(7), bytes.size()})
        EXPECT_EQ(split(bytes, piece), expected) << "pieces of " << piece;
}

} // namespace
} // namespace trv::bridge::pjlink
