#pragma once

#include "support/ServerProcess.h"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>

namespace qm::test {

// A 16-bit PCM WAV file with a 440 Hz tone.
inline std::string WaveFile(int sampleRate, int channels, int frames)
{
    std::string bytes;
    auto put = [&](uint32_t value, int size) {
        for (int i = 0; i < size; ++i)
            bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
    };
    const uint32_t dataSize = static_cast<uint32_t>(frames * channels * 2);
    bytes += "RIFF";
    put(36 + dataSize, 4);
    bytes += "WAVEfmt ";
    put(16, 4);
    put(1, 2); // PCM
    put(static_cast<uint32_t>(channels), 2);
    put(static_cast<uint32_t>(sampleRate), 4);
    put(static_cast<uint32_t>(sampleRate * channels * 2), 4);
    put(static_cast<uint32_t>(channels * 2), 2);
    put(16, 2);
    bytes += "data";
    put(dataSize, 4);
    for (int f = 0; f < frames; ++f) {
        const auto sample =
            static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440.0 * f / sampleRate));
        for (int c = 0; c < channels; ++c)
            put(static_cast<uint16_t>(sample), 2);
    }
    return bytes;
}

// True when this machine has a sound card to play on.
inline bool MachineHasAudioOutput()
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/snd", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("pcmC", 0) == 0 && name.back() == 'p')
            return true;
    }
    return false;
}

// A scratch directory removed with the object.
class ScratchDir
{
public:
    ScratchDir()
    {
        char tmpl[] = "/tmp/qm-notify-test.XXXXXX";
        if (::mkdtemp(tmpl))
            m_path = tmpl;
    }
    ~ScratchDir()
    {
        std::error_code ec;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ec);
    }
    std::string file(const std::string& name, const std::string& content) const
    {
        const std::string path = m_path + "/" + name;
        WriteFile(path, content);
        return path;
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

} // namespace qm::test
