#include "platform/SoundPlayer.h"

#include <alsa/asoundlib.h>
#include <sndfile.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace qm {

namespace {
constexpr int kChunkFrames = 1024;
constexpr unsigned kLatencyUs = 500000;
constexpr int kDrainLimitMs = 2000;

// ALSA prints its own complaints (no card, unknown PCM) to stderr; the caller
// gets the reason as a value instead.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

void SilenceAlsaOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&QuietAlsa); });
}

SoundPlayer::Start Refuse(SoundPlayer::Outcome outcome, std::string reason)
{
    return SoundPlayer::Start{outcome, std::move(reason)};
}
} // namespace

struct SoundPlayer::Playback
{
    SNDFILE* file = nullptr;
    SF_INFO info{};
    snd_pcm_t* pcm = nullptr;
    std::atomic<bool> stop{false};

    ~Playback()
    {
        if (pcm)
            snd_pcm_close(pcm);
        if (file)
            sf_close(file);
    }
};

SoundPlayer::SoundPlayer(std::string device) : m_device(std::move(device)) {}

SoundPlayer::~SoundPlayer()
{
    stop();
}

void SoundPlayer::stop()
{
    std::lock_guard lock(m_mutex);
    if (m_current)
        m_current->stop = true;
    if (m_thread.joinable())
        m_thread.join();
    m_current.reset();
}

SoundPlayer::Start SoundPlayer::play(const std::string& fileName)
{
    stop();

    struct stat st
    {
    };
    if (::stat(fileName.c_str(), &st) != 0)
        return Refuse(Outcome::FileNotPlayable, std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return Refuse(Outcome::FileNotPlayable, "not a regular file");

    auto playback = std::make_shared<Playback>();
    playback->file = sf_open(fileName.c_str(), SFM_READ, &playback->info);
    if (!playback->file)
        return Refuse(Outcome::FileNotPlayable, sf_strerror(nullptr));
    const SF_INFO& info = playback->info;
    if (info.frames <= 0)
        return Refuse(Outcome::FileNotPlayable, "the file holds no sound");
    if (info.channels < 1 || info.channels > 8 || info.samplerate < 1000 ||
        info.samplerate > 384000)
        return Refuse(Outcome::FileNotPlayable, "unsupported channel count or sample rate");

    SilenceAlsaOnce();
    // Opened without blocking so that a busy device cannot hold the caller.
    int rc =
        snd_pcm_open(&playback->pcm, m_device.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (rc < 0) {
        playback->pcm = nullptr;
        return Refuse(Outcome::NoAudioOutput, m_device + ": " + snd_strerror(rc));
    }
    rc = snd_pcm_set_params(playback->pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED,
                            static_cast<unsigned>(info.channels),
                            static_cast<unsigned>(info.samplerate), 1, kLatencyUs);
    if (rc < 0)
        return Refuse(Outcome::NoAudioOutput, m_device + ": " + snd_strerror(rc));

    std::lock_guard lock(m_mutex);
    m_current = playback;
    m_playing = true;
    m_thread = std::thread(&SoundPlayer::run, this, playback);
    return Start{Outcome::Started, {}};
}

void SoundPlayer::run(std::shared_ptr<Playback> playback)
{
    Playback& pb = *playback;
    const int channels = pb.info.channels;
    std::vector<short> samples(static_cast<std::size_t>(kChunkFrames * channels));
    bool failed = false;
    while (!pb.stop && !failed) {
        const sf_count_t frames = sf_readf_short(pb.file, samples.data(), kChunkFrames);
        if (frames <= 0)
            break;
        sf_count_t done = 0;
        while (done < frames && !pb.stop) {
            const snd_pcm_sframes_t n =
                snd_pcm_writei(pb.pcm, samples.data() + done * channels,
                               static_cast<snd_pcm_uframes_t>(frames - done));
            if (n == -EAGAIN) {
                snd_pcm_wait(pb.pcm, 100);
            } else if (n < 0) {
                if (snd_pcm_recover(pb.pcm, static_cast<int>(n), 1) < 0) {
                    failed = true;
                    break;
                }
            } else {
                done += n;
            }
        }
    }
    if (!pb.stop && !failed) {
        // Let the buffered tail play out, still listening for stop().
        snd_pcm_drain(pb.pcm);
        const auto limit =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kDrainLimitMs);
        while (snd_pcm_state(pb.pcm) == SND_PCM_STATE_DRAINING && !pb.stop &&
               std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    snd_pcm_drop(pb.pcm);
    m_playing = false;
}

} // namespace qm
