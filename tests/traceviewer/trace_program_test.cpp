// kelvora-trace as a program on a port it cannot listen on: the window stays open (and says why
// on standard error too); --text says why on standard error and ends with status 1.

#include "platform/TcpListener.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

namespace kv::traceviewer {
namespace {

QProcessEnvironment offscreen() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
}

TEST(TraceProgram, TextModeSaysWhyOnStandardErrorAndFails) {
    auto taken = platform::listenTcp(0);
    ASSERT_TRUE(taken);
    const QString port = QString::number((*taken)->port());
    QProcess trace;
    trace.setProcessEnvironment(offscreen());
    trace.start(KELVORA_TRACE_PROGRAM, {"--text", "--port", port});
    ASSERT_TRUE(trace.waitForFinished(30000));
    EXPECT_EQ(trace.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(trace.exitCode(), 1);
    const QString err = QString::fromUtf8(trace.readAllStandardError());
    EXPECT_TRUE(err.contains("127.0.0.1:" + port + " dinlenemiyor")) << err.toStdString();
    EXPECT_TRUE(err.contains("(hata 10048)")) << err.toStdString();
    EXPECT_TRUE(err.contains("--port")) << err.toStdString();
    EXPECT_TRUE(QString::fromUtf8(trace.readAllStandardOutput()).isEmpty());
}

TEST(TraceProgram, WindowStaysOpenWhenThePortIsTaken) {
    auto taken = platform::listenTcp(0);
    ASSERT_TRUE(taken);
    const QString port = QString::number((*taken)->port());
    QProcess trace;
    trace.setProcessEnvironment(offscreen());
    trace.setReadChannel(QProcess::StandardError);
    trace.start(KELVORA_TRACE_PROGRAM, {"--port", port});
    ASSERT_TRUE(trace.waitForStarted(30000));
    // The reason comes first; the program is still there after it, with its window.
    const QString reason = "127.0.0.1:" + port + " dinlenemiyor";
    QString err;
    while (!err.contains(reason) && trace.waitForReadyRead(30000))
        err += QString::fromUtf8(trace.readAllStandardError());
    EXPECT_TRUE(err.contains(reason)) << err.toStdString();
    EXPECT_EQ(trace.state(), QProcess::Running) << "exit code " << trace.exitCode();
    trace.terminate();
    if (!trace.waitForFinished(10000)) {
        trace.kill();
        trace.waitForFinished(10000);
    }
}

} // namespace
} // namespace kv::traceviewer
