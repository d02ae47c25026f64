#include "link/ReplyValue.h"

#include <gtest/gtest.h>
#include <sstream>

namespace trv {
namespace {

// A value in a few words, so that a row can say what it expects: "null" when there is none.
std::string describe(const std::optional<ReplyValue>& value) {
    if (!value)
        return "null";
    std::ostringstream out;
    if (const auto* read = std::get_if<ReplyValue::StatusRead>(&value->read)) {
        constexpr const char* kPower[] = {"on", "standby", "warm-up", "cooling", "fault"};
        out << "status " << ReplyValue::word(read->status) << ", power "
            << kPower[int(read->power)];
    } else if (const auto* read = std::get_if<ReplyValue::InputRead>(&value->read)) {
        out << "input " << read->number;
    } else if (const auto* read = std::get_if<ReplyValue::SettingRead>(&value->read)) {
        out << "setting " << read->words;
    } else if (const auto* read = std::get_if<ReplyValue::LampRead>(&value->read)) {
        out << "lamp " << read->hours;
    } else {
        const auto& celsius = std::get<ReplyValue::TemperatureRead>(value->read).celsius;
        out << "temp " << celsius[0] << ' ' << celsius[1] << ' ' << celsius[2];
    }
    return out.str();
}

struct ValueRow {
    const char* name;
    const char* commandText;
    std::string reply;
    const char* value;
};

void PrintTo(const ValueRow& row, std::ostream* os) { *os << row.name; }

class Value : public ::testing::TestWithParam<ValueRow> {};

TEST_P(Value, OfTheReplyAsTheCommandWentOut) {
    EXPECT_EQ(describe(ReplyValue::decode(GetParam().commandText, GetParam().reply)),
              GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, Value,
    ::testing::Values(
        ValueRow{"On", "CR0\r", "00\r", "status on, power on"},
        ValueRow{"Standby", "CR0\r", "80\r", "status standby, power standby"},
        ValueRow{"WarmUp", "CR0\r", "40\r", "status warm-up, power warm-up"},
        ValueRow{"Cooling", "CR0\r", "20\r", "status cooling, power cooling"},
        ValueRow{"PowerFault", "CR0\r", "10\r", "status power-fault, power fault"},
        ValueRow{"TempOn", "CR0\r", "08\r", "status temperature-fault, power on"},
        ValueRow{"TempPower", "CR0\r", "18\r", "status temperature-fault, power fault"},
        ValueRow{"TempStandby", "CR0\r", "88\r", "status temperature-fault, power standby"},
        ValueRow{"LampCooling", "CR0\r", "21\r", "status lamp-fault, power cooling"},
        ValueRow{"LampStandby", "CR0\r", "81\r", "status lamp-fault, power standby"},
        ValueRow{"StatusBeforeItsReturn", "CR0\r", "00", "status on, power on"},
        ValueRow{"Status99", "CR0\r", "99\r", "null"},
        ValueRow{"StatusAck", "CR0\r", "\x06", "null"},
        ValueRow{"StatusAddressed", "A001CR0\r", "00\r", "null"},
        ValueRow{"Input1", "CR1\r", "1\r", "input 1"},
        ValueRow{"Wireless", "CR1\r", "5\r", "input 5"}, ValueRow{"Input6", "CR1\r", "6\r", "null"},
        ValueRow{"Normally", "CR4\r", "11\r", "setting Normally"},
        ValueRow{"TopBottom", "CR4\r", "10\r", "setting Top/Bottom reversal"},
        ValueRow{"LeftRight", "CR4\r", "01\r", "setting Left/Right reversal"},
        ValueRow{"Both", "CR4\r", "00\r", "setting Top/Bottom , Left/Right reversal"},
        ValueRow{"Setting22", "CR4\r", "22\r", "null"},
        ValueRow{"Lamp", "CR3\r", "01234\r", "lamp 1234"},
        ValueRow{"LampZero", "CR3\r", "00000\r", "lamp 0"},
        ValueRow{"LampMost", "CR3\r", "99999\r", "lamp 99999"},
        ValueRow{"LampShort", "CR3\r", "1234\r", "null"},
        // The panel shows these, but not as a number of hours.
        ValueRow{"LampLetter", "CR3\r", "0123a\r", "null"},
        ValueRow{"LampNoReturn", "CR3\r", "012345", "null"},
        ValueRow{"Temps", "CR6\r", "025.0 024.5 026.0\r", "temp 25 24.5 26"},
        ValueRow{"TempsNegative", "CR6\r", "-05.5 041.0 036.5\r", "temp -5.5 41 36.5"},
        ValueRow{"TempsBlankPadded", "CR6\r", "  7.5  24.5 126.0\r", "temp 7.5 24.5 126"},
        ValueRow{"TempsWhole", "CR6\r", "12345 23456 34567\r", "temp 12345 23456 34567"},
        ValueRow{"TempsLetter", "CR6\r", "025.0 024.5 02x.0\r", "null"},
        ValueRow{"TempsInfinity", "CR6\r", "inf00 024.5 026.0\r", "null"},
        ValueRow{"TempsTwoPoints", "CR6\r", "02.5. 024.5 026.0\r", "null"},
        ValueRow{"TempsNoBlank", "CR6\r", "025.0x024.5 026.0\r", "null"},
        ValueRow{"TempsNoReturn", "CR6\r", "025.0 024.5 026.0 ", "null"},
        ValueRow{"TempsShort", "CR6\r", "1234 2345 3456\r", "null"},
        ValueRow{"LampModeRead", "CR7\r", "00\r", "null"},
        ValueRow{"Acknowledged", "C00\r", "\x06", "null"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace trv
