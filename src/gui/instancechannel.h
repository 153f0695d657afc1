// How a second start reaches the window that runs, beside the single-instance
// lock: a local socket in the user's runtime folder, named after the program
// folder and the executable. The second start sends its paths and ends; the
// running window adds them and comes to the front.
#pragma once

#include <QObject>
#include <QString>
#include <string>
#include <vector>

#include "library/form1.h"

class QLocalServer;

namespace velotag::gui {

// The socket's name (a full path): one per user, program folder and
// executable name, as the lock is.
QString InstanceChannelName(const AppPaths& paths);

// Hands paths (made absolute here) to the running instance; true when it
// confirmed them within timeoutMs. Runs an event loop while it waits, so the
// other end may live in this very process.
bool SendToRunningInstance(const QString& name, const std::vector<std::string>& paths,
                           int timeoutMs = 3000);

// The running instance's end: listens while it lives.
class InstanceServer : public QObject {
  Q_OBJECT

 public:
  explicit InstanceServer(QObject* parent = nullptr);
  // Only the lock holder listens, so a socket left by a crashed run is
  // removed first. False when the socket cannot be made.
  bool Listen(const QString& name);

 signals:
  // A second start's paths, possibly none (it only wants the window).
  void pathsReceived(const std::vector<std::string>& paths);

 private:
  void Accept();
  QLocalServer* server_;
};

}  // namespace velotag::gui
