#include "ui/path_text.h"

#include <QByteArray>
#include <QFile>

namespace tessel::ui {

QString PathToQt(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string PathFromQt(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

QString TextToQt(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace tessel::ui
