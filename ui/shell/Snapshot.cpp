#include "ui/shell/Snapshot.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPixmap>
#include <QStandardPaths>
#include <QWidget>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

// libjpeg's header needs FILE and size_t declared first.
#include <jpeglib.h>

#include "platform/Sound.h"
#include "survey/RegularFile.h"
#include "ui/shell/Services.h"
#include "ui/shell/SnapshotCounter.h"
#include "ui/siteview/Dialogs.h"

namespace ketrion {

std::string g_strJpegError;

namespace {

// Message of a file that cannot be created; the opening quote follows "file"
// without a space, as users have always seen it.
constexpr const char* kCantOpenFormat = "Can't open file\"%s\"";
// Shown when the capture cannot be taken or its buffer not allocated.
constexpr const char* kCaptureFailed = "Cannot capture the screen for the snapshot.";

// The standard error manager with the recovery point of one compression.
struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf recovery;
};

void OutputMessage(j_common_ptr cinfo) {
    char buffer[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, buffer);
    g_strJpegError = buffer;
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    (*cinfo->err->output_message)(cinfo);
    auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    std::longjmp(manager->recovery, 1);
}

void ResetErrorManager(j_common_ptr cinfo) {
    cinfo->err->num_warnings = 0;
    cinfo->err->msg_code = 0;
    g_strJpegError.clear();
}

// Everything WriteJpeg owns, so the recovery path releases it the same way as
// the normal end. Kept out of the function that calls setjmp so no local
// changed after setjmp is read after longjmp.
struct Compression {
    jpeg_compress_struct cinfo{};
    JpegErrorManager error{};
    FILE* file = nullptr;
    bool created = false;

    void Release() {
        if (created) {
            jpeg_destroy_compress(&cinfo);
            created = false;
        }
        if (file != nullptr) {
            std::fclose(file);
            file = nullptr;
        }
    }
};

bool Compress(Compression& c, int width, int height, int quality, const std::uint8_t* bottomUpRgb) {
    c.cinfo.err = jpeg_std_error(&c.error.pub);
    c.error.pub.error_exit = ErrorExit;
    c.error.pub.output_message = OutputMessage;
    c.error.pub.reset_error_mgr = ResetErrorManager;
    if (setjmp(c.error.recovery) != 0) {
        return false;
    }
    jpeg_create_compress(&c.cinfo);
    c.created = true;
    jpeg_stdio_dest(&c.cinfo, c.file);
    c.cinfo.image_width = static_cast<JDIMENSION>(width);
    c.cinfo.image_height = static_cast<JDIMENSION>(height);
    c.cinfo.input_components = 3;
    c.cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c.cinfo);
    jpeg_set_quality(&c.cinfo, quality, TRUE);
    jpeg_start_compress(&c.cinfo, TRUE);
    const std::size_t stride = static_cast<std::size_t>(width) * 3;
    while (c.cinfo.next_scanline < c.cinfo.image_height) {
        // The rows are stored bottom-up: image row u is stored row height-1-u.
        const std::size_t stored = static_cast<std::size_t>(height) - 1 - c.cinfo.next_scanline;
        JSAMPROW row = const_cast<JSAMPROW>(bottomUpRgb + stored * stride);
        jpeg_write_scanlines(&c.cinfo, &row, 1);
    }
    jpeg_finish_compress(&c.cinfo);
    return true;
}

void WriteSnapshotCounter(const QString& folder, long long next) {
    QDir().mkpath(folder);
    QFile file(QDir(folder).filePath(QString::fromLatin1(kSnapshotCounterFile)));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return;  // not writable: silently not updated
    }
    file.write(QByteArray::number(next) + '\n');
}

// Restores the cursor on every way out of the command.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

bool WriteJpeg(const std::string& path, int width, int height, int quality,
               const std::uint8_t* bottomUpRgb) {
    if (width <= 0 || height <= 0 || bottomUpRgb == nullptr) {
        g_strJpegError = "Empty picture";
        return false;
    }
    Compression c;
    // The guarded open: a named pipe or a device chosen as the picture is
    // refused at once instead of waited on.
    files::OpenFailure failure;
    const int fd = files::OpenRegular(path, O_WRONLY | O_CREAT | O_TRUNC, 0666, failure);
    c.file = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (c.file == nullptr && fd >= 0) {
        ::close(fd);
    }
    if (c.file == nullptr) {
        char message[4096];
        std::snprintf(message, sizeof message, kCantOpenFormat, path.c_str());
        g_strJpegError = message;
        return false;
    }
    const bool ok = Compress(c, width, height, quality, bottomUpRgb);
    c.Release();
    return ok;
}

QString SnapshotCounterFolder() {
    const QByteArray xdg = qgetenv("XDG_DATA_HOME");
    if (!xdg.isEmpty()) {
        return QDir(QString::fromLocal8Bit(xdg)).filePath(QStringLiteral("ketrion"));
    }
    return QDir(QDir::homePath()).filePath(QStringLiteral(".local/share/ketrion"));
}

