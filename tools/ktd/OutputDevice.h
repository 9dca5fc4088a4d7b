#pragma once

#include <QIODevice>

#include "survey/OutputFile.h"

namespace ketrion::ktd {

// A Qt device over a command's checked output file (survey/OutputFile.h), for
// Qt writers (the report's PDF) that take a device: every byte goes through
// OutputFile::Write, so a full disk or any other failed write fails the
// output's Commit with the same message every other command gives, and no
// cut file is left. A Qt writer that carries on after a failed write changes
// nothing: the output file remembers the failure.
class OutputDevice final : public QIODevice {
public:
    explicit OutputDevice(files::OutputFile& file) : m_file(file) {}
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 length) override;

private:
    files::OutputFile& m_file;
};

}  // namespace ketrion::ktd
