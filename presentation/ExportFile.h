#pragma once

#include <QFile>
#include <QIODevice>
#include <QString>

// The output of an export while it is being written: a file next to the final one, under a
// temporary name, that becomes the final file only once it is complete. Writes go straight to
// the system, so a full disk or a file-size limit is seen at the write that hits it, with the
// system's reason; a writer that ignores write results (QPdfWriter does) is still caught at
// commit(). Whatever is not committed is removed.
class ExportFile : public QIODevice
{
    Q_OBJECT

public:
    explicit ExportFile(const QString &finalPath);
    ~ExportFile() override;

    // Creates the temporary file; false with the reason in errorString().
    bool open();
    // Closes the file and renames it to the final path, replacing a former file there. False
    // with the reason in errorString() when a write failed or the rename did; the temporary file
    // is removed then and a former file stays as it was.
    bool commit();
    // Removes the temporary file.
    void discard();

    [[nodiscard]] QString finalPath() const { return m_finalPath; }
    [[nodiscard]] QString temporaryPath() const { return m_file.fileName(); }
    [[nodiscard]] bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    QString m_finalPath;
    QFile m_file;
    QString m_writeError;
};
