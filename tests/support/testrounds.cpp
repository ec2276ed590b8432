#include "tests/support/testrounds.h"

#include <QRandomGenerator>
#include <QString>

#include <algorithm>

namespace veltrane::testsupport {

int Rounds(int rounds) {
    if (qEnvironmentVariableIntValue("VELTRANE_FEWER_ROUNDS") != 1 ||
        qEnvironmentVariableIntValue("VELTRANE_THOROUGH") == 1)
        return rounds;
    return std::max(2, rounds / 5);
}

quint32 FreshSeed() {
    bool given = false;
    const uint seed = qEnvironmentVariable("VELTRANE_SEED").toUInt(&given);
    return given ? seed : QRandomGenerator::system()->generate();
}

} // namespace veltrane::testsupport
