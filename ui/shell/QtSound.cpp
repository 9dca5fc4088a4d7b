#include "ui/shell/QtSound.h"

#include <QAudioSink>
#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QMediaDevices>
#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

namespace ketrion {

namespace {

// The sound resources' folder in the Qt resource system.
constexpr const char* kSoundPrefix = ":/sounds/";
// No program sound is anywhere near this long; a larger resource is refused
// rather than held in memory.
constexpr qsizetype kMaxWaveBytes = 16 << 20;

std::uint32_t Le32(const char* p) {
    return qFromLittleEndian<std::uint32_t>(reinterpret_cast<const uchar*>(p));
}
std::uint16_t Le16(const char* p) {
    return qFromLittleEndian<std::uint16_t>(reinterpret_cast<const uchar*>(p));
}

}  // namespace

std::optional<WaveClip> ParseWave(const QByteArray& bytes) {
    const qsizetype size = bytes.size();
    const char* data = bytes.constData();
    if (size < 12 || size > kMaxWaveBytes || std::memcmp(data, "RIFF", 4) != 0 ||
        std::memcmp(data + 8, "WAVE", 4) != 0) {
        return std::nullopt;
    }
    int channels = 0;
    int rate = 0;
    int bits = 0;
    bool haveFormat = false;
    qsizetype at = 12;
    while (size - at >= 8) {
        const char* chunk = data + at;
        const qsizetype length = Le32(chunk + 4);
        const qsizetype body = at + 8;
        const qsizetype available = size - body;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (length < 16 || length > available) {
                return std::nullopt;
            }
            const std::uint16_t tag = Le16(chunk + 8);
            channels = Le16(chunk + 10);
            rate = static_cast<int>(Le32(chunk + 12));
            bits = Le16(chunk + 22);
            if (tag != 1 || channels < 1 || channels > 2 || rate < 1000 || rate > 192000 ||
                (bits != 8 && bits != 16)) {
                return std::nullopt;
            }
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) {
                return std::nullopt;
            }
            const qsizetype frame = channels * bits / 8;
            const qsizetype bytesHere = std::min(length, available);
            WaveClip clip;
            clip.format.setSampleRate(rate);
            clip.format.setChannelCount(channels);
            clip.format.setSampleFormat(bits == 8 ? QAudioFormat::UInt8 : QAudioFormat::Int16);
            clip.pcm = bytes.mid(body, bytesHere - bytesHere % frame);
            clip.duration = std::chrono::milliseconds(
                static_cast<long long>(clip.pcm.size() / frame) * 1000 / rate);
            return clip;
        }
        // Chunks are padded to an even length.
        if (length > available) {
            return std::nullopt;
        }
        at = body + length + (length & 1);
    }
    return std::nullopt;
}

// Owns the audio sink of the sound now playing. Lives on the sound thread; all
// of its functions run there.
class SoundPlayer final : public QObject {
public:
    explicit SoundPlayer(const QAudioDevice& device) : m_device(device), m_guard(this) {
        m_guard.setSingleShot(true);
        QObject::connect(&m_guard, &QTimer::timeout, this, [this] { Stop(); });
    }
    ~SoundPlayer() override { Stop(); }

    // Cuts off any sound playing and starts `clip`.
    void Start(std::shared_ptr<const WaveClip> clip) {
        Stop();
        m_clip = std::move(clip);
        m_buffer = new QBuffer(this);
        m_buffer->setData(m_clip->pcm);
        m_buffer->open(QIODevice::ReadOnly);
        m_sink = new QAudioSink(m_device, m_clip->format, this);
        QAudioSink* sink = m_sink;
        QObject::connect(sink, &QAudioSink::stateChanged, this, [this, sink](QAudio::State state) {
            // Idle: every byte has been handed to the output. Stopped with an
            // error: the output went away or refused the format.
            if (sink == m_sink &&
                (state == QAudio::IdleState ||
                 (state == QAudio::StoppedState && sink->error() != QAudio::NoError))) {
                Stop();
            }
        });
        m_sink->start(m_buffer);
        m_guard.start(m_clip->duration + QtSound::kEndMargin);
    }

    void Stop() {
        m_guard.stop();
        if (QAudioSink* sink = std::exchange(m_sink, nullptr)) {
            sink->disconnect(this);
            sink->stop();
            sink->deleteLater();
        }
        if (QBuffer* buffer = std::exchange(m_buffer, nullptr)) {
            buffer->deleteLater();
        }
        m_clip.reset();
    }

private:
    QAudioDevice m_device;
    QTimer m_guard;  // ends a sound whose output never reports the end
    QAudioSink* m_sink = nullptr;
    QBuffer* m_buffer = nullptr;
    std::shared_ptr<const WaveClip> m_clip;
};

namespace {

QtMessageHandler s_previousHandler = nullptr;

// Drops the sound server's complaint that it cannot be reached (the normal
// state of a headless machine); passes everything else on.
void DropSoundServerNoise(QtMsgType type, const QMessageLogContext& context,
                          const QString& message) {
    if (message.startsWith(QLatin1String("PulseAudioService:"))) {
        return;
    }
    if (s_previousHandler) {
        s_previousHandler(type, context, message);
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    }
}

}  // namespace

QAudioDevice QtSound::DefaultOutput() {
    if (!QCoreApplication::instance()) {
        return {};
    }
    static std::mutex probeMutex;
    std::lock_guard lock(probeMutex);
    s_previousHandler = qInstallMessageHandler(DropSoundServerNoise);
    QAudioDevice device = QMediaDevices::defaultAudioOutput();
    qInstallMessageHandler(s_previousHandler);
    s_previousHandler = nullptr;
    return device;
}

QtSound::QtSound() : QtSound(DefaultOutput()) {}

QtSound::QtSound(const QAudioDevice& device) {
    if (device.isNull()) {
        return;
    }
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("ketrion-sound"));
    m_player = new SoundPlayer(device);
    m_player->moveToThread(m_thread);
    m_thread->start();
}

QtSound::~QtSound() {
    if (!m_thread) {
        return;
    }
    SoundPlayer* player = m_player;
    QMetaObject::invokeMethod(
        player, [player] { delete player; }, Qt::BlockingQueuedConnection);
    m_player = nullptr;
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

std::shared_ptr<const WaveClip> QtSound::Clip(std::string_view name) {
    std::lock_guard lock(m_clipMutex);
    if (const auto found = m_clips.find(name); found != m_clips.end()) {
        return found->second;
    }
    std::shared_ptr<const WaveClip> clip;
    QFile file(QLatin1String(kSoundPrefix) +
               QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())) +
               QLatin1String(".wav"));
    if (file.open(QIODevice::ReadOnly) && file.size() <= kMaxWaveBytes) {
        if (std::optional<WaveClip> parsed = ParseWave(file.readAll())) {
            clip = std::make_shared<const WaveClip>(std::move(*parsed));
        }
    }
    // Remember misses too, so an unknown name costs one lookup.
    m_clips.emplace(std::string(name), clip);
    return clip;
}

void QtSound::PlayResourceSound(std::string_view name) {
    if (!m_player) {
        return;
    }
    std::shared_ptr<const WaveClip> clip = Clip(name);
    if (!clip || clip->pcm.isEmpty()) {
        return;
    }
    SoundPlayer* player = m_player;
    QMetaObject::invokeMethod(
        player, [player, clip] { player->Start(clip); }, Qt::QueuedConnection);
}

}  // namespace ketrion
