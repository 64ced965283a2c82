#include "platform/SoundPlayer.h"

#include "TestSounds.h"
#include "support/EventPump.h"

#include <gtest/gtest.h>

#include <chrono>

namespace qm {
namespace {

using namespace std::chrono_literals;
using Outcome = SoundPlayer::Outcome;
using SteadyClock = std::chrono::steady_clock;

TEST(SoundPlayerTest, FilesThatAreNotSoundAreRefusedAtOnce)
{
    test::ScratchDir dir;
    const std::string text = dir.file("notes.wav", "this is not a sound\n");
    const std::string headerOnly = dir.file("empty.wav", test::WaveFile(8000, 1, 0));
    const std::string tooManyChannels = dir.file("wide.wav", test::WaveFile(8000, 12, 100));
    SoundPlayer player;
    for (const std::string& file :
         {dir.path() + "/missing.wav", text, headerOnly, tooManyChannels, dir.path()}) {
        SCOPED_TRACE(file);
        const auto start = SteadyClock::now();
        const auto result = player.play(file);
        EXPECT_LT(SteadyClock::now() - start, 200ms);
        EXPECT_EQ(result.outcome, Outcome::FileNotPlayable);
        EXPECT_FALSE(result.reason.empty());
        EXPECT_FALSE(player.playing());
    }
}

TEST(SoundPlayerTest, GoodFileStartsOrTellsThatThereIsNoOutput)
{
    test::ScratchDir dir;
    const std::string wav = dir.file("alert.wav", test::WaveFile(22050, 2, 22050 / 4));
    SoundPlayer player;
    const auto start = SteadyClock::now();
    const auto result = player.play(wav);
    EXPECT_LT(SteadyClock::now() - start, 1s);
    if (test::MachineHasAudioOutput()) {
        EXPECT_EQ(result.outcome, Outcome::Started) << result.reason;
        EXPECT_TRUE(test::PumpEventsUntil([&] { return !player.playing(); }, 3s));
    } else {
        EXPECT_EQ(result.outcome, Outcome::NoAudioOutput) << result.reason;
        EXPECT_FALSE(result.reason.empty());
    }

    // An output that does not exist is told apart from a bad file.
    SoundPlayer nowhere("hw:97,0");
    EXPECT_EQ(nowhere.play(wav).outcome, Outcome::NoAudioOutput);
    EXPECT_EQ(nowhere.play(dir.path() + "/missing.wav").outcome, Outcome::FileNotPlayable);
}

TEST(SoundPlayerTest, PlaysInTheBackgroundAndStops)
{
    // ALSA's null output swallows the samples as fast as they come.
    test::ScratchDir dir;
    const std::string shortWav = dir.file("short.wav", test::WaveFile(8000, 1, 800));
    const std::string longWav = dir.file("long.wav", test::WaveFile(8000, 1, 8000 * 20));
    SoundPlayer player("null");
    ASSERT_EQ(player.play(shortWav).outcome, Outcome::Started);
    EXPECT_TRUE(test::PumpEventsUntil([&] { return !player.playing(); }, 3s));

    const auto start = SteadyClock::now();
    ASSERT_EQ(player.play(longWav).outcome, Outcome::Started);
    EXPECT_LT(SteadyClock::now() - start, 500ms);
    // A new sound replaces the one playing; stopping ends it.
    ASSERT_EQ(player.play(shortWav).outcome, Outcome::Started);
    const auto stopStart = SteadyClock::now();
    player.stop();
    EXPECT_LT(SteadyClock::now() - stopStart, 1s);
    EXPECT_FALSE(player.playing());
}

} // namespace
} // namespace qm
