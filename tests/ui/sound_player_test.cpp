// The WAVE reader and the sound player's behaviour without an audio output
// (the headless case every CI run is in).

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QtEndian>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "ui/shell/QtSound.h"

namespace ketrion {
namespace {

QCoreApplication& App() {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        return *app;
    }
    static int argc = 1;
    static char name[] = "sound_player_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

void Put32(QByteArray& out, std::uint32_t v) {
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}
void Put16(QByteArray& out, std::uint16_t v) {
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}

QByteArray Chunk(const char* id, const QByteArray& body, std::uint32_t claimed = UINT32_MAX) {
    QByteArray out(id, 4);
    Put32(out, claimed == UINT32_MAX ? static_cast<std::uint32_t>(body.size()) : claimed);
    out += body;
    if (body.size() % 2) {
        out += '\0';
    }
    return out;
}

QByteArray Fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
               int length = 16) {
    QByteArray body;
    Put16(body, tag);
    Put16(body, channels);
    Put32(body, rate);
    Put32(body, rate * channels * bits / 8);
    Put16(body, static_cast<std::uint16_t>(channels * bits / 8));
    Put16(body, bits);
    body.resize(length, '\0');
    return Chunk("fmt ", body);
}

QByteArray Riff(const QByteArray& chunks) {
    QByteArray out("RIFF");
    Put32(out, static_cast<std::uint32_t>(chunks.size() + 4));
    return out + "WAVE" + chunks;
}

TEST(WaveReader, AcceptsPcmAndRejectsTheRest) {
    const QByteArray samples(8820, '\x01');  // 0.2 s of 16-bit mono at 22050 Hz
    struct Case {
        const char* legend;
        QByteArray bytes;
        int pcmBytes;  // -1: refused
        int durationMs;
        int channels;
    };
    const Case cases[] = {
        {"16-bit mono", Riff(Fmt(1, 1, 22050, 16) + Chunk("data", samples)), 8820, 200, 1},
        {"8-bit stereo", Riff(Fmt(1, 2, 11025, 8) + Chunk("data", QByteArray(4410, 'x'))), 4410,
         200, 2},
        {"extended fmt and an odd chunk before data",
         Riff(Fmt(1, 1, 22050, 16, 18) + Chunk("LIST", "abc") + Chunk("data", samples)), 8820, 200,
         1},
        {"data claims more than the file holds: cut to whole frames",
         Riff(Fmt(1, 1, 22050, 16) + Chunk("data", QByteArray(6, 'x'), 1000000)).chopped(1), 4, 0,
         1},
        {"empty data", Riff(Fmt(1, 1, 22050, 16) + Chunk("data", {})), 0, 0, 1},
        {"data before fmt", Riff(Chunk("data", samples) + Fmt(1, 1, 22050, 16)), -1, 0, 0},
        {"no data chunk", Riff(Fmt(1, 1, 22050, 16)), -1, 0, 0},
        {"float samples", Riff(Fmt(3, 1, 22050, 32) + Chunk("data", samples)), -1, 0, 0},
        {"24-bit samples", Riff(Fmt(1, 1, 22050, 24) + Chunk("data", samples)), -1, 0, 0},
        {"no channels", Riff(Fmt(1, 0, 22050, 16) + Chunk("data", samples)), -1, 0, 0},
        {"rate zero", Riff(Fmt(1, 1, 0, 16) + Chunk("data", samples)), -1, 0, 0},
        {"short fmt", Riff(Fmt(1, 1, 22050, 16, 14) + Chunk("data", samples)), -1, 0, 0},
        {"chunk longer than the file",
         Riff(Fmt(1, 1, 22050, 16) + Chunk("LIST", "abcd", 0xFFFFFFF0u) + Chunk("data", samples)),
         -1, 0, 0},
        {"not RIFF", QByteArray("RIFX") + Riff({}).mid(4), -1, 0, 0},
        {"not WAVE", QByteArray("RIFF\4\0\0\0AVI "), -1, 0, 0},
        {"too short", QByteArray("RIFF"), -1, 0, 0},
        {"empty", QByteArray(), -1, 0, 0},
    };
    for (const Case& c : cases) {
        const auto clip = ParseWave(c.bytes);
        if (c.pcmBytes < 0) {
            EXPECT_FALSE(clip) << c.legend;
            continue;
        }
        ASSERT_TRUE(clip) << c.legend;
        EXPECT_EQ(clip->pcm.size(), c.pcmBytes) << c.legend;
        EXPECT_EQ(clip->duration.count(), c.durationMs) << c.legend;
        EXPECT_EQ(clip->format.channelCount(), c.channels) << c.legend;
    }
}

TEST(WaveReader, EveryTruncationOfAGoodFileIsSafe) {
    const QByteArray good = Riff(Fmt(1, 1, 22050, 16) + Chunk("data", QByteArray(64, 'x')));
    for (qsizetype n = 0; n < good.size(); ++n) {
        const auto clip = ParseWave(good.left(n));
        if (clip) {
            EXPECT_EQ(clip->pcm.size() % 2, 0) << n;
            EXPECT_LE(clip->pcm.size(), n) << n;
        }
    }
}

TEST(QtSoundHeadless, WithoutAnOutputEveryPlayReturnsQuietly) {
    App();
    ::testing::internal::CaptureStderr();
    {
        QtSound sound{QAudioDevice()};
        EXPECT_FALSE(sound.HasOutput());  // no sound thread: nothing to wait for
        sound.PlayResourceSound("PING");
        sound.PlayResourceSoundSync("REDALERT");  // 0.9 s long if it played
        sound.PlayResourceSoundSync("NO-SUCH-SOUND");
        // From another thread too: the link thread may raise sounds.
        std::thread other([&] { sound.PlayResourceSoundSync("REDALERT"); });
        other.join();
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(QtSoundHeadless, DefaultOutputProbeIsQuiet) {
    App();
    ::testing::internal::CaptureStderr();
    QtSound sound;
    sound.PlayResourceSound("WHOOSH");
    const std::string noise = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(noise.find("PulseAudio"), std::string::npos) << noise;
}

TEST(QtSoundDevice, SyncPlayEndsWithinTheSoundsLengthAndMargin) {
    App();
    QtSound sound;
    if (!sound.HasOutput()) {
        GTEST_SKIP() << "no audio output on this machine";
    }
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    sound.PlayResourceSound("PING");
    sound.PlayResourceSoundSync("REDALERT");  // cuts PING off, then plays 0.9 s
    const auto took = Clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(900) + QtSound::kSyncMargin +
                        std::chrono::milliseconds(200));
}

}  // namespace
}  // namespace ketrion
