#include "gauge/tgauge.h"

#include <QTest>

using veltrane::TGauge;

class TstTGauge : public QObject {
    Q_OBJECT
private slots:
    void defaults();
};

void TstTGauge::defaults() {
    TGauge gauge;
    QCOMPARE(gauge.size(), QSize(100, 100));
}

QTEST_MAIN(TstTGauge)
#include "tst_tgauge.moc"
