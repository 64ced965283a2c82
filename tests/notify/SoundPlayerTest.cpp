#include "platform/SoundPlayer.h"

#include "TestSounds.h"
#include "support/EventPump.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

namespace qm {
namespace {

using namespace std::chrono_literals;
using Outcome = SoundPlayer::Outcome;
using SteadyClock = std::chrono::steady_clock;
using test::ScratchFile;
using test::WaveFile;

// True when this machine has a sound card to play on.
bool MachineHasAudioOutput()
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/snd", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("pcmC", 0) == 0 && name.back() == 'p')
            return true;
    }
    return false;
}

TEST(SoundPlayerTest, FilesThatAreNotSoundAreRefusedAtOnceWhateverTheOutput)
{
    QTemporaryDir dir;
    const std::string files[] = {dir.filePath("missing.wav").toStdString(),
                                 ScratchFile(dir, "notes.wav", "this is not a sound\n"),
                                 ScratchFile(dir, "empty.wav", WaveFile(8000, 1, 0)),
                                 ScratchFile(dir, "wide.wav", WaveFile(8000, 12, 100)), dir.path().toStdString()};
    // The file is judged before the output: a missing output is not blamed.
    SoundPlayer usual, nowhere("hw:97,0");
    for (SoundPlayer* player : {&usual, &nowhere})
        for (const std::string& file : files) {
            SCOPED_TRACE(file);
            const auto start = SteadyClock::now();
            const auto result = player->play(file);
            EXPECT_LT(SteadyClock::now() - start, 200ms);
            EXPECT_EQ(result.outcome, Outcome::FileNotPlayable);
            EXPECT_FALSE(result.reason.empty());
            EXPECT_FALSE(player->playing());
        }
}

TEST(SoundPlayerTest, GoodFilePlaysInTheBackgroundAndStopsOrTellsThatThereIsNoOutput)
{
    QTemporaryDir dir;
    const std::string wav = ScratchFile(dir, "alert.wav", WaveFile(22050, 2, 22050 / 4));
    SoundPlayer usual;
    auto start = SteadyClock::now();
    const auto result = usual.play(wav);
    EXPECT_LT(SteadyClock::now() - start, 1s);
    if (MachineHasAudioOutput()) {
        EXPECT_EQ(result.outcome, Outcome::Started) << result.reason;
        EXPECT_TRUE(test::PumpEventsUntil([&] { return !usual.playing(); }, 3s));
    } else {
        EXPECT_EQ(result.outcome, Outcome::NoAudioOutput) << result.reason;
        EXPECT_FALSE(result.reason.empty());
    }
    EXPECT_EQ(SoundPlayer("hw:97,0").play(wav).outcome, Outcome::NoAudioOutput);

    // ALSA's null output swallows the samples as fast as they come.
    const std::string longWav = ScratchFile(dir, "long.wav", WaveFile(8000, 1, 8000 * 20));
    SoundPlayer player("null");
    ASSERT_EQ(player.play(wav).outcome, Outcome::Started);
    EXPECT_TRUE(test::PumpEventsUntil([&] { return !player.playing(); }, 3s));
    start = SteadyClock::now();
    ASSERT_EQ(player.play(longWav).outcome, Outcome::Started);
    EXPECT_LT(SteadyClock::now() - start, 500ms);
    // A new sound replaces the one playing; stopping ends it.
    ASSERT_EQ(player.play(wav).outcome, Outcome::Started);
    start = SteadyClock::now();
    player.stop();
    EXPECT_LT(SteadyClock::now() - start, 1s);
    EXPECT_FALSE(player.playing());
}

} // namespace
} // namespace qm
