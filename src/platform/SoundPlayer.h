#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace qm {

// Plays a sound file in the background: play() returns at once and tells
// whether playback could be started. A new sound stops the one playing, as
// does destroying the player. Files are read with libsndfile (WAV and the
// other formats it knows) and played through ALSA.
class SoundPlayer
{
public:
    enum class Outcome
    {
        Started,
        FileNotPlayable, // missing, unreadable, not a sound file, or an odd format
        NoAudioOutput,   // the file is fine but there is nothing to play it on
    };
    struct Start
    {
        Outcome outcome = Outcome::FileNotPlayable;
        std::string reason; // why it did not start; empty when started
        bool started() const { return outcome == Outcome::Started; }
    };

    // device: the ALSA output, "default" unless a test names another.
    explicit SoundPlayer(std::string device = "default");
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    Start play(const std::string& file);
    // Stops the sound that is playing, if any; returns within about 0.2 s.
    void stop();
    bool playing() const { return m_playing.load(); }

private:
    struct Playback;
    void run(std::shared_ptr<Playback> playback);

    std::string m_device;
    std::mutex m_mutex; // guards m_thread and m_current
    std::thread m_thread;
    std::shared_ptr<Playback> m_current;
    std::atomic<bool> m_playing{false};
};

} // namespace qm
