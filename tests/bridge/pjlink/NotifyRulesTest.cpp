// The rules of status notifications and of search answers, as tables of what was seen.
#include "bridge/pjlink/NotifyRules.h"
#include "bridge/pjlink/SearchLimiter.h"

#include <gtest/gtest.h>
#include <sstream>

namespace trv::bridge::pjlink {
namespace {

InputMap inputs(const std::string& text = InputMap::kDefault) {
    std::string error;
    return *InputMap::parse(text, error);
}

// Plays `seen` ("read 80; ack C00; input 3; down; up; serving; map 1=11") and returns every
// notification it called for, "POWR=1 ERST=002000".
std::string play(const std::string& seen) {
    NotifyRules rules(inputs());
    std::string out;
    std::stringstream steps(seen);
    std::string step;
    while (std::getline(steps, step, ';')) {
        std::stringstream words(step);
        std::string what, value;
        words >> what >> value;
        NotifyRules::Notices notices;
        if (what == "read")
            notices = rules.statusRead(*decodeStatus(value + "\r"));
        else if (what == "input")
            notices = rules.inputRead(std::stoi(value));
        else if (what == "ack")
            notices = rules.acknowledged(value);
        else if (what == "up")
            notices = rules.lineUp();
        else if (what == "down")
            rules.lineDown();
        else if (what == "serving")
            notices = rules.serving();
        else if (what == "map")
            rules.setInputs(inputs(value));
        else
            ADD_FAILURE() << "no such step: " << step;
        for (const auto& notice : notices)
            out += (out.empty() ? "" : " ") + notice.command + '=' + notice.value;
    }
    return out;
}

TEST(NotifyRules, EachChangeSeenIsNotifiedOnce) {
    const struct {
        const char* seen;
        const char* notified;
    } rows[] = {
        // Power commands acknowledged: on from standby, off while lit; the state not known yet,
        // as done.
        {"read 80; ack C00", "POWR=1"},
        {"ack C00", "POWR=1"},
        {"read 00; ack C00", ""},
        {"read 20; ack C00", ""}, // cooling ends first
        {"read 40; ack C01", "POWR=0"},
        {"ack C01", "POWR=0"},
        {"read 80; ack C01", ""},
        {"read 80; ack C00; read 40; read 00; ack C01; read 20; read 80", "POWR=1 POWR=0"},
        // Reads that find the power moved, the command having gone past the bridge.
        {"read 80", ""},
        {"read 80; read 40", "POWR=1"},
        {"read 20; read 00", "POWR=1"},
        {"read 00; read 80", "POWR=0"},
        {"read 80; read 20; read 80", ""},
        // Errors, with the power behind them; a power fault tells neither lit nor unlit.
        {"read 80; read 08", "POWR=1 ERST=002000"},
        {"read 80; read 21", "ERST=020000"},
        {"read 00; read 10; read 80", "ERST=000002 POWR=0 ERST=000000"},
        {"read 00; read 10; read 00", "ERST=000002 ERST=000000"},
        {"read 21; read 21", ""},
        // Inputs: switched through the bridge, or read changed; their codes from the map.
        {"input 1; input 3", "INPT=31"},
        {"input 1; input 1", ""},
        {"input 5", ""},
        {"input 1; input 5", "INPT=52"},
        {"ack C07", "INPT=31"},
        {"input 3; ack C07", ""},
        {"input 1; ack C08; input 4", "INPT=51"},
        {"map 1=11,2=12; input 1; input 3; input 2", "INPT=12"},
        {"ack C0D; ack CR0", ""},
        // Ready: at start, and when the line is back after it was down.
        {"serving; up", "LKUP="},
        {"serving; up; down; down; up; up", "LKUP= LKUP="},
        {"serving; down; up", "LKUP= LKUP="},
    };
    for (const auto& row : rows)
        EXPECT_EQ(play(row.seen), row.notified) << row.seen;
}

// Plays "A0+ !A100 B50-": a search from A at 0 answered (+) or not (-), A's answer out at 100.
void playSearches(const std::string& steps) {
    SearchLimiter limiter({1000, 3, 2});
    std::stringstream words(steps);
    std::string step;
    while (words >> step) {
        const bool answer = step[0] == '!';
        const std::string sender = step.substr(answer ? 1 : 0, 1);
        const std::int64_t at = std::stoll(step.substr(answer ? 2 : 1));
        if (answer) {
            limiter.answered(sender, at);
        } else {
            EXPECT_EQ(limiter.admit(sender, at), step.back() == '+') << steps << ": " << step;
        }
        EXPECT_LE(limiter.pending(), 2u) << step;
        EXPECT_LE(limiter.senders(), 3u) << step;
    }
}

TEST(SearchLimiter, OneAnswerASecondToOneSenderAndBoundsInTotal) {
    for (const char* steps : {
             // A search while the answer waits is answered by it; a second after the answer,
             // the next.
             "A0+ A999- A5000- !A5000 A5999- A6000+",
             "A0+ !A100 A1099- A1100+ !A1100",
             // Two answers waiting at most, whoever asked.
             "A0+ B0+ C0- !A10 C20+ D30- !B40 !C40 D1040+",
             // Three senders followed: a fourth waits until one has been quiet a second.
             "A0+ !A0 B0+ !B0 C0+ !C0 D500- D1000+",
             "A0+ B1+ !B1 C2+ !C2 D900- D1002+",
         })
        playSearches(steps);
}

} // namespace
} // namespace trv::bridge::pjlink
