#pragma once
// The window's end on a termination request (SIGTERM at logout or shutdown, SIGINT, SIGHUP),
// as the command line ends a job: the first request stops a running job, which ends the way a
// failure ends it (the navigator reset, the whole rows read so far put in place); then the
// event loop quits with 128 + the signal's number. A second request ends the program at once,
// removing the output files being written.
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>

class MainWindow;

class SignalEnd : public QObject {
    Q_OBJECT

public:
    // While the job ends, how often the window looks whether it may close.
    static constexpr int kPollMs = 20;

    // Takes the signals over until destroyed; `window` must outlive this object.
    explicit SignalEnd(MainWindow& window);
    ~SignalEnd() override;
    SignalEnd(const SignalEnd&) = delete;
    SignalEnd& operator=(const SignalEnd&) = delete;

    // The status the event loop quits with; 0 while no request came.
    int Status() const { return status_; }

private:
    void OnRequest();
    void QuitWhenIdle();

    MainWindow& window_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer idle_;
    int status_ = 0;
};
