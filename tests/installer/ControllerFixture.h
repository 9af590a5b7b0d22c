#pragma once

#include "installer/ViewController.h"
#include "support/TestServer.h"

#include <QTemporaryDir>
#include <functional>
#include <memory>

// A controller whose root view is 500 x 300, with its services on one local server and its
// archive and bundle in a temporary folder; waits are short.
struct ControllerFixture {
    explicit ControllerFixture(const TestServer &server,
                               ControllerTimings timings = shortTimings());

    static ControllerTimings shortTimings();

    // Runs `callback` on a thread of its own, as the download session would, while the main
    // thread goes on serving its queue; returns when it has run.
    static void onSessionThread(const std::function<void()> &callback);

    // The decoded value of query item `name` of a recorded analytics hit.
    static QByteArray queryItem(const RecordedRequest &hit, const QByteArray &name);

    QTemporaryDir folder;
    Deployment deployment;
    std::unique_ptr<ViewController> controller;
};
