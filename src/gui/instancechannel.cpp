#include "gui/instancechannel.h"

#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>
#include <memory>

#include "gui/dialogs.h"

namespace velotag::gui {

namespace {

// The message: a greeting, each path followed by NUL (a path never holds
// one), and an empty path as its end. The answer is kAnswer.
const QByteArray kGreeting = QByteArrayLiteral("velotag-open");
const QByteArray kAnswer = QByteArrayLiteral("ok\n");
// A file manager hands over a few thousand names at most.
constexpr qint64 kMaxMessage = 16 << 20;

// The paths of a complete message (its greeting already checked), or false
// while more is to come.
bool ParseMessage(const QByteArray& data, std::vector<std::string>& paths) {
  paths.clear();
  qsizetype start = kGreeting.size() + 1;
  if (data.size() < start) return false;
  while (true) {
    qsizetype end = data.indexOf('\0', start);
    if (end < 0) return false;
    if (end == start) return true;
    paths.emplace_back(data.constData() + start, static_cast<std::size_t>(end - start));
    start = end + 1;
  }
}

}  // namespace

QString InstanceChannelName(const AppPaths& paths) {
  // The same folder however it was spelt ($VELOTAG_HOME through a link).
  QString folder = PathToQString(paths.ProgramFolder);
  QString canonical = QFileInfo(folder).canonicalFilePath();
  QByteArray key = QFile::encodeName(canonical.isEmpty() ? folder : canonical) + '/' +
                   QByteArray::fromStdString(paths.ExeName);
  QByteArray id = QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16);
  // The runtime folder belongs to the user alone (mode 0700).
  QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (runtime.isEmpty()) runtime = QDir::tempPath();
  return runtime + QStringLiteral("/velotag-") + QString::fromLatin1(id) + QStringLiteral(".socket");
}

bool SendToRunningInstance(const QString& name, const std::vector<std::string>& paths,
                           int timeoutMs) {
  QByteArray message = kGreeting + '\0';
  const std::string cwd = QStringToPath(QDir::currentPath());
  for (const std::string& p : paths) {
    if (p.empty()) continue;
    // The other instance has a working folder of its own.
    std::string absolute = p[0] == '/' ? p : cwd + "/" + p;
    message += QByteArray::fromStdString(absolute) + '\0';
  }
  message += '\0';

  QLocalSocket socket;
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  QByteArray answer;
  QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  QObject::connect(&socket, &QLocalSocket::errorOccurred, &loop, &QEventLoop::quit);
  QObject::connect(&socket, &QLocalSocket::connected, &loop,
                   [&] { socket.write(message); });
  QObject::connect(&socket, &QLocalSocket::readyRead, &loop, [&] {
    answer += socket.readAll();
    if (answer.size() >= kAnswer.size()) loop.quit();
  });
  socket.connectToServer(name);
  if (socket.state() == QLocalSocket::UnconnectedState) return false;
  timer.start(timeoutMs);
  loop.exec();
  answer += socket.readAll();
  socket.abort();
  return answer.startsWith(kAnswer);
}

InstanceServer::InstanceServer(QObject* parent)
    : QObject(parent), server_(new QLocalServer(this)) {
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server_, &QLocalServer::newConnection, this, &InstanceServer::Accept);
}

bool InstanceServer::Listen(const QString& name) {
  if (server_->listen(name)) return true;
  QLocalServer::removeServer(name);
  return server_->listen(name);
}

void InstanceServer::Accept() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    auto data = std::make_shared<QByteArray>();
    auto read = [this, socket, data] {
      *data += socket->readAll();
      const QByteArray head = kGreeting + '\0';
      std::vector<std::string> paths;
      if (!data->startsWith(head.left(data->size())) || data->size() > kMaxMessage) {
        socket->abort();  // not one of ours
      } else if (ParseMessage(*data, paths)) {
        socket->write(kAnswer);
        socket->flush();
        socket->disconnectFromServer();
        emit pathsReceived(paths);
      }
    };
    connect(socket, &QLocalSocket::readyRead, this, read);
    if (socket->bytesAvailable() > 0) read();
  }
}

}  // namespace velotag::gui