int ReadSnapshotCounter(const QString& counterPath) {
    QFile file(counterPath);
    if (!file.open(QIODevice::ReadOnly)) {
        return 1;
    }
    const QByteArray head = file.read(static_cast<qint64>(kCounterLineMax));
    return ParseSnapshotCounter(head.constData(), static_cast<std::size_t>(head.size()));
}

QString SnapshotFileName(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "kt%06d.jpg", number);
    return QString::fromLatin1(name);
}

QImage FitCaptureToSnapshot(const QImage& capture) {
    if (capture.isNull() || capture.width() <= 0 || capture.height() <= 0) {
        return {};
    }
    QImage source = capture.convertToFormat(QImage::Format_RGB888);
    if (source.width() != kSnapshotWidth) {
        const long long scaledHeight =
            static_cast<long long>(source.height()) * kSnapshotWidth / source.width();
        source = source.scaled(kSnapshotWidth, static_cast<int>(std::max(1LL, scaledHeight)),
                               Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (source.isNull()) {
            return {};
        }
    }
    QImage out(kSnapshotWidth, kSnapshotHeight, QImage::Format_RGB888);
    if (out.isNull()) {
        return {};
    }
    out.fill(Qt::black);
    // The lowest 265 rows; a shorter capture sits at the bottom, black above.
    const int rows = std::min(source.height(), kSnapshotHeight);
    const int fromRow = source.height() - rows;
    const int toRow = kSnapshotHeight - rows;
    for (int r = 0; r < rows; ++r) {
        std::memcpy(out.scanLine(toRow + r), source.constScanLine(fromRow + r),
                    static_cast<std::size_t>(kSnapshotWidth) * 3);
    }
    return out;
}

QImage SnapshotPicture(const QImage& capture) {
    if (capture.isNull() || capture.width() <= 0 || capture.height() <= 0) {
        return {};
    }
    // A 240-wide view is the handheld's screen: its picture keeps its size.
    const qreal ratio = capture.devicePixelRatio() > 0 ? capture.devicePixelRatio() : 1.0;
    if (qRound(capture.width() / ratio) == kSnapshotWidth) {
        return FitCaptureToSnapshot(capture);
    }
    QImage picture = capture.convertToFormat(QImage::Format_RGB888);
    picture.setDevicePixelRatio(1.0);
    return picture;
}

void TakeSnapshot(QWidget& activeView, Sound& sound, Dialogs& dialogs,
                  const QString& counterFolder) {
    sound.PlayResourceSound("CAMERA");

    // The picture is taken now, before the save dialog covers the view.
    const QImage picture = SnapshotPicture(activeView.grab().toImage());
    const int width = picture.width();
    const int height = picture.height();
    std::vector<std::uint8_t> buffer;
    if (!picture.isNull()) {
        try {
            buffer.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
        } catch (const std::bad_alloc&) {
            buffer.clear();
        }
    }
    if (buffer.empty()) {
        dialogs.Message(QString::fromLatin1(kCaptureFailed));
        return;
    }
    // The encoder takes its rows bottom-up, as a screen capture stores them.
    const std::size_t stride = static_cast<std::size_t>(width) * 3;
    for (int row = 0; row < height; ++row) {
        std::memcpy(buffer.data() + static_cast<std::size_t>(height - 1 - row) * stride,
                    picture.constScanLine(row), stride);
    }

    const QString counterPath =
        QDir(counterFolder).filePath(QString::fromLatin1(kSnapshotCounterFile));
    const int number = ReadSnapshotCounter(counterPath);

    FileDialogRequest request;
    request.filter = QStringLiteral("Snapshot JPEG (*.jpg)|*.jpg|All Files (*.*)|*.*||");
    request.defaultExtension = QStringLiteral(".JPG");
    request.initialName = SnapshotFileName(number);
    request.mustExist = true;
    const std::optional<QString> chosen = dialogs.SaveFile(request);
    if (!chosen) {
        return;
    }

    bool written = false;
    {
        WaitCursor wait;
        written =
            WriteJpeg(QFile::encodeName(*chosen).toStdString(), width, height, 100, buffer.data());
        // The counter advances from the number read, whatever name was chosen
        // and even when the write failed.
        WriteSnapshotCounter(counterFolder, static_cast<long long>(number) + 1);
    }
    // Shown after the wait cursor is gone, so the box gets the normal pointer.
    if (!written) {
        dialogs.Message(QString::fromLocal8Bit(g_strJpegError.c_str()));
    }
}

void TakeSnapshot(QWidget& activeView, Services& services, Dialogs& dialogs) {
    TakeSnapshot(activeView, services.sound, dialogs, SnapshotCounterFolder());
}

}  // namespace ketrion
