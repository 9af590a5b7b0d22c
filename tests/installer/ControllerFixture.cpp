#include "installer/ControllerFixture.h"

#include <QTest>
#include <QWidget>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

ControllerFixture::ControllerFixture(const TestServer &server, ControllerTimings timings) {
    deployment = compiledDeployment();
    deployment.releaseService = server.url().toString(QUrl::RemovePath);
    deployment.analyticsEndpoint = deployment.releaseService;
    deployment.extraCaFile = TestServer::caFile();
    deployment.archivePath = folder.filePath(QStringLiteral("Plimbo.tar.gz"));
    deployment.installPath = folder.filePath(QStringLiteral("Applications/Plimbo.app"));
    controller = std::make_unique<ViewController>(deployment, timings);
    controller->view()->resize(500, 300);
}

ControllerTimings ControllerFixture::shortTimings() {
    ControllerTimings timings;
    timings.requestTimeoutMs = 5000;
    timings.stallTimeoutSeconds = 2;
    timings.resumeDelayMs = 200;
    timings.windowAnimationMs = 0;
    return timings;
}

void ControllerFixture::onSessionThread(const std::function<void()> &callback) {
    std::atomic<bool> done = false;
    std::thread thread([&] {
        callback();
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000))
        << "the callback did not return within 10 s";
    thread.join();
}

QByteArray ControllerFixture::queryItem(const RecordedRequest &hit, const QByteArray &name) {
    for (const QByteArray &item : hit.query.split('&'))
        if (item.startsWith(name + '='))
            return QByteArray::fromPercentEncoding(item.mid(name.size() + 1));
    return {};
}
