#include "save_file.h"

#include <QSaveFile>

bool saveFile(const QByteArray& bytes, const QString& path, std::string& error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        error = "cannot write " + path.toStdString() + ": " + file.errorString().toStdString();
        return false;
    }
    return true;
}
