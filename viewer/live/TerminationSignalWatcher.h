#pragma once
#include <QObject>
#include <memory>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal delivered on the thread that owns the
// watcher, so the viewer can end as if its Close button were clicked. Only one watcher may exist
// at a time; the previous handlers come back when it is destroyed.
class TerminationSignalWatcher : public QObject {
    Q_OBJECT
  public:
    explicit TerminationSignalWatcher(QObject* parent = nullptr);
    ~TerminationSignalWatcher() override;

    bool isWatching() const;

  signals:
    void terminationRequested(int signalNumber);

  private:
    void onReadable();

    struct State;
    std::unique_ptr<State> m_state;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
