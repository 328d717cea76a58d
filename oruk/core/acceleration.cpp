#include "oruk/core/acceleration.hpp"

#include <QSettings>

namespace oruk {

namespace {

const QString kApplication = QStringLiteral("Oruk");

QString keyOf(Estimator estimator) {
    return estimator == Estimator::Trait ? QStringLiteral("Settings/TravikAccelerate")
                                         : QStringLiteral("Settings/PlovenAccelerate");
}

} // namespace

bool storedAcceleration(Estimator estimator) {
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kApplication,
                             kApplication);
    return settings.value(keyOf(estimator), true).toBool();
}

void storeAcceleration(Estimator estimator, bool accelerate) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kApplication, kApplication);
    settings.setValue(keyOf(estimator), accelerate);
    settings.sync();
}

QString accelerationToolTip() {
    return QStringLiteral(
        "Accelerated EM: the EM cycles take extrapolated steps that never lower the "
        "loglikelihood, so the fit usually reaches its maximum in far fewer cycles. Untick it "
        "for plain EM, one ordinary step per cycle, as a deck run from the command line without "
        "options gets.");
}

} // namespace oruk
