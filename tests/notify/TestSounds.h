#pragma once

#include "support/ServerProcess.h"

#include <QTemporaryDir>

#include <cmath>
#include <cstdint>
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

// Writes a file into the scratch folder; its path.
inline std::string ScratchFile(const QTemporaryDir& dir, const char* name, const std::string& content)
{
    const std::string path = dir.filePath(QString::fromUtf8(name)).toStdString();
    WriteFile(path, content);
    return path;
}

} // namespace qm::test
