#include "analytics/GaEvent.h"

#include "analytics/ScriptedEnvironment.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSettings>
#include <gtest/gtest.h>

namespace {

const QString clientIdKey = QStringLiteral("SOFTWARE.plimbo.Installer.CLIENT_ID");

QString storedClientId(const ScriptedEnvironment &scripted) {
    return QSettings(scripted.settingsFile(), QSettings::IniFormat).value(clientIdKey).toString();
}

TEST(GaEventTest, FieldsHoldTheirInputsAndTheFixedSessionValues) {
    ScriptedEnvironment scripted;
    const auto event = scripted.run();
    using namespace installerValues;
    EXPECT_EQ(event->_tid, measurementId);
    EXPECT_EQ(event->gtm, tagBuild);
    EXPECT_EQ(event->_z, marker);
    EXPECT_EQ(event->dt, documentTitle);
    EXPECT_EQ(event->host, origin);
    EXPECT_EQ(event->av, appVersion);
    EXPECT_EQ(event->v, 2);
    EXPECT_EQ(event->sr, QSizeF(1920, 1080));
    EXPECT_EQ(event->_sessionHitsCount.load(), 0);
    EXPECT_EQ(event->sessionCount, 1);
    EXPECT_TRUE(event->seg);
    EXPECT_FALSE(event->dl.has_value());
}

TEST(GaEventTest, FirstRunGeneratesAndStoresTheClientId) {
    ScriptedEnvironment scripted;
    scripted.randomDraws = {0xFFFFFFFE00000001, 0xFFFFFFFFFFFFFFFF};
    // Exact doubles: 62.5 and 187.5 ms, each rounded away from zero.
    scripted.clockReadings = {1700000000.0625, 1700000000.1875};
    const auto event = scripted.run();
    EXPECT_EQ(event->_p, 4294967294);
    EXPECT_EQ(event->cid, QStringLiteral("4294967295.1700000000063"));
    EXPECT_EQ(event->sid, 1700000000188);
    EXPECT_EQ(storedClientId(scripted), event->cid);
}

TEST(GaEventTest, RealSourcesGiveAClientIdOfTheDocumentedForm) {
    ScriptedEnvironment scripted;
    QSettings settings(scripted.settingsFile(), QSettings::IniFormat);
    GaEvent::Environment environment;
    environment.settings = &settings;
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    const GaEvent event(QString(), QString(), QString(), QString(), QString(), QString(),
                        environment);
    const qint64 after = QDateTime::currentMSecsSinceEpoch();

    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^(0|[1-9]\\d{0,9})\\.(\\d{13})$")).match(event.cid);
    ASSERT_TRUE(match.hasMatch()) << event.cid.toStdString();
    EXPECT_LE(match.captured(1).toLongLong(), 4294967295);
    EXPECT_GE(match.captured(2).toLongLong(), before);
    EXPECT_LE(match.captured(2).toLongLong(), after + 1);
    EXPECT_GE(event.sid, match.captured(2).toLongLong());
    EXPECT_LE(event.sid, after + 1);
    EXPECT_GE(event._p, 0);
    EXPECT_LE(event._p, 4294967295);
    EXPECT_EQ(settings.value(clientIdKey).toString(), event.cid);
}

TEST(GaEventTest, LaterRunsReuseTheStoredClientIdWithANewSession) {
    ScriptedEnvironment scripted;
    scripted.randomDraws = {0x0000000100000000, 0x0000002A00000000};
    scripted.clockReadings = {1700000000.0};
    const QString firstId = scripted.run()->cid;
    ASSERT_EQ(firstId, QStringLiteral("42.1700000000000"));

    scripted.randomDraws = {0x0000000700000000};
    scripted.clockReadings = {1700000100.0};
    const auto second = scripted.run();
    EXPECT_EQ(second->cid, firstId);
    EXPECT_EQ(second->_p, 7);
    EXPECT_EQ(second->sid, 1700000100000); // the only clock reading of this run
}

TEST(GaEventTest, AStoredClientIdIsUsedAsItIsAndNothingIsWritten) {
    // Hand-written files: any write by the settings store would rewrite them in its own format.
    const QList<QPair<QByteArray, QString>> cases{
        {"; kept as written\n[General]\nSOFTWARE.plimbo.Installer.CLIENT_ID = 12.34 \n",
         QStringLiteral("12.34")},
        {"; kept as written\n[General]\nSOFTWARE.plimbo.Installer.CLIENT_ID =\n", QString()},
    };
    for (const auto &[file, expected] : cases) {
        SCOPED_TRACE(file.toStdString());
        ScriptedEnvironment scripted;
        scripted.writeSettingsFile(file);
        const auto event = scripted.run();
        EXPECT_EQ(event->cid, expected);
        EXPECT_EQ(scripted.readSettingsFile(), file);
    }
}

TEST(GaEventTest, UserLanguageIsTheFirstPreferredOneLowerCased) {
    const QList<QPair<QStringList, QString>> cases{
        {{}, QString()},
        {{QStringLiteral("en-GB"), QStringLiteral("fr")}, QStringLiteral("en-gb")},
        {{QStringLiteral("zh-Hans-CN")}, QStringLiteral("zh-hans-cn")},
        {{QStringLiteral("de_AT")}, QStringLiteral("de_at")},
        {{QString(), QStringLiteral("fr")}, QString()},
    };
    for (const auto &[languages, expected] : cases) {
        SCOPED_TRACE(languages.join(u',').toStdString());
        ScriptedEnvironment scripted;
        scripted.languages = languages;
        EXPECT_EQ(scripted.run()->ul, expected);
    }
}

TEST(GaEventTest, SessionIdRoundsMillisecondsHalfAwayFromZero) {
    // Every reading is an exact double whose product with 1000 is exact too.
    const QList<QPair<double, int64_t>> cases{
        {1700000000.0625, 1700000000063},        // 62.5 ms
        {1700000000.1875, 1700000000188},        // 187.5 ms
        {1700000000.015625, 1700000000016},      // 15.625 ms
        {1700000000.0234375, 1700000000023},     // 23.4375 ms
        {1700000000.9990234375, 1700000000999},  // 999.0234375 ms
        {1700000000.99951171875, 1700000001000}, // 999.51171875 ms
    };
    for (const auto &[seconds, milliseconds] : cases) {
        SCOPED_TRACE(seconds);
        ScriptedEnvironment scripted;
        scripted.writeSettingsFile("[General]\nSOFTWARE.plimbo.Installer.CLIENT_ID=1.2\n");
        scripted.clockReadings = {seconds};
        EXPECT_EQ(scripted.run()->sid, milliseconds);
    }
}

} // namespace
