#include "DeploymentValues.h"
#include "platform/Deployment.h"
#include "system/Places.h"

const Deployment &compiledDeployment() {
    static const Deployment values{QStringLiteral(PLIMBO_RELEASE_SERVICE),
                                   QStringLiteral(PLIMBO_ANALYTICS_ENDPOINT),
                                   QStringLiteral(PLIMBO_MEASUREMENT_ID),
                                   QStringLiteral(PLIMBO_SITE_ORIGIN),
                                   resolvePlace(QStringLiteral(PLIMBO_ARCHIVE_PATH)),
                                   resolvePlace(QStringLiteral(PLIMBO_INSTALL_PATH)),
                                   QStringLiteral(PLIMBO_LAUNCH_COMMAND),
                                   QStringLiteral(PLIMBO_EXTRA_CA_FILE),
                                   QByteArrayLiteral(PLIMBO_UPDATE_PUBLIC_KEY),
                                   QStringLiteral(PLIMBO_RELEASE_PLATFORM)};
    return values;
}
