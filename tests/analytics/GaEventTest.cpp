#include "analytics/GaEvent.h"

#include "installer/ViewController.h"
#include "support/RawStub.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <thread>

namespace {

// A sender with a stored settings file, a fixed draw, clock and language, aimed at `stub`.
struct Sender {
    explicit Sender(const RawStub &stub, quint64 draw = 0x0000000500000000) {
        environment.settings = &settings;
        environment.random64 = [draw] { return draw; };
        environment.secondsSince1970 = [] { return 1700000000.5; };
        environment.preferredLanguages = [] { return QStringList{QStringLiteral("en-GB")}; };
        environment.analyticsEndpoint = stub.url({}).toString();
    }
    std::unique_ptr<GaEvent> make() const {
        return std::make_unique<GaEvent>(
            QStringLiteral("G-TEST"), QStringLiteral("2oe4k0"), QStringLiteral("ccd.NbB"),
            QStringLiteral("Plimbo Mac Installer"), QStringLiteral("https://o.test"),
            QStringLiteral("1.0.0"), environment);
    }
    QTemporaryDir folder;
    QSettings settings{folder.filePath(QStringLiteral("defaults.ini")), QSettings::IniFormat};
    GaEvent::Environment environment;
};

RawStub collector() {
    return RawStub({{RawStub::answer("204 No Content", "", "")}});
}

QByteArray query(const QByteArray &request) {
    const QByteArray target = request.split(' ').value(1);
    return target.mid(target.indexOf('?') + 1);
}

QByteArray item(const QByteArray &request, const QByteArray &name) {
    for (const QByteArray &pair : query(request).split('&'))
        if (pair.startsWith(name + '='))
            return QByteArray::fromPercentEncoding(pair.mid(name.size() + 1));
    return {};
}

TEST(GaEvent, HitCarriesEveryFieldEncodedOnTheWire) {
    RawStub stub = collector();
    Sender sender(stub);
    sender.make()->send(QStringLiteral("a b"),
                        {{QStringLiteral("k&=+"), QStringLiteral("a+b c&d=e#f%g/?:@!$'()*,;~é☕")}});
    const QByteArray request = stub.requests(1).value(0);
    EXPECT_TRUE(request.startsWith("POST /g/collect?")) << request.toStdString();
    EXPECT_EQ(query(request),
              "v=2&tid=G-TEST&gtm=2oe4k0&_p=5&_z=ccd.NbB&cid=5.1700000000500&ul=en-gb&sr=1920x1080"
              "&_s=1&sid=1700000000500&sct=1&seg=1&av=1.0.0&en=installer_a%20b&dl"
              "&dt=Plimbo%20Mac%20Installer"
              "&ep.k%26%3D%2B=a%2Bb%20c%26d%3De%23f%25g/?:@!$'()*,;~%C3%A9%E2%98%95");
}

TEST(GaEvent, ClientIdentifierIsStoredOnceAndReused) {
    RawStub stub = collector();
    Sender sender(stub);
    EXPECT_EQ(sender.make()->cid, "5.1700000000500");
    sender.environment.random64 = [] { return quint64(9) << 32; };
    EXPECT_EQ(sender.make()->cid, "5.1700000000500");
    EXPECT_EQ(QSettings(sender.settings.fileName(), QSettings::IniFormat)
                  .value(QStringLiteral("SOFTWARE.plimbo.Installer.CLIENT_ID")),
              "5.1700000000500");
}

// Every tenth progress callback is reported, counted across every task of the run.
TEST(GaEvent, ControllerReportsEveryTenthProgressCallback) {
    RawStub stub = collector();
    Sender sender(stub);
    ViewController controller;
    controller.gaEvent = sender.make();
    std::atomic<bool> done = false;
    std::thread session([&] {
        for (int callback = 1; callback <= 25; ++callback)
            controller.didWriteData(nullptr, nullptr, 1000, callback * 1000, 25000);
        controller.gaEvent->send(QStringLiteral("marker"));
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
    session.join();

    QMap<QByteArray, QByteArray> ticksBySequence;
    for (const QByteArray &hit : stub.requests(3))
        ticksBySequence[item(hit, "_s")] = item(hit, "en") + " " + item(hit, "ep.ticks");
    EXPECT_EQ(ticksBySequence.value("3"), "installer_marker ");
    EXPECT_EQ(ticksBySequence.value("1") + "|" + ticksBySequence.value("2"),
              "installer_download_progress_spot 10|installer_download_progress_spot 20");
}

} // namespace
