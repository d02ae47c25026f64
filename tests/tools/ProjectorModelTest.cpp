#include "sim/ProjectorModel.h"
#include "sim/SimOptions.h"

#include <gtest/gtest.h>

namespace trv::sim {
namespace {

using Power = ProjectorModel::Power;
const std::string kAck = "\x06";

ModelOptions with(int warmup, int cooldown = 5, int id = 1, std::string fault = {}) {
    ModelOptions options;
    options.warmupSeconds = warmup;
    options.cooldownSeconds = cooldown;
    options.id = id;
    options.fault = std::move(fault);
    return options;
}

TEST(ProjectorModel, PowerStateMachineOnTheClock) {
    ProjectorModel model(with(5, 3));
    EXPECT_EQ(model.handle("CR0", 0), "80\r");
    EXPECT_EQ(model.handle("C00", 1000), kAck);
    EXPECT_EQ(model.handle("CR0", 1001), "40\r");
    EXPECT_EQ(model.handle("CR0", 5999), "40\r");
    EXPECT_EQ(model.handle("CR0", 6000), "00\r");
    EXPECT_EQ(model.handle("C00", 7000), kAck); // already on: stays on
    EXPECT_EQ(model.power(7000), Power::On);
    EXPECT_EQ(model.handle("C01", 8000), kAck);
    EXPECT_EQ(model.handle("CR0", 10999), "20\r");
    EXPECT_EQ(model.handle("CR0", 11000), "80\r");
}

TEST(ProjectorModel, PowerCommandsTheLampIsBusyWithChangeNothing) {
    ProjectorModel model(with(5, 3));
    EXPECT_EQ(model.handle("C01", 0), kAck); // off in standby
    EXPECT_EQ(model.power(0), Power::Standby);
    model.handle("C00", 1000);
    EXPECT_EQ(model.handle("C00", 5000), kAck); // on while warming: the warm-up runs on
    EXPECT_EQ(model.handle("CR0", 5999), "40\r");
    EXPECT_EQ(model.handle("CR0", 6000), "00\r");
    model.handle("C01", 7000);
    EXPECT_EQ(model.handle("C00", 8000), kAck); // on while cooling: it cools down all the same
    EXPECT_EQ(model.handle("C01", 9000), kAck); // off while cooling: the cool-down runs on
    EXPECT_EQ(model.handle("CR0", 9999), "20\r");
    EXPECT_EQ(model.handle("CR0", 10000), "80\r");
    model.handle("C00", 11000);
    EXPECT_EQ(model.handle("C01", 12000), kAck); // off while warming cools down at once
    EXPECT_EQ(model.handle("CR0", 12000), "20\r");
}

TEST(ProjectorModel, VideoMuteOnlyWhileOnAndClearedByGoingOff) {
    ProjectorModel model(with(2, 0));
    EXPECT_EQ(model.handle("C0D", 0), kAck);
    EXPECT_FALSE(model.videoMute()); // nothing lit to blank
    model.handle("C00", 0);
    model.handle("C0D", 1000);
    EXPECT_FALSE(model.videoMute()); // nor while warming up
    model.handle("C0D", 2000);
    EXPECT_TRUE(model.videoMute());
    EXPECT_EQ(model.handle("C0E", 2000), kAck);
    EXPECT_FALSE(model.videoMute());
    model.handle("AFFFC0D", 2000);
    EXPECT_TRUE(model.videoMute());
    EXPECT_EQ(model.handle("CR0", 2000), "00\r"); // the status read does not show it
    model.handle("C01", 3000);
    EXPECT_FALSE(model.videoMute());
}

TEST(ProjectorModel, FaultsOverrideTheStatus) {
    EXPECT_EQ(ProjectorModel(with(5, 5, 1, "temp")).handle("CR0", 0), "08\r");
    EXPECT_EQ(ProjectorModel(with(5, 5, 1, "lamp")).handle("CR0", 0), "21\r");
    EXPECT_EQ(ProjectorModel(with(5, 5, 1, "power")).handle("CR0", 0), "10\r");
}

TEST(ProjectorModel, ReadsAndTheirForms) {
    ProjectorModel model(with(0));
    EXPECT_EQ(model.handle("CR1", 0), "1\r");
    EXPECT_EQ(model.handle("C07", 0), kAck);
    EXPECT_EQ(model.handle("CR1", 0), "3\r");
    EXPECT_EQ(model.handle("CR3", 0), "01234\r");
    EXPECT_EQ(model.handle("C00", 0), kAck);
    EXPECT_EQ(model.handle("CR3", 2 * 3'600'000), "01236\r"); // grows while lit
    EXPECT_EQ(model.handle("CR4", 0), "11\r");
    model.handle("CF CEIL ON", 0);
    EXPECT_EQ(model.handle("CR4", 0), "10\r");
    model.handle("CF REAR ON", 0);
    EXPECT_EQ(model.handle("CR4", 0), "00\r");
    model.handle("CF CEIL OFF", 0);
    EXPECT_EQ(model.handle("CR4", 0), "01\r");
    const std::string temps = *model.handle("CR6", 0);
    ASSERT_EQ(temps.size(), 18u);
    EXPECT_EQ(temps[5], ' ');
    EXPECT_EQ(temps[11], ' ');
    EXPECT_EQ(temps.back(), '\r');
    EXPECT_EQ(model.handle("CF LAMPMODE LAMP2", 0), kAck);
    EXPECT_EQ(model.handle("CR7", 0), "000 LAMP2\r");
    EXPECT_EQ(model.handle("CR LAMPMODE", 0), "000 LAMP2\r");
    EXPECT_EQ(model.handle("CR CONT", 0), "000 0\r");
}

TEST(ProjectorModel, AcknowledgesEveryKnownCommandAndQueriesTheRest) {
    ProjectorModel model({});
    for (const char* command : {"C89", "C3C", "CF KEYDIS RC", "CF CONT 050", "CF TDOTS 1234",
                                "CF PIPSIZE 1 2", "CF INPUT3 DIGITAL"})
        EXPECT_EQ(model.handle(command, 0), kAck) << command;
    for (const char* command : {"C99", "CF CONT 0%%", "CF CONT 0500", "cr0", "", "CR NOSUCH"})
        EXPECT_EQ(model.handle(command, 0), "?\r") << command;
}

TEST(ProjectorModel, UnitAddresses) {
    ProjectorModel model(with(0, 5, 2));
    EXPECT_EQ(model.handle("A002CR0", 0), "80\r");
    EXPECT_EQ(model.handle("A001CR0", 0), std::nullopt);
    EXPECT_EQ(model.handle("A001C00", 0), std::nullopt);
    EXPECT_EQ(model.power(0), Power::Standby); // another unit's command is not carried out
    EXPECT_EQ(model.handle("AFFFC00", 0), std::nullopt);
    EXPECT_EQ(model.power(0), Power::On); // but one for all units is
    EXPECT_EQ(model.handle("A00", 0), std::nullopt);
    EXPECT_EQ(model.handle("CR0", 0), "00\r");
}

TEST(SimOptions, ParsesAndRejects) {
    std::string error;
    auto options = SimOptions::parse({"--id", "3", "--baud", "19200", "--split", "--noise", "0.5",
                                      "--hangup-after", "2.5", "--fault", "lamp"},
                                     error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->model.id, 3);
    EXPECT_EQ(options->baud, 19200);
    EXPECT_TRUE(options->split);
    EXPECT_DOUBLE_EQ(options->noise, 0.5);
    EXPECT_DOUBLE_EQ(options->hangupAfter, 2.5);
    EXPECT_EQ(options->model.fault, "lamp");
    options = SimOptions::parse({"--input", "5"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(ProjectorModel(options->model).handle("CR1", 0), "5\r");
    // Nothing given: the line speed the panel and trv-ctl use when nothing is stored.
    options = SimOptions::parse({}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->baud, 19200);
    EXPECT_FALSE(options->help || options->version);
    options = SimOptions::parse({"--version"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_TRUE(options->version);
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--id", "5"},
                                                {"--baud", "4800"},
                                                {"--input", "0"},
                                                {"--input", "6"},
                                                {"--noise", "2"},
                                                {"--fault", "fire"},
                                                {"--delay"},
                                                {"--what"},
                                                {"--warmup", "-1"},
                                                {"--hangup-after", "inf"},
                                                {"--hangup-after", "1e16"},
                                                {"--hangup-after", "1e308"},
                                                {"--hangup-after", "nan"},
                                                {"--noise", "nan"}}) {
        EXPECT_FALSE(SimOptions::parse(bad, error)) << bad[0];
        EXPECT_FALSE(error.empty());
    }
}

} // namespace
} // namespace trv::sim
