#pragma once

#include <QAudioDevice>
#include <QAudioFormat>
#include <QByteArray>
#include <QString>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Sound.h"

class QThread;

namespace ketrion {

// A WAVE file's PCM samples and their format.
struct WaveClip {
    QAudioFormat format;
    QByteArray pcm;  // whole sample frames only
    std::chrono::milliseconds duration{0};
};

// Reads a RIFF/WAVE file holding uncompressed PCM (8- or 16-bit, 1 or 2
// channels). Returns nothing for anything else, or for sizes that do not fit
// the bytes given. A data chunk that claims more bytes than the file holds is
// cut to the sample frames present.
std::optional<WaveClip> ParseWave(const QByteArray& bytes);

class SoundPlayer;

// Plays the program's WAVE resources (":/sounds/NAME.wav") on the default
// audio output. Sounds play on a private thread with its own event loop, so
// a play may be asked for from any thread and never holds up the caller. A
// new sound cuts off the one playing, as on the handheld.
//
// With no audio output (no sound server, a headless run) nothing plays and
// nothing is printed. Construct after the QCoreApplication.
class QtSound final : public Sound {
public:
    // Extra time a sound is given beyond its length, for the output's
    // start-up latency; past it the sound is ended even if the device never
    // reported the end.
    static constexpr std::chrono::milliseconds kEndMargin{500};

    // Uses the default audio output, if there is one.
    QtSound();
    // Uses `device`; a null device means silence.
    explicit QtSound(const QAudioDevice& device);
    ~QtSound() override;
    QtSound(const QtSound&) = delete;
    QtSound& operator=(const QtSound&) = delete;

    void PlayResourceSound(std::string_view name) override;

    // True when an audio output was found and sounds are played.
    bool HasOutput() const { return m_player != nullptr; }

    // The default output, probed without letting the sound server's
    // connection failure reach the log; null when there is none.
    static QAudioDevice DefaultOutput();

private:
    // The clip for `name`, loaded from the resources on first use; null for a
    // name with no (valid) resource.
    std::shared_ptr<const WaveClip> Clip(std::string_view name);

    std::mutex m_clipMutex;
    std::map<std::string, std::shared_ptr<const WaveClip>, std::less<>> m_clips;

    QThread* m_thread = nullptr;
    SoundPlayer* m_player = nullptr;  // lives on m_thread
};

}  // namespace ketrion
